// Plain bytes: an image file, a block device, or an image split into numbered pieces; and the
// choice of back end by what a file holds.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/image_reader.h"
#include "platform/volume_source.h"

namespace kestrine::platform {
namespace {

class TFd {
 public:
  explicit TFd(int Fd = -1) : F(Fd) {}
  ~TFd() {
    if (F >= 0) ::close(F);
  }
  TFd(TFd&& Other) noexcept : F(std::exchange(Other.F, -1)) {}
  TFd& operator=(TFd&& Other) noexcept {
    std::swap(F, Other.F);
    return *this;
  }
  int Get() const { return F; }

 private:
  int F;
};

// Count bytes at descriptor offset At, or fewer where the descriptor ends or a read fails.
std::uint32_t ReadFully(int Fd, std::uint8_t* Buffer, std::uint32_t Count, std::int64_t At) {
  std::uint32_t done = 0;
  while (done < Count) {
    const ssize_t n = ::pread(Fd, Buffer + done, Count - done, At + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

struct TOpenedFile {
  TFd Fd;
  std::int64_t Size = 0;
  bool Device = false;
};

// An image file or block device, read-only, with its size; nothing else is accepted.
bool OpenPlainFile(const std::string& Path, TOpenedFile& File, std::string& Error) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come: the kind is known
  // only once it is open, so it is opened without waiting and checked before anything is read.
  TFd fd(::open(Path.c_str(), VolumeOpenFlags() | O_NONBLOCK));
  if (fd.Get() < 0) {
    const int why = errno;
    // A socket cannot be opened at all; it is named for what it is, not for the open's error.
    struct stat named {};
    const bool other = ::stat(Path.c_str(), &named) == 0 && !S_ISREG(named.st_mode) && !S_ISBLK(named.st_mode);
    Error = other ? "not an image file or block device" : std::strerror(why);
    // A device is usually refused for want of rights the user can get.
    if (why == EACCES && !other && S_ISBLK(named.st_mode)) Error += " (run as root, or join the \"disk\" group)";
    return false;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    Error = std::strerror(errno);
    return false;
  }
  if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) {
    Error = "not an image file or block device";
    return false;
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    Error = std::strerror(errno);
    return false;
  }
  File.Device = S_ISBLK(st.st_mode);
  File.Size = st.st_size;
  if (std::uint64_t bytes = 0; File.Device && ::ioctl(fd.Get(), BLKGETSIZE64, &bytes) == 0)
    File.Size = static_cast<std::int64_t>(bytes);
  ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  File.Fd = std::move(fd);
  return true;
}

// Pieces read one after another as one run of bytes.
class TPlainImage final : public TImageReader {
 public:
  struct TPiece {
    TFd Fd;
    std::string Path;
    std::int64_t Start = 0;
    std::int64_t Length = 0;
  };
  explicit TPlainImage(std::vector<TPiece> Pieces) : FPieces(std::move(Pieces)) {}

  std::int64_t Size() const override { return FPieces.empty() ? 0 : FPieces.back().Start + FPieces.back().Length; }

  std::uint32_t ReadAt(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) override {
    std::uint32_t done = 0;
    for (const TPiece& piece : FPieces) {
      const std::int64_t at = Offset + done;
      if (done == Count) break;
      if (at >= piece.Start + piece.Length) continue;
      const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(Count - done, piece.Start + piece.Length - at));
      const std::uint32_t got = ReadFully(piece.Fd.Get(), Buffer + done, want, at - piece.Start);
      done += got;
      if (got < want) break;
    }
    return done;
  }

  std::unique_ptr<TImageReader> Reopen() const override {
    std::vector<TPiece> copies;
    for (const TPiece& piece : FPieces) {
      TFd own(::fcntl(piece.Fd.Get(), F_DUPFD_CLOEXEC, 0));
      if (own.Get() < 0) return nullptr;
      copies.push_back({std::move(own), piece.Path, piece.Start, piece.Length});
    }
    return std::make_unique<TPlainImage>(std::move(copies));
  }

  std::vector<std::string> Files() const override {
    std::vector<std::string> files;
    for (const TPiece& piece : FPieces) files.push_back(piece.Path);
    return files;
  }

  int PlainDescriptor() const override { return FPieces.size() == 1 ? FPieces.front().Fd.Get() : -1; }

 private:
  std::vector<TPiece> FPieces;
};

bool FileExists(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0;
}

std::unique_ptr<TImageReader> OpenSplitImage(const std::vector<std::string>& Names, const std::string& Missing,
                                             std::string& Error) {
  if (!Missing.empty()) {
    Error = "piece " + Missing + " of the split image is missing";
    return nullptr;
  }
  std::vector<TPlainImage::TPiece> pieces;
  std::int64_t start = 0;
  for (const std::string& name : Names) {
    TOpenedFile file;
    if (!OpenPlainFile(name, file, Error)) {
      Error = "piece " + name + ": " + Error;
      return nullptr;
    }
    // Every piece but the last is as long as the first; a shorter one was cut off.
    if (!pieces.empty() && pieces.back().Length != pieces.front().Length) {
      Error = "piece " + pieces.back().Path + " of the split image is shorter than the first (truncated)";
      return nullptr;
    }
    pieces.push_back({std::move(file.Fd), name, start, file.Size});
    start += file.Size;
  }
  return std::make_unique<TPlainImage>(std::move(pieces));
}

using TOpener = std::unique_ptr<TImageReader> (*)(const std::string&, std::string&);

TOpener ContainerOpener(TImageFormat Format) {
  switch (Format) {
    case TImageFormat::Ewf: return OpenEwfImage;
    case TImageFormat::Qcow: return OpenQcowImage;
    case TImageFormat::Vhd:
    case TImageFormat::Vhdx: return OpenVhdImage;
    case TImageFormat::Vmdk: return OpenVmdkImage;
    default: return nullptr;
  }
}

// A container whose first or last bytes cannot be read was cut off or damaged: said at once, rather
// than as a volume that holds nothing.
std::unique_ptr<TImageReader> CheckEnds(std::unique_ptr<TImageReader> Image, std::string& Error) {
  if (!Image) return nullptr;
  std::array<std::uint8_t, 4096> bytes{};
  const std::int64_t size = Image->Size();
  for (const std::int64_t at : {std::int64_t{0}, std::max<std::int64_t>(0, size - 4096)}) {
    const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(bytes.size(), size - at));
    if (Image->ReadAt(bytes.data(), want, at) != want) {
      Error = "the image is truncated or damaged: its bytes at " + std::to_string(at) + " cannot be read";
      return nullptr;
    }
  }
  return Image;
}

}  // namespace

std::unique_ptr<TImageReader> OpenImage(const std::string& Path, std::string& Error) {
  TOpenedFile file;
  if (!OpenPlainFile(Path, file, Error)) return nullptr;
  std::vector<TPlainImage::TPiece> whole;
  if (!file.Device) {
    std::array<std::uint8_t, 512> head{}, tail{};
    const std::uint32_t headGot = ReadFully(file.Fd.Get(), head.data(), head.size(), 0);
    const std::int64_t tailAt = std::max<std::int64_t>(0, file.Size - static_cast<std::int64_t>(tail.size()));
    const std::uint32_t tailGot = ReadFully(file.Fd.Get(), tail.data(), tail.size(), tailAt);
    const TImageFormat format = DetectImageFormat({head.data(), headGot}, {tail.data(), tailGot});
    if (format == TImageFormat::EwfVersion2) {
      Error = "an Ex01 image (EnCase 7 or later), which cannot be read; convert it to E01 or raw";
      return nullptr;
    }
    if (const TOpener open = ContainerOpener(format)) return CheckEnds(open(Path, Error), Error);
    // What the footer promises beyond the bytes that are there is not made up.
    if (format == TImageFormat::VhdFixed) file.Size -= kVhdFooterSize;
    std::string missing;
    if (const auto names = SplitImagePieces(Path, FileExists, missing); names.size() > 1 || !missing.empty())
      return OpenSplitImage(names, missing, Error);
  }
  whole.push_back({std::move(file.Fd), Path, 0, file.Size});
  return std::make_unique<TPlainImage>(std::move(whole));
}

}  // namespace kestrine::platform
