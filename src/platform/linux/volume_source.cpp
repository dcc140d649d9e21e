#include "platform/volume_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrine::platform {

int VolumeOpenFlags() { return O_RDONLY | O_CLOEXEC; }

std::unique_ptr<TVolumeSource> TVolumeSource::Open(const std::string& Path, std::string* Error) {
  return Open(Path, 0, -1, Error);
}

std::unique_ptr<TVolumeSource> TVolumeSource::Open(const std::string& Path, std::int64_t Base, std::int64_t Length,
                                                   std::string* Error) {
  if (Base < 0) {
    if (Error) *Error = std::strerror(EINVAL);
    return nullptr;
  }
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come: the kind is known
  // only once it is open, so it is opened without waiting and checked before anything is read.
  const int fd = ::open(Path.c_str(), VolumeOpenFlags() | O_NONBLOCK);
  if (fd < 0) {
    const int why = errno;
    // A socket cannot be opened at all; it is named for what it is, not for the open's error.
    struct stat named {};
    const bool other = ::stat(Path.c_str(), &named) == 0 && !S_ISREG(named.st_mode) && !S_ISBLK(named.st_mode);
    if (Error) *Error = other ? "not an image file or block device" : std::strerror(why);
    // A device is usually refused for want of rights the user can get.
    if (Error && why == EACCES && !other && S_ISBLK(named.st_mode)) *Error += " (run as root, or join the \"disk\" group)";
    return nullptr;
  }
  std::unique_ptr<TVolumeSource> source(new TVolumeSource(fd, Path));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (Error) *Error = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
    if (Error) *Error = "not an image file or block device";
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    if (Error) *Error = std::strerror(errno);
    return nullptr;
  }
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) source->FSize = static_cast<std::int64_t>(bytes);
    source->FBlockDevice = true;
    source->FDevice = st.st_rdev;
  } else {
    source->FSize = st.st_size;
    source->FDevice = st.st_dev;
  }
  // A table may promise more than the image holds; the partition ends where the bytes do.
  const std::int64_t held = std::max<std::int64_t>(0, source->FSize - Base);
  source->FBase = Base;
  source->FSize = Length < 0 ? held : std::min(Length, held);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return source;
}

TVolumeSource::TVolumeSource(int Fd, std::string Path) : FFd(Fd), FPath(std::move(Path)) {}

TVolumeSource::~TVolumeSource() { ::close(FFd); }

std::uint32_t TVolumeSource::ReadDirect(void* Buffer, std::uint32_t Count, std::int64_t Offset) const {
  // Every read passes here, so this is where a partition's end is kept.
  if (Offset >= FSize) return 0;
  Count = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, FSize - Offset));
  std::uint32_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pread(FFd, static_cast<std::uint8_t*>(Buffer) + done, Count - done, FBase + Offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

bool TVolumeSource::Refill(std::int64_t Offset) {
  // Reads that continue the last window grow the next one; a jump starts small again, so scattered
  // record reads do not pay for a megabyte each.
  const bool sequential = FWindowLength > 0 && Offset >= FWindowOffset && Offset <= FWindowOffset + FWindowLength;
  FWindowTarget = sequential ? std::min(FWindowTarget * 2, kMaxWindow) : kMinWindow;
  const std::int64_t start = Offset & ~std::int64_t{4095};
  if (FWindow.size() < FWindowTarget) FWindow.resize(FWindowTarget);
  FWindowOffset = start;
  FWindowLength = ReadDirect(FWindow.data(), FWindowTarget, start);
  return FWindowLength > 0;
}

std::uint32_t TVolumeSource::Read(void* Buffer, std::uint32_t Count, std::int64_t Offset) {
  if (Offset < 0 || Buffer == nullptr) return 0;
  // A large read the window does not hold already goes straight to the caller: through the window
  // it would only cost one more copy.
  const bool held = Offset >= FWindowOffset && Offset + Count <= FWindowOffset + FWindowLength;
  if (Count >= kMinWindow && !held) return ReadDirect(Buffer, Count, Offset);
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::uint32_t done = 0;
  while (done < Count) {
    const std::int64_t at = Offset + done;
    if (at < FWindowOffset || at >= FWindowOffset + FWindowLength) {
      if (!Refill(at)) break;
      if (at >= FWindowOffset + FWindowLength) break;  // the source ends before this offset
    }
    const auto from = static_cast<std::uint32_t>(at - FWindowOffset);
    const std::uint32_t n = std::min(Count - done, FWindowLength - from);
    std::memcpy(out + done, FWindow.data() + from, n);
    done += n;
  }
  return done;
}

}  // namespace kestrine::platform
