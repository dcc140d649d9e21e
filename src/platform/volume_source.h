#pragma once
// A source of volume bytes (image file or block device), opened read-only, with read-ahead.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrine::platform {

// The only way this program opens a volume source. Never anything that can write.
int VolumeOpenFlags();

class TReadAhead;

class TVolumeSource {
 public:
  // Nil when the source cannot be opened; Error then says why.
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
  // Where offset 0 lies in the descriptor's bytes.
  std::int64_t Base() const { return FBase; }
  bool IsBlockDevice() const { return FBlockDevice; }
  // The block device itself, or for an image the device of the file system holding it.
  dev_t Device() const { return FDevice; }
  int Descriptor() const { return FFd; }

  // Read-ahead bounds: requests below the smallest window are served from it; larger ones only when
  // the window holds them already.
  static constexpr std::uint32_t kMinWindow = 64 * 1024;
  static constexpr std::uint32_t kMaxWindow = 1024 * 1024;

 private:
  TVolumeSource(int Fd, std::string Path);
  std::uint32_t ReadDirect(void* Buffer, std::uint32_t Count, std::int64_t Offset) const;
  bool Refill(std::int64_t Offset);
  void ReadAheadFrom(std::int64_t Offset);

  int FFd;
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
