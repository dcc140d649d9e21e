#include "cleanup/wipe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "cleanup/random_generator.h"

namespace kestrine {
namespace {

// Offsets into a pattern leave at least 101 bytes for the first chunk of a pass.
constexpr std::uint32_t kOffsetRange = 0xFF9C;
constexpr int kMaxPasses = 10;

constexpr const char* kOtherNamesText = "has other names; not wiped";
constexpr const char* kReplacedText = "is no longer the file that was listed; left alone";

TWipeResult Failure(TWipeStatus Status, std::string Message) { return {Status, std::move(Message)}; }

TWipeResult WriteFailure(const char* What, std::error_code Error) {
  return Failure(TWipeStatus::WriteFailed, std::string(What) + ": " + Error.message());
}

std::error_code LastError() { return {errno, std::generic_category()}; }

class TFileWipeStream final : public TWipeStream {
 public:
  explicit TFileWipeStream(int Fd) : FFd(Fd) {}
  ~TFileWipeStream() override {
    if (FFd >= 0) ::close(FFd);
  }
  TFileWipeStream(const TFileWipeStream&) = delete;
  TFileWipeStream& operator=(const TFileWipeStream&) = delete;

  std::error_code Size(std::int64_t& Bytes) override {
    struct stat st {};
    if (::fstat(FFd, &st) != 0) return LastError();
    Bytes = st.st_size;
    return {};
  }
  std::error_code Rewind() override { return ::lseek(FFd, 0, SEEK_SET) < 0 ? LastError() : std::error_code(); }
  std::error_code Write(const std::uint8_t* Data, std::size_t Count) override {
    while (Count > 0) {
      const ssize_t n = ::write(FFd, Data, Count);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return LastError();
      if (n == 0) return std::make_error_code(std::errc::no_space_on_device);
      Data += n;
      Count -= static_cast<std::size_t>(n);
    }
    return {};
  }
  std::error_code Flush() override { return ::fsync(FFd) != 0 ? LastError() : std::error_code(); }
  // Closing can still report a failed write-back.
  std::error_code Close() {
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) != 0 ? LastError() : std::error_code();
  }

 private:
  int FFd;
};

}  // namespace

int ClampWipePasses(int Passes) { return std::clamp(Passes, 1, kMaxPasses); }

void FillRandomBuffer(TWipeBuffer& Buffer) {
  for (std::uint8_t& b : Buffer) b = static_cast<std::uint8_t>(RandomBelow(1024));
}

TWipeResult WipeStream(TWipeStream& Stream, const TWipeBuffer& RandomBuffer, int Passes,
                       const TWipeProgressEvent& OnProgress, const TWipeWriteEvent& OnWrite) {
  const int total = ClampWipePasses(Passes);
  std::int64_t size = 0;
  if (const std::error_code e = Stream.Size(size)) return WriteFailure("cannot read the size", e);
  const std::vector<std::uint8_t> zeros(kWipeBufferSize, 0x00);
  const std::vector<std::uint8_t> ones(kWipeBufferSize, 0xFF);
  const std::uint8_t* const patterns[] = {zeros.data(), ones.data(), RandomBuffer.data()};
  std::uint32_t previousOffset = 0;
  bool cancel = false;
  int done = 0;
  while (done < total && !cancel) {
    if (const std::error_code e = Stream.Rewind()) return WriteFailure("cannot seek", e);
    std::uint32_t offset;
    do offset = RandomBelow(kOffsetRange);
    while (offset == previousOffset);
    previousOffset = offset;
    const std::uint8_t* pattern = patterns[std::min(done, 2)];
    for (std::int64_t written = 0; written < size; offset = 0) {
      if (OnWrite) OnWrite(done + 1, written, size, cancel);
      if (cancel) break;
      const std::size_t chunk =
          static_cast<std::size_t>(std::min<std::int64_t>(kWipeBufferSize - offset, size - written));
      if (const std::error_code e = Stream.Write(pattern + offset, chunk)) return WriteFailure("write failed", e);
      written += static_cast<std::int64_t>(chunk);
    }
    // A pass cut short is flushed too, so the file on disk is what the result says.
    if (const std::error_code e = Stream.Flush()) return WriteFailure("flush failed", e);
    if (cancel) break;
    ++done;
    if (OnProgress) OnProgress(done, total, cancel);
  }
  if (!cancel) return {TWipeStatus::Wiped, {}, done, total};
  return {TWipeStatus::Cancelled, "cancelled after pass " + std::to_string(done) + " of " + std::to_string(total), done,
          total};
}

TWipeResult WipeFile(const std::string& FileName, int Passes, const TWipeProgressEvent& OnProgress,
                     const TWipeWriteEvent& OnWrite) {
  // The caller's path up to the folder is the caller's choice; the file itself is looked at and
  // opened inside that folder only.
  std::string path = FileName;
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  const std::size_t slash = path.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const platform::TFolderHandle folder = platform::TFolderHandle::OpenNamed(folderPath);
  if (!folder.IsOpen() || name.empty()) return Failure(TWipeStatus::Missing, "no such file");
  return WipeFileIn(folder, name, Passes, {}, OnProgress, OnWrite);
}

TWipeResult WipeFileIn(const platform::TFolderHandle& Folder, const std::string& Name, int Passes,
                       const platform::TFileIdentity& Expected, const TWipeProgressEvent& OnProgress,
                       const TWipeWriteEvent& OnWrite) {
  platform::TEntryFacts before;
  if (!Folder.Look(Name, before)) return Failure(TWipeStatus::Missing, "no such file");
  if (before.Kind != platform::TEntryFacts::TKind::Regular) return Failure(TWipeStatus::Missing, "not a regular file");
  if (Expected.Known() && before.Identity != Expected) return Failure(TWipeStatus::Replaced, kReplacedText);
  if (before.Links > 1) return Failure(TWipeStatus::HasOtherNames, kOtherNamesText);
  auto random = std::make_unique<TWipeBuffer>();
  FillRandomBuffer(*random);
  // Not blocking: should a FIFO take the name after the look, opening it must not wait for a reader.
  const int fd = ::openat(Folder.Descriptor(), Name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Failure(TWipeStatus::OpenFailed, "cannot open for writing: " + LastError().message());
  TFileWipeStream stream(fd);
  // The name may have been given to something else since it was looked at.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))
    return Failure(TWipeStatus::Missing, "not a regular file");
  if (platform::TFileIdentity{static_cast<std::uint64_t>(opened.st_dev), static_cast<std::uint64_t>(opened.st_ino)} !=
      before.Identity)
    return Failure(TWipeStatus::Replaced, kReplacedText);
  if (opened.st_nlink > 1) return Failure(TWipeStatus::HasOtherNames, kOtherNamesText);
  TWipeResult result = WipeStream(stream, *random, Passes, OnProgress, OnWrite);
  const std::error_code closed = stream.Close();
  if (result.Wiped() && closed) return WriteFailure("close failed", closed);
  return result;
}

}  // namespace kestrine
