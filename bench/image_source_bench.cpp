// `kestrine-cli scan --format json` of the NTFS benchmark volume as a raw image, an E01 (compressed)
// and a qcow2, as ratios to the raw image. The E01 and qcow2 are made once beside the volume (or in
// FOLDER) and used again; every time is the best of five rounds, the sides taking turns.
// Usage: image_source_bench [IMAGE [FOLDER]]   (default IMAGE: /work/bench-data/ntfs.img)

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;

constexpr int kRounds = 5;

struct TSide {
  const char* Name;
  fs::path Image;
  double Target;  // at most this many times the raw image's time; 0 for the raw image itself
  bench::TRun Run;
  bool Ran = true;
};

// Makes Image from Raw with Command unless it is there already.
bool Ensure(const fs::path& Image, const std::string& Command) {
  if (fs::exists(Image)) return true;
  std::fprintf(stderr, "making %s ...\n", Image.c_str());
  return Shell(Command) && fs::exists(Image);
}

// The listing a scan prints, to know that every side found the same.
std::string Listing(const fs::path& Image) {
  const std::string cmd = "KESTRINE_DRIVES= " + Quote(KESTRINE_CLI_PATH) + " scan " + Quote(Image) + " --format json | cksum";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return {};
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  return got ? line : "";
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path raw = argc > 1 ? argv[1] : "/work/bench-data/ntfs.img";
  const fs::path folder = argc > 2 ? fs::path(argv[2]) : raw.parent_path();
  if (!fs::exists(raw)) {
    std::fprintf(stderr, "image_source_bench: %s: no such image\n", raw.c_str());
    return 1;
  }
  const fs::path stem = folder / raw.stem();
  std::vector<TSide> sides = {{"raw", raw, 0, {}}, {"E01 (deflate)", stem.string() + ".E01", 2.0, {}},
                              {"qcow2", stem.string() + ".qcow2", 1.2, {}}};
  if (!Ensure(sides[1].Image, "ewfacquire -u -q -c deflate:fast -t " + Quote(stem) + " " + Quote(raw) + " </dev/null") ||
      !Ensure(sides[2].Image, "qemu-img convert -O qcow2 " + Quote(raw) + " " + Quote(sides[2].Image))) {
    std::fprintf(stderr, "image_source_bench: the E01 or qcow2 image could not be made (ewf-tools, qemu-utils)\n");
    return 1;
  }
  ::setenv("KESTRINE_DRIVES", "", 1);
  const std::string expected = Listing(raw);
  for (TSide& side : sides) {
    Shell("cat " + Quote(side.Image) + "* > /dev/null");  // every side reads from the page cache
    if (Listing(side.Image) != expected) {
      std::fprintf(stderr, "image_source_bench: %s does not list what the raw image lists\n", side.Image.c_str());
      return 1;
    }
  }
  for (int round = 0; round < kRounds; ++round)
    for (TSide& side : sides)
      side.Ran = side.Ran && bench::RunTool({KESTRINE_CLI_PATH, "scan", side.Image.string(), "--format", "json"}, side.Run);

  std::printf("kestrine-cli scan --format json of %s, best of %d\n", raw.c_str(), kRounds);
  // CPU time, less swayed than the wall clock by other work on the machine, is shown beside it.
  std::printf("%-16s %10s %10s %10s %12s %10s\n", "source", "seconds", "peak MiB", "/ raw", "CPU seconds", "/ raw");
  int status = 0;
  for (const TSide& side : sides) {
    if (!side.Ran) {
      std::printf("%-16s %10s\n", side.Name, "failed");
      status = 1;
      continue;
    }
    std::printf("%-16s %10.3f %10.1f %10.2f %12.3f %10.2f", side.Name, side.Run.Seconds, side.Run.PeakMiB,
                side.Run.Seconds / sides[0].Run.Seconds, side.Run.CpuSeconds,
                side.Run.CpuSeconds / sides[0].Run.CpuSeconds);
    if (side.Target > 0) std::printf("   (target: at most %.1f)", side.Target);
    std::printf("\n");
  }
  return status;
}
