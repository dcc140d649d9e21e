// The deep scan beside PhotoRec on memory cards whose records are gone: a card quick-formatted
// again and a card whose first MiB was zeroed, made by tests/data/deep_volumes.py (real formatters,
// real files). For each card it prints how many of the original files lying whole came back byte for
// byte, and the time of `kestrine-cli recover --deep --all` into a fresh folder beside
// `photorec /log /d OUT /cmd IMAGE options,paranoid,fileopt,everything,enable,search` (best of three).
// Usage: deep_scan_bench [WORK_FOLDER] [COPIES]
//   WORK_FOLDER keeps the cards between runs (default $TMPDIR/kestrine-deep-bench); COPIES sets of the
//   files go onto each card (default 8). Needs python3, dosfstools, mtools, imagemagick, testdisk.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
constexpr int kRounds = 3;

// SHA-256 digests of every file below Folder.
std::set<std::string> Digests(const fs::path& Folder) {
  std::set<std::string> digests;
  const std::string command = "find " + Quote(Folder) + " -type f -exec sha256sum {} + 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return digests;
  char line[8192];
  while (std::fgets(line, sizeof line, pipe))
    if (std::string(line).size() > 64) digests.insert(std::string(line, 64));
  ::pclose(pipe);
  return digests;
}

struct TSide {
  bench::TRun Run;
  int Back = 0;
};

// Runs Command into a fresh Out kRounds times; the originals of Whole found among its files.
TSide Measure(const std::string& Command, const fs::path& Out, const std::set<std::string>& Whole) {
  TSide side;
  for (int round = 0; round < kRounds; ++round) {
    fs::remove_all(Out);
    fs::create_directories(Out);
    Shell("sync");
    const auto start = bench::Clock::now();
    if (!Shell(Command)) std::fprintf(stderr, "failed: %s\n", Command.c_str());
    side.Run.Keep(bench::Since(start), 0);
  }
  for (const std::string& digest : Digests(Out)) side.Back += Whole.contains(digest);
  return side;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kestrine-deep-bench";
  const int copies = argc > 2 ? std::atoi(argv[2]) : 8;
  const fs::path cards = work / ("cards-x" + std::to_string(copies));
  if (!fs::exists(cards / "deep_manifest.json")) {
    fs::create_directories(cards);
    const std::string make = "python3 " + Quote(fs::path(KESTRINE_SOURCE_DIR) / "tests/data/deep_volumes.py") + " " +
                             Quote(cards) + " --copies " + std::to_string(copies);
    if (!Shell(make)) {
      std::fprintf(stderr, "deep_scan_bench: the cards could not be made (%s)\n", make.c_str());
      return 1;
    }
  }
  std::ifstream in(cards / "deep_manifest.json");
  const nlohmann::json manifest = nlohmann::json::parse(in);

  std::printf("%-16s %6s %6s | %9s %9s | %9s %9s | %6s\n", "card", "files", "whole", "ours back", "ours s", "PR back",
              "PR s", "time ×");
  for (const auto& [name, files] : manifest.items()) {
    std::set<std::string> whole;
    for (const auto& f : files)
      if (!f["offset"].is_null()) whole.insert(f["sha256"].get<std::string>());
    const fs::path image = cards / name;
    const TSide ours = Measure(std::string(Quote(KESTRINE_CLI_PATH)) + " recover " + Quote(image) +
                                   " --deep --all --out " + Quote(work / "ours"),
                               work / "ours", whole);
    // PhotoRec numbers its output folder: OUT.1 beside OUT, and writes its log in the current folder.
    const TSide theirs =
        Measure("cd " + Quote(work / "photorec") + " && photorec /log /d " + Quote(work / "photorec" / "out") +
                    " /cmd " + Quote(image) + " options,paranoid,fileopt,everything,enable,search",
                work / "photorec", whole);
    std::printf("%-16s %6zu %6zu | %9d %9.3f | %9d %9.3f | %6.2f\n", name.c_str(), files.size(), whole.size(),
                ours.Back, ours.Run.Seconds, theirs.Back, theirs.Run.Seconds, ours.Run.Seconds / theirs.Run.Seconds);
  }
  return 0;
}
