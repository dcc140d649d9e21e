// EnCase images (E01, EnCase 1 to 6) through libewf: the segments are found from the first one.

#include <fcntl.h>
#include <unistd.h>

#include <libdeflate.h>
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
        libewf_handle_get_chunk_size(handle, &image->FChunkSize, &error) != 1) {
      Error = "damaged E01 image: " + Text(error);
      return nullptr;
    }
    if (libewf_handle_segment_files_corrupted(handle, nullptr) == 1 || size == 0) {
      Error = "damaged E01 image: its headers do not describe the media";
      return nullptr;
    }
    if (image->FChunkSize == 0 || image->FChunkSize > (64u << 20) || !image->FInflater) {
      Error = "damaged E01 image: a chunk size of " + std::to_string(image->FChunkSize) + " bytes";
      return nullptr;
    }
    image->FSize = static_cast<std::int64_t>(size);
    // Room for a chunk that did not shrink when compressed, and its checksum.
    image->FStored.resize(image->FChunkSize + image->FChunkSize / 8 + 64);
    image->FChunk.resize(image->FChunkSize);
    return image;
  }

  std::int64_t Size() const override { return FSize; }

  std::uint32_t ReadAt(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) override {
    std::uint32_t done = 0;
    while (done < Count && Offset + done < FSize) {
      const std::int64_t at = Offset + done;
      const std::int64_t chunk = at - at % FChunkSize;
      const auto length = static_cast<std::uint32_t>(std::min<std::int64_t>(FChunkSize, FSize - chunk));
      // A whole chunk asked for goes straight into the caller's buffer.
      if (at == chunk && Count - done >= length && FCached != chunk) {
        if (!ReadChunk(chunk, length, Buffer + done)) break;
        done += length;
        continue;
      }
      if (FCached != chunk) {
        FCached = -1;
        if (!ReadChunk(chunk, length, FChunk.data())) break;
        FCached = chunk;
      }
      const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(Count - done, chunk + length - at));
      std::memcpy(Buffer + done, FChunk.data() + (at - chunk), n);
      done += n;
    }
    return done;
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
    void operator()(libdeflate_decompressor* D) const { libdeflate_free_decompressor(D); }
  };

  explicit TEwfImage(std::string Path) : FPath(std::move(Path)) {}

  // The chunk at Start, Length bytes of media, into To. libewf hands over the stored chunk and it is
  // inflated here, much faster than libewf would; a chunk whose zlib stream or checksum fails is false,
  // so its bytes are never data.
  bool ReadChunk(std::int64_t Start, std::uint32_t Length, std::uint8_t* To) {
    std::int8_t compressed = 0, separateChecksum = 0;
    std::uint32_t checksum = 0;
    std::array<std::uint8_t, 4> checksumBytes{};
    if (libewf_handle_seek_offset(FHandle.get(), Start, SEEK_SET, nullptr) != Start) return false;
    const ssize_t got = libewf_handle_read_chunk(FHandle.get(), FStored.data(), FStored.size(), &compressed,
                                                 checksumBytes.data(), &checksum, &separateChecksum, nullptr);
    if (got <= 0) return false;
    if (compressed) {
      std::size_t out = 0;
      return libdeflate_zlib_decompress(FInflater.get(), FStored.data(), static_cast<std::size_t>(got), To, Length,
                                        &out) == LIBDEFLATE_SUCCESS &&
             out == Length;
    }
    if (static_cast<std::size_t>(got) < Length) return false;
    // The checksum follows the data, unless libewf read it on its own.
    if (!separateChecksum && static_cast<std::size_t>(got) >= Length + 4u)
      std::memcpy(checksumBytes.data(), FStored.data() + Length, 4);
    if (!separateChecksum)
      checksum = checksumBytes[0] | (checksumBytes[1] << 8) | (checksumBytes[2] << 16) |
                 (static_cast<std::uint32_t>(checksumBytes[3]) << 24);
    if (libdeflate_adler32(1, FStored.data(), Length) != checksum) return false;
    std::memcpy(To, FStored.data(), Length);
    return true;
  }

  std::string FPath;
  std::vector<std::string> FFiles;
  std::int64_t FSize = 0;
  std::uint32_t FChunkSize = 32768;
  std::vector<std::uint8_t> FStored;  // a chunk as stored, compressed or with its checksum
  std::vector<std::uint8_t> FChunk;   // the last chunk read in part, inflated
  std::int64_t FCached = -1;
  std::unique_ptr<libdeflate_decompressor, TFree> FInflater{libdeflate_alloc_decompressor()};
  std::unique_ptr<libewf_handle_t, TFree> FHandle;
};

}  // namespace

std::unique_ptr<TImageReader> OpenEwfImage(const std::string& Path, std::string& Error) {
  return TEwfImage::Open(Path, Error);
}

}  // namespace kestrine::platform
