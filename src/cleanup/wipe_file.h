#pragma once
// Overwriting a file's contents in place, several passes over, before the caller deletes it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "platform/folder_handle.h"

namespace kestrine {

inline constexpr std::size_t kWipeBufferSize = 0x10000;
using TWipeBuffer = std::array<std::uint8_t, kWipeBufferSize>;

// Called after each pass; setting Cancel stops the wipe before the next one.
using TWipeProgressEvent = std::function<void(int PassesDone, int PassesTotal, bool& Cancel)>;
// Called before every write of pass Pass (from 1), Written of Size bytes into it; setting Cancel stops
// the wipe there, with what was written so far flushed. It lets a wipe on a worker report and stop
// within a large file.
using TWipeWriteEvent = std::function<void(int Pass, std::int64_t Written, std::int64_t Size, bool& Cancel)>;

// What a wipe writes to: an open file, or a stand-in.
class TWipeStream {
 public:
  virtual ~TWipeStream() = default;
  virtual std::error_code Size(std::int64_t& Bytes) = 0;
  virtual std::error_code Rewind() = 0;
  // Writes all Count bytes or reports why it could not.
  virtual std::error_code Write(const std::uint8_t* Data, std::size_t Count) = 0;
  // Brings the written bytes to the disk.
  virtual std::error_code Flush() = 0;
};

enum class TWipeStatus {
  Wiped,
  Cancelled,    // a handler stopped it; the file is partly overwritten (PassesDone whole passes)
  Missing,      // no regular file of that name; nothing was done
  OpenFailed,   // the file cannot be opened for writing; nothing was written
  WriteFailed,  // a write or flush failed; the contents may be partly overwritten
  HasOtherNames,  // other hard links would lose their data too; nothing was written
  Replaced,       // the name holds another file than the one expected; nothing was done
};

struct TWipeResult {
  TWipeStatus Status = TWipeStatus::Wiped;
  std::string Message;  // the reason of a failure
  int PassesDone = 0;
  int Passes = 0;       // the clamped count asked for; 0 when nothing was begun
  bool Wiped() const { return Status == TWipeStatus::Wiped; }
};

// 0 becomes 1, anything above 10 becomes 10.
int ClampWipePasses(int Passes);

// Every byte is the low 8 bits of a draw below 1024 from the process-wide generator.
void FillRandomBuffer(TWipeBuffer& Buffer);

// The passes over an open stream: zeros, then 0xFF bytes, then the random buffer; each pass starts
// at another offset into its pattern and writes exactly the stream's size, so the length is kept.
TWipeResult WipeStream(TWipeStream& Stream, const TWipeBuffer& RandomBuffer, int Passes,
                       const TWipeProgressEvent& OnProgress = {}, const TWipeWriteEvent& OnWrite = {});

// Wipes the named regular file; a symbolic link is never followed, nothing is deleted. A file with
// more than one name is left alone: its other names would keep the overwritten data.
TWipeResult WipeFile(const std::string& FileName, int Passes, const TWipeProgressEvent& OnProgress = {},
                     const TWipeWriteEvent& OnWrite = {});

// The same for Name inside an open folder. When Expected is known, the file must still be that one.
// Anything but a regular file (a FIFO, a device) is never opened.
TWipeResult WipeFileIn(const platform::TFolderHandle& Folder, const std::string& Name, int Passes,
                       const platform::TFileIdentity& Expected = {}, const TWipeProgressEvent& OnProgress = {},
                       const TWipeWriteEvent& OnWrite = {});

}  // namespace kestrine
