#pragma once
// A source of volume bytes (an image in any format the back ends read, or a block device), opened
// read-only, with read-ahead.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrine::platform {

// The only way this program opens a volume source. Never anything that can write.
int VolumeOpenFlags();

class TReadAhead;
class TImageReader;

class TVolumeSource {
 public:
  // The format is chosen by what Path holds. Nil when the source cannot be opened; Error then says why.
  static std::unique_ptr<TVolumeSource> Open(const std::string& Path, std::string* Error = nullptr);
  // A partition of an image or disk: offsets count from Base, and nothing past Base + Length is
  // read. Length is clipped to what the source holds; a negative Length means "to the end".
  static std::unique_ptr<TVolumeSource> Open(const std::string& Path, std::int64_t Base, std::int64_t Length,
                                             std::string* Error = nullptr);
  ~TVolumeSource();
  TVolumeSource(const TVolumeSource&) = delete;
  TVolumeSource& operator=(const TVolumeSource&) = delete;

  // Bytes delivered; short at the end of the source or partition, 0 when the read fails.
  std::uint32_t Read(void* Buffer, std::uint32_t Count, std::int64_t Offset);

  const std::string& Path() const { return FPath; }
  std::int64_t Size() const { return FSize; }
  // Where offset 0 lies in the image's logical bytes (and in Descriptor's).
  std::int64_t Base() const { return FBase; }
  bool IsBlockDevice() const { return FBlockDevice; }
  // The block device itself, or for an image the device of the file system holding it.
  dev_t Device() const { return FDevice; }
  // The descriptor that holds the logical bytes as they are, for the kernel's copy; -1 when the
  // source is a container or split image, whose file bytes are not the volume's.
  int Descriptor() const;
  // Every file the bytes come from: the image, its other segments, its parents.
  std::vector<std::string> Files() const;

  // Read-ahead bounds: requests below the smallest window are served from it; larger ones only when
  // the window holds them already.
  static constexpr std::uint32_t kMinWindow = 64 * 1024;
  static constexpr std::uint32_t kMaxWindow = 1024 * 1024;

 private:
  TVolumeSource(std::unique_ptr<TImageReader> Image, std::string Path);
  std::uint32_t ReadDirect(void* Buffer, std::uint32_t Count, std::int64_t Offset) const;
  bool Refill(std::int64_t Offset);
  void ReadAheadFrom(std::int64_t Offset);

  std::unique_ptr<TImageReader> FImage;
  std::string FPath;
  std::int64_t FSize = 0;
  std::int64_t FBase = 0;
  bool FBlockDevice = false;
  dev_t FDevice = 0;
  struct TWindow {
    std::vector<std::uint8_t> Bytes;
    std::int64_t Offset = 0;
    std::uint32_t Length = 0;
    bool Holds(std::int64_t At) const { return At >= Offset && At < Offset + Length; }
  };
  TWindow FWindow;
  // The window of a long sequential run, kept while reads jump elsewhere and come back.
  TWindow FParked;
  std::uint32_t FWindowTarget = kMinWindow;
  std::unique_ptr<TReadAhead> FAhead;  // made on the first long sequential run
};

}  // namespace kestrine::platform
