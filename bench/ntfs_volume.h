#pragma once
// The NTFS benchmark volume: 20,200 folders, 480,000 files, half of the files deleted, written through
// an ntfs-3g mount (minutes; root and /dev/fuse). The scan benchmarks share it.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "bench_support.h"

namespace bench::ntfs {

namespace fs = std::filesystem;

constexpr int kTopFolders = 200;
constexpr int kSubFolders = 100;        // in each top folder
constexpr int kFilesPerFolder = 24;     // in each sub folder; every other one is deleted
constexpr int kNonResidentEvery = 12;   // one file in twelve has data outside its record
constexpr long long kDeletedFiles = 1LL * kTopFolders * kSubFolders * kFilesPerFolder / 2;

inline bool WriteFile(const fs::path& Path, const std::string& Data) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, Data.data(), Data.size()) == static_cast<ssize_t>(Data.size());
  return ::close(fd) == 0 && written;
}

// Everything is written first and deleted last, so no deleted record is taken again.
inline bool FillVolume(const fs::path& Mount) {
  const std::string big(5000, 'x');
  long long n = 0;
  for (int t = 0; t < kTopFolders; ++t) {
    std::fprintf(stderr, "\rwriting folder %d of %d", t + 1, kTopFolders);
    const fs::path top = Mount / ("dir " + std::to_string(t));
    fs::create_directory(top);
    for (int s = 0; s < kSubFolders; ++s) {
      const fs::path sub = top / ("sub " + std::to_string(s));
      fs::create_directory(sub);
      for (int f = 0; f < kFilesPerFolder; ++f, ++n) {
        const std::string data = n % kNonResidentEvery == 0 ? big : "file " + std::to_string(n) + "\n";
        if (!WriteFile(sub / ("file " + std::to_string(f) + ".txt"), data)) return false;
      }
    }
  }
  std::fprintf(stderr, "\ndeleting ...\n");
  for (int t = 0; t < kTopFolders; ++t)
    for (int s = 0; s < kSubFolders; ++s)
      for (int f = 0; f < kFilesPerFolder; f += 2)
        if (::unlink((Mount / ("dir " + std::to_string(t)) / ("sub " + std::to_string(s)) /
                      ("file " + std::to_string(f) + ".txt")).c_str()) != 0)
          return false;
  return true;
}

inline bool MakeVolume(const fs::path& Image) {
  const fs::path mount = Image.parent_path() / (Image.filename().string() + ".mnt");
  fs::create_directories(mount);
  const auto unmount = [&] { return Shell("fusermount -u " + Quote(mount) + " || umount " + Quote(mount)); };
  bool made = Shell("truncate -s 2G " + Quote(Image)) && Shell("mkntfs -F -Q -q -L NTFSBENCH " + Quote(Image)) &&
              Shell("ntfs-3g -o big_writes " + Quote(Image) + " " + Quote(mount));
  if (made) {
    made = FillVolume(mount);
    made = unmount() && made;
  }
  fs::remove(mount);
  return made;
}

// The volume at Given, made there when it does not exist; without Given, one made in a work folder
// that Folder keeps until the end. Empty after saying why when there is none.
inline fs::path Volume(const char* Given, std::optional<TWorkFolder>& Folder, const char* Program) {
  if (!Given) {
    Folder.emplace(std::string("kestrine-") + Program, nullptr);
    if (Folder->Path().empty()) {
      std::fprintf(stderr, "%s: no work folder\n", Program);
      return {};
    }
  }
  const fs::path image = Given ? fs::path(Given) : Folder->Path() / "volume.img";
  if (fs::exists(image)) return image;
  std::fprintf(stderr, "building the volume %s through ntfs-3g (minutes) ...\n", image.c_str());
  if (MakeVolume(image)) return image;
  std::fprintf(stderr, "%s: mkntfs, ntfs-3g or writing through the mount failed\n", Program);
  return {};
}

}  // namespace bench::ntfs
