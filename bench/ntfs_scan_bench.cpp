// Scanning a generated NTFS volume of about 500,000 MFT records (20,200 folders, 480,000 files, half of
// the files deleted) beside `ntfsundelete --scan` and `fls -rd` on the same image.
// The volume is written through an ntfs-3g mount, which takes minutes and needs root and /dev/fuse; an
// image made before is used again when given. Every time is the best of five rounds, each ours in a
// fresh process, memory the highest peak; fls takes minutes on this volume, so it runs once
// (KESTRINE_BENCH_NO_FLS=1 leaves it out).
// Usage: ntfs_scan_bench [IMAGE]   (default: an image in a fresh folder under $TMPDIR, removed at the end;
//                                   a given IMAGE that does not exist is made there and kept)

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
using bench::TRun;

constexpr int kTopFolders = 200;
constexpr int kSubFolders = 100;        // in each top folder
constexpr int kFilesPerFolder = 24;     // in each sub folder; every other one is deleted
constexpr int kNonResidentEvery = 12;   // one file in twelve has data outside its record
constexpr int kRounds = 5;
constexpr long long kDeletedFiles = 1LL * kTopFolders * kSubFolders * kFilesPerFolder / 2;
// Peak memory of a scan per deleted file found, at most.
constexpr double kTargetBytesPerFound = 350;

bool WriteFile(const fs::path& Path, const std::string& Data) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, Data.data(), Data.size()) == static_cast<ssize_t>(Data.size());
  return ::close(fd) == 0 && written;
}

// Everything is written first and deleted last, so no deleted record is taken again.
bool FillVolume(const fs::path& Mount) {
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

bool MakeVolume(const fs::path& Image) {
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

}  // namespace

int main(int argc, char** argv) {
  // Only an image of our own lives in a work folder; a given one is kept where it is.
  std::optional<bench::TWorkFolder> folder;
  if (argc < 2) {
    folder.emplace("kestrine-ntfs-scan-bench", nullptr);
    if (folder->Path().empty()) {
      std::perror("ntfs_scan_bench: no work folder");
      return 1;
    }
  }
  const fs::path image = folder ? folder->Path() / "volume.img" : fs::path(argv[1]);
  if (!fs::exists(image)) {
    std::fprintf(stderr, "building the volume %s through ntfs-3g (minutes) ...\n", image.c_str());
    if (!MakeVolume(image)) {
      std::fprintf(stderr, "ntfs_scan_bench: mkntfs, ntfs-3g or writing through the mount failed\n");
      return 1;
    }
  }
  Shell("cat " + Quote(image) + " > /dev/null");  // every side reads from the page cache

  // Rounds take turns, so a slow spell of the machine falls on every side alike. The whole command
  // lists every find into /dev/null.
  constexpr const char* kFormats[] = {"table", "csv", "json"};
  ::setenv("KESTRINE_DRIVES", "", 1);
  TRun ours, undelete, fls, cli[std::size(kFormats)];
  bool undeleteRan = true, scanned = true, cliRan[std::size(kFormats)] = {true, true, true};
  std::int64_t found = 0;
  for (int round = 0; round < kRounds; ++round) {
    undeleteRan = undeleteRan && bench::RunTool({"ntfsundelete", "--scan", image.string()}, undelete);
    scanned = scanned && bench::ScanInFreshProcess(image.string(), kestrine::TFileSystemKind::Ntfs, ours, found);
    for (std::size_t f = 0; f < std::size(kFormats); ++f)
      cliRan[f] = cliRan[f] && bench::RunTool({KESTRINE_CLI_PATH, "scan", image.string(), "--format", kFormats[f]}, cli[f]);
  }
  const bool flsRan = !std::getenv("KESTRINE_BENCH_NO_FLS") && bench::RunTool({"fls", "-rd", image.string()}, fls);
  if (!scanned) {
    std::fprintf(stderr, "ntfs_scan_bench: %s was not scanned as NTFS\n", image.c_str());
    return 1;
  }
  std::printf("NTFS, %d folders, %d files, %lld of them deleted\n", kTopFolders * (kSubFolders + 1),
              kTopFolders * kSubFolders * kFilesPerFolder, kDeletedFiles);
  const double bytesPerFound = found ? ours.PeakMiB * 1024.0 * 1024.0 / static_cast<double>(found) : 0.0;
  std::printf("%-28s %10s %10s %14s %14s\n", "", "seconds", "peak MiB", "deleted found", "bytes per found");
  std::printf("%-28s %10.3f %10.1f %14lld %14.0f   (target: at most %.0f, ratio %.2f)\n", "kestrine scan",
              ours.Seconds, ours.PeakMiB, static_cast<long long>(found), bytesPerFound, kTargetBytesPerFound,
              bytesPerFound / kTargetBytesPerFound);
  const auto row = [](const char* Name, bool Ran, const TRun& Run) {
    if (Ran)
      std::printf("%-28s %10.3f %10.1f\n", Name, Run.Seconds, Run.PeakMiB);
    else
      std::printf("%-28s %10s\n", Name, "not run or failed");
  };
  row("ntfsundelete --scan IMAGE", undeleteRan, undelete);
  row("fls -rd IMAGE", flsRan, fls);
  if (undeleteRan)
    std::printf("%-28s %10.3f %10.2f   (target: time at most 0.50)\n", "ratio kestrine / ntfsundelete",
                ours.Seconds / undelete.Seconds, ours.PeakMiB / undelete.PeakMiB);
  if (flsRan)
    std::printf("%-28s %10.3f %10.2f\n", "ratio kestrine / fls", ours.Seconds / fls.Seconds, ours.PeakMiB / fls.PeakMiB);
  for (std::size_t f = 0; f < std::size(kFormats); ++f) {
    const std::string name = std::string("kestrine-cli scan --format ") + kFormats[f];
    if (!cliRan[f]) {
      std::printf("%-28s %10s\n", name.c_str(), "failed");
      continue;
    }
    std::printf("%-28s %10.3f %10.1f   (/ scan %.2f, target at most 1.30", name.c_str(), cli[f].Seconds, cli[f].PeakMiB,
                cli[f].Seconds / ours.Seconds);
    if (undeleteRan) std::printf("; / ntfsundelete %.2f, target at most 0.50", cli[f].Seconds / undelete.Seconds);
    std::printf(")\n");
  }
  return found >= kDeletedFiles ? 0 : 1;
}
