#pragma once
// What a wipe of many files needs from whoever watches it from another thread: somewhere to say how
// far it is, and a way to be told to stop.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrine {

struct TWipeProgress {
  std::size_t File = 0;  // the file being wiped, from 1
  std::size_t Files = 0;
  int Pass = 0;  // the running pass, from 1
  int Passes = 0;
  std::int64_t Written = 0;  // bytes of the running pass
  std::int64_t Size = 0;     // of the file
  std::string Path;
};

// Called on the wiping thread, before each file and before each write.
class TWipeWatch {
 public:
  virtual ~TWipeWatch() = default;
  virtual void Progress(const TWipeProgress& Where) = 0;
  // True stops the wipe at once: no further write, no further file.
  virtual bool CancelRequested() const = 0;
};

}  // namespace kestrine
