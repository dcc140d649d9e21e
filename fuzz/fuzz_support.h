#pragma once
// Fuzz inputs as volume sources: the bytes live in an anonymous memory file, opened read-only by path.
// And the check that a recovery stream's volume ranges give what its Read gives.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/volume/recovery_stream.h"

namespace kestrine::fuzz {

class TMemoryImage {
 public:
  TMemoryImage(const std::uint8_t* Data, std::size_t Size) : FFd(::memfd_create("kestrine-fuzz", MFD_CLOEXEC)) {
    std::size_t done = 0;
    while (FFd >= 0 && done < Size) {
      const ssize_t n = ::write(FFd, Data + done, Size - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  ~TMemoryImage() {
    if (FFd >= 0) ::close(FFd);
  }
  TMemoryImage(const TMemoryImage&) = delete;
  TMemoryImage& operator=(const TMemoryImage&) = delete;

  bool Ok() const { return FFd >= 0; }
  // A path that TVolumeSource::Open reopens read-only.
  std::string Path() const { return "/proc/self/fd/" + std::to_string(FFd); }

 private:
  int FFd;
};

// Up to Limit bytes of two streams over one item from their start: Plain by Read alone, Ranged by its
// volume ranges taken from Image with Read for the rest. Traps when a range leaves the image or the
// two differ.
inline void CheckVolumeRanges(TRecoveryStream& Plain, TRecoveryStream& Ranged, std::span<const std::uint8_t> Image,
                              std::size_t Limit) {
  std::vector<std::uint8_t> expected, got, block(65536);
  while (expected.size() < Limit) {
    const std::uint32_t n = Plain.Read(block.data(), static_cast<std::uint32_t>(block.size()));
    if (n == 0) break;
    expected.insert(expected.end(), block.begin(), block.begin() + n);
  }
  while (got.size() < Limit) {
    const TVolumeRange range = Ranged.NextVolumeRange(static_cast<std::int64_t>(Limit - got.size()));
    if (range.Length > 0) {
      if (range.Offset < 0 || static_cast<std::uint64_t>(range.Offset) > Image.size() ||
          static_cast<std::uint64_t>(range.Length) > Image.size() - static_cast<std::uint64_t>(range.Offset) ||
          static_cast<std::uint64_t>(range.Length) > Limit - got.size())
        __builtin_trap();
      const auto from = Image.subspan(static_cast<std::size_t>(range.Offset), static_cast<std::size_t>(range.Length));
      got.insert(got.end(), from.begin(), from.end());
      if (Ranged.TakeVolumeBytes(range.Length) != range.Length) __builtin_trap();
      continue;
    }
    const std::uint32_t n = Ranged.Read(block.data(), static_cast<std::uint32_t>(block.size()));
    if (n == 0) break;
    got.insert(got.end(), block.begin(), block.begin() + n);
  }
  expected.resize(std::min(expected.size(), Limit));
  got.resize(std::min(got.size(), Limit));
  if (got != expected) __builtin_trap();
}

}  // namespace kestrine::fuzz
