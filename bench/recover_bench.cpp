// Recovering about 1 GiB of deleted files from a generated FAT32 volume (scan included), beside
// `tsk_recover` on the same image, `cat` of the same files into one output file and `cp -r` of them.
// Each side starts after a sync; wall and processor times are the best of three rounds. Our recovery
// runs twice: as it is (the kernel copies what lies on the volume as it is), and with every byte
// read and written by the program, as where the kernel cannot copy (block devices, other file systems).
// Usage: recover_bench [WORK_FOLDER]   (default: a fresh folder under $TMPDIR, removed at the end)
// Needs mkfs.fat and mtools to build the volume, and The Sleuth Kit for the comparison.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "engine/volume/disk_object.h"
#include "engine/volume/recovery_manager.h"
#include "workflow/recovering_thread.h"
#include "workflow/updating_thread.h"
#include "workflow/view_ports.h"
#include "workflow/workflow.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::Quote;
using bench::Shell;
using Clock = std::chrono::steady_clock;

constexpr int kBigFiles = 48;      // 16 MiB each, less a little so no two end alike
constexpr int kSmallFiles = 256;   // 1 MiB each
constexpr std::uint64_t kMiB = 1 << 20;
constexpr int kRounds = 3;

double Seconds(Clock::time_point From) { return std::chrono::duration<double>(Clock::now() - From).count(); }

void WriteRandom(const fs::path& Path, std::uint64_t Bytes, std::mt19937_64& Gen) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> block(kMiB / 8);
  for (std::uint64_t done = 0; done < Bytes; done += kMiB) {
    for (auto& v : block) v = Gen();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(std::min(kMiB, Bytes - done)));
  }
}

// Source files in Work/src, ten folders of them, copied onto a FAT32 image with 4 KiB clusters and
// deleted there. A folder of at most 32 files stays in its first cluster, so no folder grows between
// the files and splits them.
bool MakeVolume(const fs::path& Work, const fs::path& Image, std::uint64_t& Bytes, int& Files) {
  std::mt19937_64 gen(7);
  Bytes = 0;
  Files = 0;
  std::string folders, deletions;
  const auto addFolder = [&](const std::string& Name, int Count, std::uint64_t Size) {
    const fs::path dir = Work / "src" / Name;
    fs::create_directories(dir);
    for (int i = 0; i < Count; ++i) {
      const std::uint64_t bytes = Size - static_cast<std::uint64_t>(Files) * 37;  // no two of one size
      WriteRandom(dir / ("file " + std::to_string(i) + ".bin"), bytes, gen);
      Bytes += bytes;
      ++Files;
    }
    folders += " " + Quote(dir);
    deletions += " '::/" + Name + "/*'";
  };
  for (int f = 1; f <= 2; ++f) addFolder("Videos " + std::to_string(f), kBigFiles / 2, 16 * kMiB);
  for (int f = 1; f <= 8; ++f) addFolder("Photos " + std::to_string(f), kSmallFiles / 8, kMiB);
  const std::uint64_t kib = Bytes / 1024 + 256 * 1024;
  const std::string img = " -i " + Quote(Image) + " ";
  return Shell("mkfs.fat -F 32 -s 8 -n RECBENCH -C " + Quote(Image) + " " + std::to_string(kib)) &&
         Shell("mcopy" + img + "-s" + folders + " ::/") && Shell("mdel" + img + deletions);
}

// Wall and processor time (this process and the commands it ran, user and system) of one run.
struct TTime {
  double Wall = 1e9;
  double Cpu = 1e9;
  void KeepBest(const TTime& T) {
    Wall = std::min(Wall, T.Wall);
    Cpu = std::min(Cpu, T.Cpu);
  }
};

double CpuSeconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    ::getrusage(who, &u);
    for (const timeval& t : {u.ru_utime, u.ru_stime}) total += static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  }
  return total;
}

// Each side starts with no dirty pages left by the one before it.
TTime Measure(const std::function<bool()>& Work) {
  ::sync();
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  if (!Work()) return {};
  return {Seconds(start), CpuSeconds() - cpu};
}

class TInlineMainThread final : public kestrine::TMainThreadPort {
 public:
  void RunAndWait(const std::function<void()>& Step) override { Step(); }
};

// Scan and recovery of every deleted file, as `kestrine-cli recover IMAGE --all --out Out` does it.
bool RecoverAll(const fs::path& Image, const fs::path& Out, bool KernelCopies, std::uint64_t& Bytes) {
  using namespace kestrine;
  TRecoveryManager manager(TDriveListing{{platform::TDriveSpec{'d', Image.string(), "", platform::TDriveType::Fixed}}, {}});
  TInlineMainThread mainThread;
  TUpdatingThread updating(mainThread);
  TWorkflowConnection connection(manager, updating);
  TDiskObject* disk = manager.FindDisk('d');
  if (!disk) return false;
  updating.SetDisk(disk);
  updating.Query().AddDisk(disk);
  manager.StartScan(disk)->WaitFor();
  TDiskItems items;
  for (PFileInfo f : disk->Folders.Snapshot())
    if (f->Parent && !f->Parent->Parent) items.Add(f);
  for (PFileInfo f : disk->Files.Snapshot())
    if (f->Parent && !f->Parent->Parent) items.Add(f);
  fs::create_directories(Out);
  auto job = manager.RecoverItems(items);
  if (!job) return false;
  if (!KernelCopies) static_cast<TRecoveringThread&>(*job).SetVolumeCopy({});
  job->SetDestination(Out.string());
  job->Start();
  job->WaitFor();
  Bytes = static_cast<std::uint64_t>(job->BytesDone());
  return true;
}

std::uint64_t TreeBytes(const fs::path& Root) {
  std::uint64_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(Root))
    if (e.is_regular_file()) bytes += e.file_size();
  return bytes;
}

bool SameBytes(const fs::path& A, const fs::path& B) {
  std::ifstream a(A, std::ios::binary), b(B, std::ios::binary);
  std::vector<char> x(kMiB), y(kMiB);
  while (a && b) {
    a.read(x.data(), static_cast<std::streamsize>(x.size()));
    b.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (a.gcount() != b.gcount() || !std::equal(x.begin(), x.begin() + a.gcount(), y.begin())) return false;
  }
  return !a.bad() && !b.bad() && a.eof() && b.eof();
}

// Our files against the sources they were made from.
bool SameAsSources(const fs::path& Src, const fs::path& Out) {
  for (const auto& e : fs::recursive_directory_iterator(Src)) {
    if (!e.is_regular_file()) continue;
    const fs::path ours = Out / fs::relative(e.path(), Src);
    if (!SameBytes(e.path(), ours)) {
      std::fprintf(stderr, "differs: %s\n", ours.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::TWorkFolder folder("kestrine-recover-bench", argc < 2 ? nullptr : argv[1]);
  const fs::path& work = folder.Path();
  if (work.empty()) {
    std::perror("recover_bench: no work folder");
    return 1;
  }
  const fs::path image = work / "volume.img";
  std::uint64_t bytes = 0;
  int files = 0;
  std::fprintf(stderr, "building the volume in %s ...\n", work.c_str());
  if (!MakeVolume(work, image, bytes, files)) {
    std::fprintf(stderr, "recover_bench: mkfs.fat or mtools failed\n");
    return 1;
  }
  const bool tsk = Shell("command -v tsk_recover");
  Shell("cat " + Quote(image) + " > /dev/null");  // every side reads from the page cache

  TTime ours, oursRead, theirs, cat, copy;
  bool correct = true;
  const fs::path out = work / "out";
  const auto recoverAll = [&](bool KernelCopies, int Round) {
    std::uint64_t written = 0;
    fs::remove_all(out);
    const TTime t = Measure([&] { return RecoverAll(image, out, KernelCopies, written); });
    if (Round == 0) {
      const bool same = SameAsSources(work / "src", out);
      if (written != bytes)
        std::fprintf(stderr, "recovered %llu of %llu bytes\n", static_cast<unsigned long long>(written),
                     static_cast<unsigned long long>(bytes));
      correct = correct && same && written == bytes;
    }
    fs::remove_all(out);
    return t;
  };
  for (int round = 0; round < kRounds; ++round) {
    ours.KeepBest(recoverAll(true, round));
    oursRead.KeepBest(recoverAll(false, round));
    if (tsk) {
      fs::create_directories(out);
      theirs.KeepBest(Measure([&] { return Shell("tsk_recover " + Quote(image) + " " + Quote(out)); }));
      if (round == 0 && TreeBytes(out) != bytes)
        std::fprintf(stderr, "tsk_recover wrote %llu bytes\n", static_cast<unsigned long long>(TreeBytes(out)));
      fs::remove_all(out);
    }
    copy.KeepBest(Measure([&] { return Shell("cp -r " + Quote(work / "src") + " " + Quote(out)); }));
    fs::remove_all(out);
    fs::create_directories(out);
    cat.KeepBest(Measure([&] { return Shell("cat " + Quote(work / "src") + "/*/* > " + Quote(out / "all.bin")); }));
  }
  const double mib = static_cast<double>(bytes) / kMiB;
  std::printf("%d deleted files, %.0f MiB, FAT32 with 4 KiB clusters, best of %d\n", files, mib, kRounds);
  std::printf("%-40s %10s %10s %10s\n", "", "wall s", "MiB/s", "cpu s");
  const auto row = [mib](const char* Name, const TTime& T) {
    std::printf("%-40s %10.3f %10.0f %10.3f\n", Name, T.Wall, mib / T.Wall, T.Cpu);
  };
  const auto ratio = [](const char* Name, const TTime& A, const TTime& B, const char* Target) {
    std::printf("%-40s %10.2f %10s %10.2f   (target: wall at most %s)\n", Name, A.Wall / B.Wall, "", A.Cpu / B.Cpu,
                Target);
  };
  row("kestrine: scan + recover all", ours);
  row("kestrine, every byte through Read", oursRead);
  if (tsk) row("tsk_recover IMAGE OUT", theirs);
  row("cat SOURCE FILES > one file", cat);
  row("cp -r SOURCE FOLDER (same files)", copy);
  if (tsk) ratio("ratio kestrine / tsk_recover", ours, theirs, "1.00");
  ratio("ratio kestrine / cat", ours, cat, "1.50");
  ratio("ratio kestrine / cp -r", ours, copy, "-");
  ratio("ratio kestrine through Read / cat", oursRead, cat, "-");
  std::printf("%-40s %10s\n", "recovered files equal their sources", correct ? "yes" : "NO");
  return correct ? 0 : 1;
}
