#pragma once
// What the scan benchmarks share: counting reports, best-time and peak-memory keeping, a work folder, a scan
// round in a fresh process, and running a reference tool as a child with its output thrown away.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/workflow_ports.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point From) { return std::chrono::duration<double>(Clock::now() - From).count(); }

class TCountingReports final : public kestrine::TScanReports {
 public:
  void FolderAdded(kestrine::TDiskObject*, kestrine::PFileInfo) override { ++Folders; }
  void FileAdded(kestrine::TDiskObject*, kestrine::PFileInfo) override { ++Files; }
  void ScanProgress(kestrine::TDiskObject*, std::int64_t, std::int64_t) override {}
  void ScanFinished(kestrine::TDiskObject*) override { Finished = true; }
  std::int64_t Files = 0;
  std::int64_t Folders = 0;
  bool Finished = false;
};

// A path quoted for the shell.
inline std::string Quote(const std::filesystem::path& P) {
  std::string q = "'";
  for (char c : P.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command with its output thrown away; true when it succeeds.
inline bool Shell(const std::string& Command) { return std::system((Command + " >/dev/null 2>&1").c_str()) == 0; }

// Best time, highest peak.
struct TRun {
  double Seconds = 1e9;
  double PeakMiB = 0;
  double CpuSeconds = 1e9;  // user and system time of a child, where it was measured
  void Keep(double S, double Peak, double Cpu = 1e9) {
    Seconds = std::min(Seconds, S);
    PeakMiB = std::max(PeakMiB, Peak);
    CpuSeconds = std::min(CpuSeconds, Cpu);
  }
};

// This process's peak resident set.
inline double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Runs Argv with its output thrown away and keeps its time and peak; false when it cannot be run or fails.
inline bool RunTool(const std::vector<std::string>& Argv, TRun& Run) {
  std::vector<char*> args;
  for (const std::string& a : Argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage u{};
  if (::wait4(child, &status, 0, &u) != child) return false;
  const auto seconds = [](const timeval& T) { return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_usec) / 1e6; };
  Run.Keep(Since(start), static_cast<double>(u.ru_maxrss) / 1024.0, seconds(u.ru_utime) + seconds(u.ru_stime));
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What a scan round reports from its child process.
struct TRoundResult {
  double Seconds = 0;
  double PeakMiB = 0;
  std::int64_t Files = 0;
  bool Scanned = false;
};

// One scan of Image as file system Kind, on this thread as a front end's scanning thread runs it, in a
// fresh process as a user's first scan meets it: memory that an earlier round freed would hide the cost
// of faulting in new pages, which on a large volume is most of it. False when it was not scanned.
inline bool ScanInFreshProcess(const std::string& Image, kestrine::TFileSystemKind Kind, TRun& Run, std::int64_t& Files) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::close(pipeFds[0]);
    TCountingReports reports;
    TRoundResult result;
    const auto start = Clock::now();
    kestrine::TDiskObject disk(kestrine::platform::TDriveSpec{'d', Image, "", kestrine::platform::TDriveType::Fixed},
                               &reports);
    if (disk.FileSystem == Kind && disk.Scanner) {
      disk.Scanner->ScanForFiles();
      result = {Since(start), PeakMiB(), reports.Files, reports.Finished};
    }
    const bool sent = ::write(pipeFds[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipeFds[1]);
  TRoundResult result;
  const bool received = ::read(pipeFds[0], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!received || !result.Scanned) return false;
  Run.Keep(result.Seconds, result.PeakMiB);
  Files = result.Files;
  return true;
}

// A folder of this run alone, so two runs at once never share a volume; removed at the end unless
// KESTRINE_BENCH_KEEP is set. A folder given on the command line is emptied first and kept.
class TWorkFolder {
 public:
  TWorkFolder(const std::string& Name, const char* Given) : FOwn(Given == nullptr) {
    if (!FOwn) {
      FPath = Given;
      std::filesystem::remove_all(FPath);
      std::filesystem::create_directories(FPath);
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / (Name + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data())) FPath = pattern;
  }
  ~TWorkFolder() {
    if (FOwn && !FPath.empty() && !std::getenv("KESTRINE_BENCH_KEEP")) std::filesystem::remove_all(FPath);
  }
  TWorkFolder(const TWorkFolder&) = delete;
  TWorkFolder& operator=(const TWorkFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  bool FOwn;
  std::filesystem::path FPath;
};

}  // namespace bench
