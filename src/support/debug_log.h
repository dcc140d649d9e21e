#pragma once
// Diagnostic log "debug.log": one line per engine failure, never an error towards the caller.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace kestrine {

// Operation names the engines pass as the first argument of every message.
namespace OperationNames {
inline constexpr const char* CreateDiskScaner = "CreateDiskScaner";
inline constexpr const char* DiskListFillDiskListItems = "DiskList.FillDiskListItems";
inline constexpr const char* DiskScanerInit = "DiskScaner.Init";
inline constexpr const char* FatScanerInit = "FatScaner.Init";
inline constexpr const char* FatScanerAddDir = "FatScaner.AddDir";
inline constexpr const char* FatScanerGetNextCluster = "FatScaner.GetNextCluster";
inline constexpr const char* FatScanerReadDir = "FatScaner.ReadDir";
inline constexpr const char* FatScanerReadFileInfo = "FatScaner.ReadFileInfo";
inline constexpr const char* FatScanerAddFile = "FatScaner.AddFile";
inline constexpr const char* FatScanerGetDirClusChain = "FatScaner.GetDirClusChain";
inline constexpr const char* FatScanerGetFileClusChain = "FatScaner.GetFileClusChain";
inline constexpr const char* FatStreamCreate = "FatStream.Create";
inline constexpr const char* ExFatScanerInit = "ExFatScaner.Init";
inline constexpr const char* ExFatScanerReadDir = "ExFatScaner.ReadDir";
inline constexpr const char* ExFatScanerDataRuns = "ExFatScaner.DataRuns";
inline constexpr const char* ExFatScanerAddDir = "ExFatScaner.AddDir";
inline constexpr const char* ExFatScanerAddFile = "ExFatScaner.AddFile";
inline constexpr const char* FatStreamRead = "FatStream.Read";
inline constexpr const char* MftReaderOpenMftRec = "MftReader.OpenMftRec";
inline constexpr const char* MftReaderReadFileInfo = "MftReader.ReadFileInfo";
inline constexpr const char* MftReaderFindExternalAttribue = "MftReader.FindExternalAttribue";
inline constexpr const char* MftReaderDecompressRunList = "MftReader.DecompressRunList";
inline constexpr const char* MftReaderGetFileRunList = "MftReader.GetFileRunList";
inline constexpr const char* MftReaderInit = "MftReader.Init";
inline constexpr const char* NftsScanerAddFile = "NftsScaner.AddFile";
inline constexpr const char* MftReaderGetFileStreams = "MftReader.GetFileStreams";
inline constexpr const char* MftReaderGetFileDataStreamsRunList = "MftReader.GetFileDataStreamsRunList";
inline constexpr const char* NtfsScanerAddDir = "NtfsScaner.AddDir";
inline constexpr const char* MftReaderGetEfsData = "MftReader.GetEfsData";
}  // namespace OperationNames

// Message templates; the first placeholder is always the operation name.
namespace LogMessages {
inline constexpr const char* FileSystemReadFailed =
    "%s: attempt of reading Disk.FileSystem value raised exception; Disk = %x";
inline constexpr const char* AllocHandleFailed = "%s: Disk.AllocHandle raised exception; Disk = %x";
inline constexpr const char* DiskObjectFailed = "%s: unable to create DiskObject; Disk = %c";
inline constexpr const char* BpbReadFailed = "%s: unable to read BPB; Handle = %x";
inline constexpr const char* FatSectorReadFailed =
    "%s: unable to read FAT sector; Sector Number : %d; Offset : %d";
inline constexpr const char* GetMemFailed = "%s: GetMem unable to allocate memory block; P = %p; Size = %d";
inline constexpr const char* GetMemRaised = "%s: GetMem raised exception; P = %p; Size = %d";
inline constexpr const char* ReallocMemRaised = "%s: ReallocMem raised exception; P = %p; Size = %d";
inline constexpr const char* FreeMemRaised = "%s: FreeMem raised exceprion; P = %p";
inline constexpr const char* SetLengthRaisedHex = "%s: SetLength raised exception; S = %x; NewLength = %d";
inline constexpr const char* SetLengthRaised = "%s: SetLength raised exception; S = %p; NewLength = %d";
inline constexpr const char* CopyMemoryRaised = "%s: CopyMemory raised exception; Dst = %p; Src = %p; Size = %d";
inline constexpr const char* ReadMemoryFailed = "%s: unable to read memory at address %p";
inline constexpr const char* WriteMemoryFailed = "%s: unable to write memory at address %p";
inline constexpr const char* WideCharToStringRaised = "%s: WideCharToString raised exception; Source = %x";
inline constexpr const char* AssertError =
    "--- Assert Error --- Message: \"%s\", ErrorAddr: %p, LineNumber: %d, FileName: \"%s\"";
}  // namespace LogMessages

// One value for a placeholder. Integers keep their signedness so "%d" and "%x" can tell.
using TLogArg = std::variant<std::string, std::int64_t, std::uint64_t, char, const void*>;

// Formats Template with Args; false when they do not fit each other.
bool FormatLogMessage(std::string_view Template, const std::vector<TLogArg>& Args, std::string& Out);

// Appends one line; any failure loses the line silently.
void WriteLogLine(std::string_view Template, const std::vector<TLogArg>& Args);

template <typename T>
TLogArg ToLogArg(const T& Value) {
  if constexpr (std::is_same_v<T, char>) {
    return Value;
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return static_cast<std::int64_t>(Value);
  } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
    return static_cast<std::uint64_t>(Value);
  } else if constexpr (std::is_pointer_v<T> && !std::is_convertible_v<T, const char*>) {
    return static_cast<const void*>(Value);
  } else {
    return std::string(Value);
  }
}

template <typename... Args>
void WriteLog(std::string_view Template, const Args&... Values) {
  WriteLogLine(Template, std::vector<TLogArg>{ToLogArg(Values)...});
}

// The process-wide log file; empty means logging is off.
void SetLogFileName(std::string Path);
std::string LogFileName();

// Start-up and shut-down of the log: computes the path beside the executable (or the user's state
// folder when that is not writable), deletes a log left from an earlier run; clears the path at the end.
class TDebugLogSession {
 public:
  TDebugLogSession();
  ~TDebugLogSession();
  TDebugLogSession(const TDebugLogSession&) = delete;
  TDebugLogSession& operator=(const TDebugLogSession&) = delete;
};

// Where the log goes for an executable in ExeDir: beside it when writable, else under StateDir.
std::string ChooseLogPath(const std::string& ExeDir, const std::string& StateDir);

// Assertion handler: writes the assertion line and returns, so execution goes on.
void LogAssertError(std::string_view Message, std::string_view FileName, int LineNumber, const void* ErrorAddr);

// Reports a failed assertion with the caller's code address.
[[gnu::noinline]] void AssertFailed(const char* Message, const char* FileName, int LineNumber);

}  // namespace kestrine

// Our assertion: logs a failure and carries on instead of aborting.
#define KESTRINE_ASSERT(cond, message)                                        \
  do {                                                                        \
    if (!(cond)) ::kestrine::AssertFailed((message), __FILE__, __LINE__);     \
  } while (0)
