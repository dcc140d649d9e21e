#include "support/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "support/file_time.h"

namespace kestrine {
namespace {

std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}

std::string& LogPath() {
  static std::string path;
  return path;
}

std::string Hex(std::uint64_t v, int minDigits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", minDigits, static_cast<unsigned long long>(v));
  return buf;
}

bool AppendArg(char conversion, const TLogArg& arg, std::string& out) {
  switch (conversion) {
    case 's':
      if (auto s = std::get_if<std::string>(&arg)) return out += *s, true;
      return false;
    case 'c':
      if (auto c = std::get_if<char>(&arg)) return out += *c, true;
      return false;
    case 'd':
      if (auto i = std::get_if<std::int64_t>(&arg)) return out += std::to_string(*i), true;
      if (auto u = std::get_if<std::uint64_t>(&arg)) return out += std::to_string(*u), true;
      return false;
    case 'x':
    case 'p': {
      // Addresses are padded to eight digits; a 64-bit address keeps all of its digits.
      const int digits = conversion == 'p' ? 8 : 1;
      if (auto i = std::get_if<std::int64_t>(&arg)) return out += Hex(static_cast<std::uint64_t>(*i), digits), true;
      if (auto u = std::get_if<std::uint64_t>(&arg)) return out += Hex(*u, digits), true;
      if (auto p = std::get_if<const void*>(&arg)) return out += Hex(reinterpret_cast<std::uintptr_t>(*p), digits), true;
      return false;
    }
    default:
      return false;
  }
}

std::string TimePrefix() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const bool wholeSecond =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000 == 0;
  std::tm local{};
  localtime_r(&t, &local);
  return "[" + FormatLocalDateTime(local, wholeSecond) + "] ";
}

}  // namespace

bool FormatLogMessage(std::string_view Template, const std::vector<TLogArg>& Args, std::string& Out) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < Template.size(); ++i) {
    if (Template[i] != '%') {
      Out += Template[i];
      continue;
    }
    if (++i == Template.size()) return false;
    if (Template[i] == '%') {
      Out += '%';
      continue;
    }
    if (next == Args.size() || !AppendArg(Template[i], Args[next++], Out)) return false;
  }
  return next == Args.size();
}

void WriteLogLine(std::string_view Template, const std::vector<TLogArg>& Args) {
  try {
    std::string line = TimePrefix();
    if (!FormatLogMessage(Template, Args, line)) return;
    line += "\r\n";
    std::lock_guard lock(LogMutex());
    const std::string& path = LogPath();
    if (path.empty()) return;
    // Opened per line so that every written line is on disk even if the process dies.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  } catch (...) {
    // The log never fails towards its caller.
  }
}

void SetLogFileName(std::string Path) {
  std::lock_guard lock(LogMutex());
  LogPath() = std::move(Path);
}

std::string LogFileName() {
  std::lock_guard lock(LogMutex());
  return LogPath();
}

std::string ChooseLogPath(const std::string& ExeDir, const std::string& StateDir) {
  if (!ExeDir.empty() && ::access(ExeDir.c_str(), W_OK) == 0) return ExeDir + "/debug.log";
  std::error_code ec;
  std::filesystem::create_directories(StateDir, ec);
  return StateDir + "/debug.log";
}

TDebugLogSession::TDebugLogSession() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
    state = std::string(xdg) + "/Kestrine Pro";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    state = std::string(home) + "/.local/state/Kestrine Pro";
  }
  const std::string path = ChooseLogPath(ec ? std::string() : exe.parent_path().string(), state);
  std::filesystem::remove(path, ec);  // each run begins without a log
  SetLogFileName(path);
}

TDebugLogSession::~TDebugLogSession() { SetLogFileName({}); }

void LogAssertError(std::string_view Message, std::string_view FileName, int LineNumber, const void* ErrorAddr) {
  WriteLog(LogMessages::AssertError, std::string(Message), ErrorAddr, LineNumber, std::string(FileName));
}

void AssertFailed(const char* Message, const char* FileName, int LineNumber) {
  LogAssertError(Message, FileName, LineNumber, __builtin_extract_return_addr(__builtin_return_address(0)));
}

}  // namespace kestrine
