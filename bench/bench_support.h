#pragma once
// What the scan benchmarks share: counting reports, best-time and peak-memory keeping, and running a
// reference tool as a child with its output thrown away.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Best time, highest peak.
struct TRun {
  double Seconds = 1e9;
  double PeakMiB = 0;
  void Keep(double S, double Peak) {
    Seconds = std::min(Seconds, S);
    PeakMiB = std::max(PeakMiB, Peak);
  }
};

// This process's peak resident set since the last reset; the reset is what lets one process measure
// several rounds, and it is absent on old kernels, where the peak is the process's whole life's.
inline double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

inline void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

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
  Run.Keep(Since(start), static_cast<double>(u.ru_maxrss) / 1024.0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
