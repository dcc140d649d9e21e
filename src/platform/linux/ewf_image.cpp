// EnCase images (E01, EnCase 1 to 6) through libewf: the segments are found from the first one.

#include <fcntl.h>
#include <unistd.h>

#include <libewf.h>

#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "platform/image_reader.h"
#include "platform/linux/library_errors.h"

namespace kestrine::platform {
namespace {

std::string Text(libewf_error_t* Error) { return LibraryErrorText(Error, libewf_error_backtrace_sprint, libewf_error_free); }

// The segment after Name: E01 ... E99, then EAA ... EZZ, FAA ...
std::string NextSegmentName(std::string Name) {
  if (Name.size() < 3) return Name;
  char* ext = Name.data() + Name.size() - 3;
  if (std::isdigit(static_cast<unsigned char>(ext[1])) && std::isdigit(static_cast<unsigned char>(ext[2]))) {
    const int next = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
    if (next < 100) {
      ext[1] = static_cast<char>('0' + next / 10);
      ext[2] = static_cast<char>('0' + next % 10);
    } else {
      ext[1] = ext[2] = std::isupper(static_cast<unsigned char>(ext[0])) ? 'A' : 'a';
    }
    return Name;
  }
  for (int i = 2; i >= 0; --i) {
    const char last = std::isupper(static_cast<unsigned char>(ext[i])) ? 'Z' : 'z';
    if (ext[i] != last) {
      ++ext[i];
      return Name;
    }
    ext[i] = static_cast<char>(last - 25);
  }
  return Name;
}

// Every segment ends with a section that says whether another follows ("next") or not ("done"): a
// set whose last segment ends in "next" lacks the following one, and a segment that ends in neither,
// or in "done" before the last, was cut off.
std::string CheckSegmentEnd(const std::string& Segment, bool Last) {
  constexpr std::size_t kSectionSize = 76;
  std::array<char, kSectionSize> section{};
  const int fd = ::open(Segment.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Segment + ": " + std::strerror(errno);
  const off_t end = ::lseek(fd, 0, SEEK_END);
  const bool read = end >= static_cast<off_t>(kSectionSize) &&
                    ::pread(fd, section.data(), kSectionSize, end - static_cast<off_t>(kSectionSize)) ==
                        static_cast<ssize_t>(kSectionSize);
  ::close(fd);
  const std::string type(section.data(), ::strnlen(section.data(), 16));
  if (read && type == (Last ? "done" : "next")) return {};
  if (read && Last && type == "next") return "segment " + NextSegmentName(Segment) + " of the E01 image is missing";
  return "segment " + Segment + " of the E01 image is truncated or damaged (it has no closing section)";
}

class TEwfImage final : public TImageReader {
 public:
  static std::unique_ptr<TEwfImage> Open(const std::string& Path, std::string& Error) {
    std::unique_ptr<TEwfImage> image(new TEwfImage(Path));
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(Path.c_str(), Path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1) {
      Error = "E01 segments not found: " + Text(error);
      return nullptr;
    }
    image->FFiles.assign(names, names + count);
    libewf_glob_free(names, count, nullptr);
    if (image->FFiles.empty()) {
      Error = "E01 segments not found";
      return nullptr;
    }
    for (const std::string& segment : image->FFiles)
      if (Error = CheckSegmentEnd(segment, &segment == &image->FFiles.back()); !Error.empty()) return nullptr;
    libewf_handle_t* handle = nullptr;
    if (libewf_handle_initialize(&handle, &error) != 1) {
      Error = Text(error);
      return nullptr;
    }
    image->FHandle.reset(handle);
    std::vector<char*> list;
    for (std::string& name : image->FFiles) list.push_back(name.data());
    size64_t size = 0;
    if (libewf_handle_open(handle, list.data(), static_cast<int>(list.size()), LIBEWF_OPEN_READ, &error) != 1 ||
        libewf_handle_get_media_size(handle, &size, &error) != 1 ||
        libewf_handle_get_chunk_size(handle, &image->FChunk, &error) != 1) {
      Error = "damaged E01 image: " + Text(error);
      return nullptr;
    }
    if (libewf_handle_segment_files_corrupted(handle, nullptr) == 1 || size == 0) {
      Error = "damaged E01 image: its headers do not describe the media";
      return nullptr;
    }
    if (image->FChunk == 0) image->FChunk = 32768;
    image->FSize = static_cast<std::int64_t>(size);
    return image;
  }

  std::int64_t Size() const override { return FSize; }

  std::uint32_t ReadAt(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) override {
    const std::uint32_t got = ReadPrefix(Buffer, Count, Offset, FChunk, [this](std::uint8_t* To, std::uint32_t N, std::int64_t At) {
      return libewf_handle_read_random(FHandle.get(), To, N, At, nullptr);
    });
    NoteChecksumErrors();
    return CutAtBadChunk(Offset, got);
  }

  std::unique_ptr<TImageReader> Reopen() const override {
    std::string ignored;
    return Open(FPath, ignored);
  }

  std::vector<std::string> Files() const override { return FFiles; }

 private:
  struct TFree {
    void operator()(libewf_handle_t* H) const {
      libewf_handle_close(H, nullptr);
      libewf_handle_free(&H, nullptr);
    }
  };
  struct TRange {
    std::int64_t Start, End;
  };

  explicit TEwfImage(std::string Path) : FPath(std::move(Path)) {}

  // A chunk whose checksum fails is still handed over by libewf; it is recorded, and its bytes are
  // not data.
  void NoteChecksumErrors() {
    std::uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(FHandle.get(), &count, nullptr) != 1) return;
    std::uint32_t bytesPerSector = 512;
    libewf_handle_get_bytes_per_sector(FHandle.get(), &bytesPerSector, nullptr);
    for (; FKnownErrors < count; ++FKnownErrors) {
      std::uint64_t first = 0, sectors = 0;
      if (libewf_handle_get_checksum_error(FHandle.get(), FKnownErrors, &first, &sectors, nullptr) != 1) continue;
      const auto start = static_cast<std::int64_t>(first * bytesPerSector);
      FBad.push_back({start, start + static_cast<std::int64_t>(sectors * bytesPerSector)});
    }
  }

  std::uint32_t CutAtBadChunk(std::int64_t Offset, std::uint32_t Got) const {
    std::int64_t end = Offset + Got;
    for (const TRange& bad : FBad)
      if (bad.Start < end && bad.End > Offset) end = std::max(Offset, bad.Start);
    return static_cast<std::uint32_t>(end - Offset);
  }

  std::string FPath;
  std::vector<std::string> FFiles;
  std::int64_t FSize = 0;
  std::uint32_t FChunk = 32768;
  std::uint32_t FKnownErrors = 0;
  std::vector<TRange> FBad;
  std::unique_ptr<libewf_handle_t, TFree> FHandle;
};

}  // namespace

std::unique_ptr<TImageReader> OpenEwfImage(const std::string& Path, std::string& Error) {
  return TEwfImage::Open(Path, Error);
}

}  // namespace kestrine::platform
