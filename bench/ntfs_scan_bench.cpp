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

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"

#include "bench_support.h"
#include "ntfs_volume.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
using bench::TRun;
using namespace bench::ntfs;

constexpr int kRounds = 5;
// Peak memory of a scan per deleted file found, at most.
constexpr double kTargetBytesPerFound = 350;

}  // namespace

int main(int argc, char** argv) {
  // Only an image of our own lives in a work folder; a given one is kept where it is.
  std::optional<bench::TWorkFolder> folder;
  const fs::path image = bench::ntfs::Volume(argc > 1 ? argv[1] : nullptr, folder, "ntfs-scan-bench");
  if (image.empty()) return 1;
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
