#include "engine/volume/source_drive.h"

#include <cctype>
#include <filesystem>
#include <set>

#include "platform/volume_source.h"

namespace kestrine {
namespace {

// One file named two ways ("./a.img", "/tmp/a.img") is one drive.
std::string Canonical(const std::string& Path) {
  std::error_code ec;
  const auto p = std::filesystem::weakly_canonical(Path, ec);
  return ec ? Path : p.string();
}

}  // namespace

std::optional<char> SourceLetter(const std::string& Source) {
  const bool letter = (Source.size() == 1 || (Source.size() == 2 && Source[1] == ':')) &&
                      std::isalpha(static_cast<unsigned char>(Source[0]));
  if (!letter) return std::nullopt;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(Source[0])));
}

bool AddSourceDrive(TDriveListing& Listing, const std::string& Source, std::string& Error) {
  if (SourceLetter(Source)) return true;
  std::set<char> taken;
  const std::string wanted = Canonical(Source);
  for (const auto& d : Listing.Drives) {
    if (Canonical(d.Source) == wanted) return true;
    taken.insert(d.Letter);
  }
  std::string why;
  if (!platform::TVolumeSource::Open(Source, &why)) {
    Error = Source + ": " + why;
    return false;
  }
  char free = 'a';
  while (free <= 'z' && taken.count(free)) ++free;
  if (free > 'z') {
    Error = Source + ": no free drive letter left for it";
    return false;
  }
  Listing.Drives.push_back({free, Source, "", platform::TDriveType::Fixed});
  return true;
}

TDiskObject* FindSourceDisk(const TDiskList& List, const std::string& Source, std::string& Error) {
  const auto letter = SourceLetter(Source);
  const std::string wanted = letter ? std::string() : Canonical(Source);
  for (int i = 0; i < List.DiskCount(); ++i) {
    TDiskObject* disk = List.GetDisk(i);
    if (letter ? disk->Letter == *letter : Canonical(disk->SourcePath) == wanted) return disk;
  }
  Error = Source + ": " + (letter ? "no such drive" : "not a drive that can be scanned");
  // The list knows why a drive it was given did not become a disk.
  for (const auto& e : List.Errors())
    if (e.find(Source) != std::string::npos) Error = e;
  return nullptr;
}

}  // namespace kestrine
