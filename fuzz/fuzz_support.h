#pragma once
// Fuzz inputs as volume sources: the bytes live in an anonymous memory file, opened read-only by path.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

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

}  // namespace kestrine::fuzz
