#pragma once
// The logical bytes of a volume source, one back end per image format: plain files (one, or split
// into numbered pieces), block devices, E01, qcow2, VHD/VHDX and VMDK. All read-only.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::platform {

class TImageReader {
 public:
  virtual ~TImageReader() = default;

  // Logical size in bytes.
  virtual std::int64_t Size() const = 0;
  // Count bytes at Offset; fewer where the image ends or a read fails (then what lies before the
  // failure), so bytes that cannot be had are never handed out as data.
  virtual std::uint32_t ReadAt(std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) = 0;
  // Another reader of the same image with state of its own, for another thread; nil when none.
  virtual std::unique_ptr<TImageReader> Reopen() const = 0;
  // Every file the bytes come from: segments, extents, parents.
  virtual std::vector<std::string> Files() const = 0;
  // The descriptor that holds the logical bytes as they are, from its offset 0; -1 when no single
  // file does (containers, split images). Only such bytes may be copied by the kernel.
  virtual int PlainDescriptor() const { return -1; }
};

// What a file's first and last bytes say it is. A fixed VHD is its disk's bytes and a footer.
enum class TImageFormat { Raw, Ewf, EwfVersion2, Qcow, Vhd, VhdFixed, Vhdx, Vmdk };
inline constexpr std::int64_t kVhdFooterSize = 512;
TImageFormat DetectImageFormat(std::span<const std::uint8_t> Head, std::span<const std::uint8_t> Tail);

// The pieces of a split image named like "disk.001", "disk.002", ... from the first one's name, as
// far as they go on without a gap; empty when Path does not name a first piece. Exists says whether
// a name is there; Missing gets the name of a gap that later pieces follow.
std::vector<std::string> SplitImagePieces(std::string_view Path, bool (*Exists)(const std::string&),
                                          std::string& Missing);

// Opens Path by its content. Nil when it cannot be, with Error saying why in one line.
std::unique_ptr<TImageReader> OpenImage(const std::string& Path, std::string& Error);

// The back ends of the container formats, for OpenImage.
std::unique_ptr<TImageReader> OpenEwfImage(const std::string& Path, std::string& Error);
std::unique_ptr<TImageReader> OpenQcowImage(const std::string& Path, std::string& Error);
std::unique_ptr<TImageReader> OpenVhdImage(const std::string& Path, std::string& Error);
std::unique_ptr<TImageReader> OpenVmdkImage(const std::string& Path, std::string& Error);

}  // namespace kestrine::platform
