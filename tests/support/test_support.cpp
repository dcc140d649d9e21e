#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

#include "engine/volume/recovery_stream.h"

namespace kestrine::test {
namespace fs = std::filesystem;

TTempDir::TTempDir() {
  std::string pattern = (fs::temp_directory_path() / "kestrine-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them removable again.
  for (auto it = fs::recursive_directory_iterator(FPath, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(FPath, ec);
}

TScopedZone::TScopedZone(const std::string& Zone) {
  if (const char* tz = std::getenv("TZ")) FPrevious = tz;
  ::setenv("TZ", Zone.c_str(), 1);
  ::tzset();
}

TScopedZone::~TScopedZone() {
  if (FPrevious) ::setenv("TZ", FPrevious->c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

fs::path TestDataDir() {
  const char* dir = std::getenv("KESTRINE_TEST_DATA");
  return dir ? fs::path(dir) : fs::path("tests/data");
}

fs::path SharedDataDir() {
  const char* dir = std::getenv("KESTRINE_SHARED_DATA");
  return dir ? fs::path(dir) : fs::path("../shared/testdata");
}

fs::path UnpackImage(const fs::path& Xz, const fs::path& Dir) {
  const fs::path out = Dir / Xz.stem();
  const std::string cmd = "xz -dc " + ShellQuote(Xz.string()) + " > " + ShellQuote(out.string());
  return std::system(cmd.c_str()) == 0 ? out : fs::path();
}

void WriteFile(const fs::path& Path, const std::vector<std::uint8_t>& Bytes) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

std::vector<std::uint8_t> ReadFile(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::uint8_t> ReadByVolumeRanges(TRecoveryStream& Stream, const fs::path& Image, std::int64_t MaxRange,
                                             int* Ranges) {
  std::ifstream image(Image, std::ios::binary);
  std::vector<std::uint8_t> out, block(64 * 1024);
  for (;;) {
    const TVolumeRange range = Stream.NextVolumeRange(MaxRange);
    if (range.Length > 0) {
      EXPECT_LE(range.Length, MaxRange);
      const std::size_t at = out.size();
      out.resize(at + static_cast<std::size_t>(range.Length));
      image.seekg(range.Offset);
      image.read(reinterpret_cast<char*>(out.data() + at), static_cast<std::streamsize>(range.Length));
      if (image.gcount() != range.Length) {
        ADD_FAILURE() << "a range passes the image's end: " << range.Offset << " + " << range.Length;
        return out;
      }
      EXPECT_EQ(Stream.TakeVolumeBytes(range.Length), range.Length);
      if (Ranges) ++*Ranges;
      continue;
    }
    const std::uint32_t n = Stream.Read(block.data(), static_cast<std::uint32_t>(block.size()));
    if (n == 0) return out;
    out.insert(out.end(), block.begin(), block.begin() + n);
  }
}

void PutLe16(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint16_t V) {
  B.at(Offset) = V & 0xFF;
  B.at(Offset + 1) = V >> 8;
}
void PutLe32(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint32_t V) {
  PutLe16(B, Offset, V & 0xFFFF);
  PutLe16(B, Offset + 2, V >> 16);
}
void PutLe64(std::vector<std::uint8_t>& B, std::size_t Offset, std::uint64_t V) {
  PutLe32(B, Offset, V & 0xFFFFFFFF);
  PutLe32(B, Offset + 4, V >> 32);
}

std::string ShellQuote(const std::string& S) {
  std::string q = "'";
  for (char c : S) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TCommandResult RunCommand(const std::string& Command) {
  TCommandResult result;
  FILE* pipe = ::popen(Command.c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) result.Output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::filesystem::path MakeImage(const std::string& Kind, const std::filesystem::path& Raw,
                                const std::filesystem::path& Dir, std::string& Why) {
  const std::filesystem::path folder = Dir / (Kind + "-" + Raw.stem().string());
  std::filesystem::remove_all(folder);  // a fresh image each time: tests damage theirs
  std::filesystem::create_directories(folder);
  const std::string stem = (folder / Raw.stem()).string();
  const std::string raw = ShellQuote(Raw.string());
  struct TRecipe {
    std::string Kind, Tool, Command, Made;
  };
  const auto qemu = [&](const std::string& Name, const std::string& Options, const std::string& Extension) {
    return TRecipe{Name, "qemu-img", "qemu-img convert " + Options + " " + raw + " " + ShellQuote(stem + Extension),
                   stem + Extension};
  };
  const std::vector<TRecipe> recipes = {
      {"E01", "ewfacquire", "ewfacquire -u -q -c deflate:fast -S 1MiB -t " + ShellQuote(stem) + " " + raw + " </dev/null",
       stem + ".E01"},
      {"split", "split", "split -b 1M -d -a 3 --numeric-suffixes=1 " + raw + " " + ShellQuote(stem + "."), stem + ".001"},
      qemu("qcow2", "-O qcow2", ".qcow2"),
      qemu("vhdx", "-O vhdx", ".vhdx"),
      qemu("vmdk", "-O vmdk", ".vmdk"),
      qemu("vmdk-flat", "-O vmdk -o subformat=monolithicFlat", ".vmdk"),
      qemu("vhd", "-O vpc -o force_size=on", ".vhd"),
  };
  for (const TRecipe& r : recipes) {
    if (Kind != r.Kind) continue;
    if (RunCommand("command -v " + r.Tool + " >/dev/null").Status != 0) {
      Why = r.Tool + " is not installed";
      return {};
    }
    if (RunCommand(r.Command + " >/dev/null 2>&1").Status != 0 || !std::filesystem::exists(r.Made)) {
      Why = r.Tool + " could not make the " + Kind + " image";
      return {};
    }
    return r.Made;
  }
  Why = "no recipe for " + Kind;
  return {};
}

}  // namespace kestrine::test
