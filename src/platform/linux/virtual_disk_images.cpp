// Virtual machines' disks: qcow2 (libqcow), VHD and VHDX (libvhdi), VMDK (libvmdk). The three
// libraries share one shape, so one reader serves them; a differencing image is read over its parent.

#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <filesystem>
#include <vector>

#include "platform/image_reader.h"
#include "platform/linux/library_errors.h"

namespace kestrine::platform {
namespace {
namespace fs = std::filesystem;

struct TQcow {
  using THandle = libqcow_file_t;
  using TError = libqcow_error_t;
  static constexpr const char* Name = "qcow2";
  static int Init(THandle** H, TError** E) { return libqcow_file_initialize(H, E); }
  static int Open(THandle* H, const std::string& Path, TError** E) {
    return libqcow_file_open(H, Path.c_str(), LIBQCOW_OPEN_READ, E);
  }
  static void Free(THandle* H) {
    libqcow_file_close(H, nullptr);
    libqcow_file_free(&H, nullptr);
  }
  static ssize_t Read(THandle* H, void* Buffer, std::size_t Count, std::int64_t At, TError** E) {
    return libqcow_file_read_buffer_at_offset(H, Buffer, Count, At, E);
  }
  static int MediaSize(THandle* H, size64_t* Size, TError** E) { return libqcow_file_get_media_size(H, Size, E); }
  static std::string ParentName(THandle* H) {
    return Utf8Value(H, libqcow_file_get_utf8_backing_filename_size, libqcow_file_get_utf8_backing_filename);
  }
  static int SetParent(THandle* H, THandle* Parent, TError** E) { return libqcow_file_set_parent_file(H, Parent, E); }
  static std::string Refusal(THandle* H) {
    std::uint32_t method = LIBQCOW_ENCRYPTION_METHOD_NONE;
    libqcow_file_get_encryption_method(H, &method, nullptr);
    return method == LIBQCOW_ENCRYPTION_METHOD_NONE ? "" : "an encrypted qcow2 image, which cannot be read without its key";
  }
  static std::vector<std::string> DataFiles(THandle*, const std::string&) { return {}; }
  static std::string Text(TError* E) { return LibraryErrorText(E, libqcow_error_backtrace_sprint, libqcow_error_free); }
};

struct TVhdi {
  using THandle = libvhdi_file_t;
  using TError = libvhdi_error_t;
  static constexpr const char* Name = "VHD";
  static int Init(THandle** H, TError** E) { return libvhdi_file_initialize(H, E); }
  static int Open(THandle* H, const std::string& Path, TError** E) {
    return libvhdi_file_open(H, Path.c_str(), LIBVHDI_OPEN_READ, E);
  }
  static void Free(THandle* H) {
    libvhdi_file_close(H, nullptr);
    libvhdi_file_free(&H, nullptr);
  }
  static ssize_t Read(THandle* H, void* Buffer, std::size_t Count, std::int64_t At, TError** E) {
    return libvhdi_file_read_buffer_at_offset(H, Buffer, Count, At, E);
  }
  static int MediaSize(THandle* H, size64_t* Size, TError** E) { return libvhdi_file_get_media_size(H, Size, E); }
  static std::string ParentName(THandle* H) {
    std::uint32_t type = 0;
    if (libvhdi_file_get_disk_type(H, &type, nullptr) != 1 || type != LIBVHDI_DISK_TYPE_DIFFERENTIAL) return {};
    return Utf8Value(H, libvhdi_file_get_utf8_parent_filename_size, libvhdi_file_get_utf8_parent_filename);
  }
  static int SetParent(THandle* H, THandle* Parent, TError** E) { return libvhdi_file_set_parent_file(H, Parent, E); }
  static std::string Refusal(THandle*) { return {}; }
  static std::vector<std::string> DataFiles(THandle*, const std::string&) { return {}; }
  static std::string Text(TError* E) { return LibraryErrorText(E, libvhdi_error_backtrace_sprint, libvhdi_error_free); }
};

struct TVmdk {
  using THandle = libvmdk_handle_t;
  using TError = libvmdk_error_t;
  static constexpr const char* Name = "VMDK";
  static int Init(THandle** H, TError** E) { return libvmdk_handle_initialize(H, E); }
  // The descriptor first, then the extents it names, which lie beside it.
  static int Open(THandle* H, const std::string& Path, TError** E) {
    if (libvmdk_handle_open(H, Path.c_str(), LIBVMDK_OPEN_READ, E) != 1) return -1;
    const std::string folder = fs::path(Path).parent_path().string();
    if (!folder.empty() && libvmdk_handle_set_extent_data_files_path(H, folder.c_str(), folder.size(), E) != 1)
      return -1;
    return libvmdk_handle_open_extent_data_files(H, E);
  }
  static void Free(THandle* H) {
    libvmdk_handle_close(H, nullptr);
    libvmdk_handle_free(&H, nullptr);
  }
  static ssize_t Read(THandle* H, void* Buffer, std::size_t Count, std::int64_t At, TError** E) {
    return libvmdk_handle_read_buffer_at_offset(H, Buffer, Count, At, E);
  }
  static int MediaSize(THandle* H, size64_t* Size, TError** E) { return libvmdk_handle_get_media_size(H, Size, E); }
  static std::string ParentName(THandle* H) {
    return Utf8Value(H, libvmdk_handle_get_utf8_parent_filename_size, libvmdk_handle_get_utf8_parent_filename);
  }
  static int SetParent(THandle* H, THandle* Parent, TError** E) { return libvmdk_handle_set_parent_handle(H, Parent, E); }
  static std::string Refusal(THandle*) { return {}; }
  // The extents the descriptor names, which lie beside it; a sparse image is its own only extent.
  static std::vector<std::string> DataFiles(THandle* H, const std::string& Path) {
    std::vector<std::string> files;
    int count = 0;
    if (libvmdk_handle_get_number_of_extents(H, &count, nullptr) != 1) return files;
    for (int i = 0; i < count; ++i) {
      libvmdk_extent_descriptor_t* extent = nullptr;
      if (libvmdk_handle_get_extent_descriptor(H, i, &extent, nullptr) != 1) continue;
      const std::string name = Utf8Value(extent, libvmdk_extent_descriptor_get_utf8_filename_size,
                                         libvmdk_extent_descriptor_get_utf8_filename);
      libvmdk_extent_descriptor_free(&extent, nullptr);
      const fs::path file = fs::path(Path).parent_path() / fs::path(name).filename();
      if (!name.empty() && file != fs::path(Path)) files.push_back(file.string());
    }
    return files;
  }
  static std::string Text(TError* E) { return LibraryErrorText(E, libvmdk_error_backtrace_sprint, libvmdk_error_free); }
};

// Parents of parents are followed this far; a chain that goes on is a loop.
constexpr int kMaxParents = 64;

// Where an image says its parent is: as named, else beside the image (a chain moved as a whole).
std::string LocateParent(const std::string& Image, const std::string& Named) {
  std::string name = Named;
  for (char& c : name)
    if (c == '\\') c = '/';
  const fs::path folder = fs::path(Image).parent_path();
  std::error_code ec;
  for (const fs::path& candidate : {fs::path(name).is_absolute() ? fs::path(name) : folder / name,
                                    folder / fs::path(name).filename()})
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  return {};
}

template <class Lib>
class TVirtualDisk final : public TImageReader {
 public:
  static std::unique_ptr<TVirtualDisk> Open(const std::string& Path, std::string& Error, int Depth = 0) {
    std::unique_ptr<TVirtualDisk> disk(new TVirtualDisk(Path));
    typename Lib::TError* error = nullptr;
    typename Lib::THandle* handle = nullptr;
    if (Lib::Init(&handle, &error) != 1) {
      Error = Lib::Text(error);
      return nullptr;
    }
    disk->FHandle.reset(handle);
    if (Lib::Open(handle, Path, &error) != 1) {
      Error = std::string("damaged ") + Lib::Name + " image: " + Lib::Text(error);
      return nullptr;
    }
    if (Error = Lib::Refusal(handle); !Error.empty()) return nullptr;
    if (!disk->OpenParent(Error, Depth)) return nullptr;
    size64_t size = 0;
    if (Lib::MediaSize(handle, &size, &error) != 1) {
      Error = std::string("damaged ") + Lib::Name + " image: " + Lib::Text(error);
      return nullptr;
    }
    disk->FSize = static_cast<std::int64_t>(size);
    disk->FFiles = Lib::DataFiles(handle, Path);
    disk->FFiles.insert(disk->FFiles.begin(), Path);
    return disk;
  }

  std::int64_t Size() const override { return FSize; }

  std::uint32_t ReadAt(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) override {
    return ReadPrefix(Buffer, Count, Offset, kReadUnit, [this](std::uint8_t* To, std::uint32_t N, std::int64_t At) {
      return Lib::Read(FHandle.get(), To, N, At, nullptr);
    });
  }

  std::unique_ptr<TImageReader> Reopen() const override {
    std::string ignored;
    return Open(FPath, ignored);
  }

  std::vector<std::string> Files() const override {
    std::vector<std::string> files = FFiles;
    if (FParent) {
      const auto above = FParent->Files();
      files.insert(files.end(), above.begin(), above.end());
    }
    return files;
  }

 private:
  // A failing read is retried in these steps, to hand out what lies before the bad part.
  static constexpr std::uint32_t kReadUnit = 4096;
  struct TFree {
    void operator()(typename Lib::THandle* H) const { Lib::Free(H); }
  };

  explicit TVirtualDisk(std::string Path) : FPath(std::move(Path)) {}

  bool OpenParent(std::string& Error, int Depth) {
    const std::string named = Lib::ParentName(FHandle.get());
    if (named.empty()) return true;
    const std::string found = LocateParent(FPath, named);
    if (found.empty() || Depth >= kMaxParents) {
      Error = std::string("a differencing ") + Lib::Name + " image whose parent " + named + " is missing";
      return false;
    }
    FParent = Open(found, Error, Depth + 1);
    if (!FParent) {
      Error = "parent " + found + ": " + Error;
      return false;
    }
    typename Lib::TError* error = nullptr;
    if (Lib::SetParent(FHandle.get(), FParent->FHandle.get(), &error) != 1) {
      Error = "parent " + found + ": " + Lib::Text(error);
      return false;
    }
    return true;
  }

  std::string FPath;
  std::vector<std::string> FFiles;  // its own: the image, and the extents it names
  std::int64_t FSize = 0;
  std::unique_ptr<TVirtualDisk> FParent;  // outlives the handle that reads through it
  std::unique_ptr<typename Lib::THandle, TFree> FHandle;
};

}  // namespace

std::unique_ptr<TImageReader> OpenQcowImage(const std::string& Path, std::string& Error) {
  return TVirtualDisk<TQcow>::Open(Path, Error);
}
std::unique_ptr<TImageReader> OpenVhdImage(const std::string& Path, std::string& Error) {
  return TVirtualDisk<TVhdi>::Open(Path, Error);
}
std::unique_ptr<TImageReader> OpenVmdkImage(const std::string& Path, std::string& Error) {
  return TVirtualDisk<TVmdk>::Open(Path, Error);
}

}  // namespace kestrine::platform
