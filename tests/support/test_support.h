#pragma once
// Shared helpers of the test suites: scratch folders, fixture images, hand-made volumes.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrine {
class TRecoveryStream;
}

namespace kestrine::test {

// A fresh folder removed with everything in it at the end of the test.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& Name) const { return FPath / Name; }

 private:
  std::filesystem::path FPath;
};

// The process's time zone for the length of a test; the previous TZ comes back afterwards.
class TScopedZone {
 public:
  explicit TScopedZone(const std::string& Zone);
  ~TScopedZone();
  TScopedZone(const TScopedZone&) = delete;
  TScopedZone& operator=(const TScopedZone&) = delete;

 private:
  std::optional<std::string> FPrevious;
};

// tests/data of the project, and the shared real-volume folder.
std::filesystem::path TestDataDir();
std::filesystem::path SharedDataDir();

// Unpacks an .xz image into Dir and returns the unpacked file; empty path when it cannot.
std::filesystem::path UnpackImage(const std::filesystem::path& Xz, const std::filesystem::path& Dir);

void WriteFile(const std::filesystem::path& Path, const std::vector<std::uint8_t>& Bytes);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& Path);

// Little-endian stores into a byte buffer that tests build volumes in.
void PutLe16(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint16_t V);
void PutLe32(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint32_t V);
void PutLe64(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint64_t V);

// The stream's bytes from its position on as a caller that copies the volume ranges itself gets
// them: each range of at most MaxRange bytes read from Image at its offset, the rest through Read
// in 64 KiB blocks. Ranges, when given, counts the ranges taken.
std::vector<std::uint8_t> ReadByVolumeRanges(TRecoveryStream& Stream, const std::filesystem::path& Image,
                                             std::int64_t MaxRange, int* Ranges = nullptr);

// Runs a shell command, returning its exit status and standard output.
struct TCommandResult {
  int Status = -1;
  std::string Output;
};
TCommandResult RunCommand(const std::string& Command);
std::string ShellQuote(const std::string& S);

// Raw as an image of Kind, made by the field's tools under Raw's name into a folder of its own in
// Dir: "E01" (compressed, 1 MiB segments), "qcow2", "vhdx", "vmdk", "vmdk-flat" (a descriptor and
// one extent file), "vhd", "split" (1 MiB pieces .001, .002, ...). The path of the first file; empty with Why set when the tool is missing or fails.
std::filesystem::path MakeImage(const std::string& Kind, const std::filesystem::path& Raw,
                                const std::filesystem::path& Dir, std::string& Why);

}  // namespace kestrine::test
