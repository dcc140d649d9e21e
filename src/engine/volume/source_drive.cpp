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

// "IMAGE@N" names partition N of IMAGE; a path that exists as given is never split.
struct TSourceName {
  std::string Path;
  int Partition = 0;
};

TSourceName SplitSource(const std::string& Source) {
  const std::size_t at = Source.rfind('@');
  std::error_code ec;
  if (at == std::string::npos || at == 0 || at + 1 == Source.size() || at + 4 < Source.size() ||
      std::filesystem::exists(Source, ec)) {
    return {Source, 0};
  }
  for (std::size_t i = at + 1; i < Source.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(Source[i]))) return {Source, 0};
  const int number = std::stoi(Source.substr(at + 1));
  return number > 0 ? TSourceName{Source.substr(0, at), number} : TSourceName{Source, 0};
}

std::string PartitionName(const TDiskObject& Disk) {
  return Disk.SourcePath + "@" + std::to_string(Disk.Partition) + " (" + std::string(1, Disk.Letter) + ": " +
         (Disk.FileSystemName.empty() ? "unknown" : Disk.FileSystemName) + ")";
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
  const std::string path = SplitSource(Source).Path;
  const std::string wanted = Canonical(path);
  for (const auto& d : Listing.Drives) {
    if (Canonical(d.Source) == wanted) return true;
    taken.insert(d.Letter);
  }
  std::string why;
  if (!platform::TVolumeSource::Open(path, &why)) {
    Error = Source + ": " + why;
    return false;
  }
  char free = 'a';
  while (free <= 'z' && taken.count(free)) ++free;
  if (free > 'z') {
    Error = Source + ": no free drive letter left for it";
    return false;
  }
  platform::TDriveSpec drive;
  drive.Letter = free;
  drive.Source = path;
  Listing.Drives.push_back(std::move(drive));
  ExpandPartitions(Listing);
  return true;
}

TDiskObject* FindSourceDisk(const TDiskList& List, const std::string& Source, std::string& Error) {
  const auto letter = SourceLetter(Source);
  const TSourceName name = letter ? TSourceName{} : SplitSource(Source);
  const std::string wanted = letter ? std::string() : Canonical(name.Path);
  std::vector<TDiskObject*> matches;
  for (int i = 0; i < List.DiskCount(); ++i) {
    TDiskObject* disk = List.GetDisk(i);
    if (letter ? disk->Letter == *letter : Canonical(disk->SourcePath) == wanted) {
      if (letter || name.Partition == disk->Partition) return disk;
      if (name.Partition == 0) matches.push_back(disk);
    }
  }
  if (matches.size() == 1) return matches.front();
  if (matches.size() > 1) {
    Error = Source + ": holds several partitions; name one as IMAGE@N:";
    for (const TDiskObject* disk : matches) Error += "\n  " + PartitionName(*disk);
    return nullptr;
  }
  Error = Source + ": " + (letter               ? "no such drive"
                           : name.Partition > 0 ? "no FAT, exFAT or NTFS partition with that number"
                                                : "not a drive that can be scanned");
  // The list knows why a drive it was given did not become a disk.
  for (const auto& e : List.Errors())
    if (e.find(Source) != std::string::npos) Error = e;
  return nullptr;
}

}  // namespace kestrine
