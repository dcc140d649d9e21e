#include "platform/drive_probe.h"

#include <blkid/blkid.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "platform/probe_regions.h"
#include "platform/volume_source.h"

namespace kestrine::platform {
namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

std::string ReadFirstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return Trim(line);
}

// mountinfo escapes blanks and a few other bytes as octal "\040".
std::string UnescapeMountField(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool octal = s[i] == '\\' && i + 3 < s.size() &&
                       s.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos;
    if (octal) {
      out += static_cast<char>(std::strtol(std::string(s.substr(i + 1, 3)).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

TDriveType ClassifyBlockDevice(const std::string& name, const fs::path& sysDir) {
  if (name.starts_with("sr")) return TDriveType::CdRom;
  if (ReadFirstLine(sysDir / "device" / "type") == "5") return TDriveType::CdRom;
  if (name.starts_with("nbd") || name.starts_with("rbd")) return TDriveType::Remote;
  if (name.starts_with("ram") || name.starts_with("zram") || name.starts_with("pmem")) return TDriveType::RamDisk;
  // Partitions inherit the removable flag of their disk.
  fs::path disk = fs::exists(sysDir / "partition") ? sysDir.parent_path() : sysDir;
  std::error_code ec;
  const fs::path real = fs::canonical(sysDir, ec);
  if (!ec && fs::exists(real / "partition")) disk = real.parent_path();
  if (ReadFirstLine(disk / "removable") == "1") return TDriveType::Removable;
  return TDriveType::Fixed;
}

class TFd {
 public:
  explicit TFd(int Fd) : F(Fd) {}
  ~TFd() {
    if (F >= 0) ::close(F);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return F; }

 private:
  int F;
};

// A memory file as long as Source, holding Source's bytes where libblkid looks: the first and last
// MiB and the regions its boot sector points at. The rest reads as zeros. -1 when it cannot be made.
int ProbeCopy(TVolumeSource& Source) {
  constexpr std::int64_t kEdge = 1 << 20;
  const int fd = ::memfd_create("kestrine-probe", MFD_CLOEXEC);
  if (fd < 0 || ::ftruncate(fd, Source.Size()) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  std::vector<std::uint8_t> bytes(kEdge);
  const auto copy = [&](TProbeRegion R) {
    R.Offset = std::clamp<std::int64_t>(R.Offset, 0, Source.Size());
    R.Length = std::clamp<std::int64_t>(R.Length, 0, std::min(kEdge, Source.Size() - R.Offset));
    const std::uint32_t got = Source.Read(bytes.data(), static_cast<std::uint32_t>(R.Length), R.Offset);
    return got > 0 && ::pwrite(fd, bytes.data(), got, R.Offset) == static_cast<ssize_t>(got);
  };
  copy({Source.Size() - kEdge, kEdge});
  std::array<std::uint8_t, 512> boot{};
  if (Source.Read(boot.data(), boot.size(), 0) == boot.size())
    for (const TProbeRegion& r : ProbedRegions(boot)) copy(r);
  copy({0, kEdge});
  return fd;
}

}  // namespace

bool IsRecoverableDriveType(TDriveType Type) {
  return Type == TDriveType::Removable || Type == TDriveType::Fixed || Type == TDriveType::RamDisk;
}

TDriveMapResult ParseDriveMap(std::string_view Map) {
  TDriveMapResult result;
  std::set<char> seen;
  std::size_t pos = 0;
  while (pos <= Map.size()) {
    std::size_t end = Map.find(';', pos);
    if (end == std::string_view::npos) end = Map.size();
    const std::string entry = Trim(Map.substr(pos, end - pos));
    pos = end + 1;
    if (entry.empty()) continue;
    const std::size_t eq = entry.find('=');
    const std::string letter = eq == std::string::npos ? entry : Trim(entry.substr(0, eq));
    const std::string source = eq == std::string::npos ? std::string() : Trim(entry.substr(eq + 1));
    if (eq == std::string::npos || letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0])) ||
        source.empty()) {
      result.Errors.push_back("KESTRINE_DRIVES: malformed entry \"" + entry + "\" (expected letter=path)");
      continue;
    }
    const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(letter[0])));
    if (!seen.insert(l).second) {
      result.Errors.push_back("KESTRINE_DRIVES: " + entry + ": drive letter " + l + " is mapped twice");
      continue;
    }
    std::string error;
    auto probe = TVolumeSource::Open(source, &error);
    if (!probe) {
      result.Errors.push_back("KESTRINE_DRIVES: " + entry + ": " + error);
      continue;
    }
    TDriveSpec drive;
    drive.Letter = l;
    drive.Source = source;
    drive.MountPoint = probe->IsBlockDevice() ? FindMountPoint(probe->Device()) : FindLoopMountPoint(source);
    result.Drives.push_back(std::move(drive));
  }
  return result;
}

TDriveMapResult DriveMapFromEnvironment() {
  const char* map = std::getenv("KESTRINE_DRIVES");
  return map ? ParseDriveMap(map) : TDriveMapResult{};
}

bool DeviceOrderLess(std::string_view A, std::string_view B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    if (std::isdigit(static_cast<unsigned char>(A[i])) && std::isdigit(static_cast<unsigned char>(B[j]))) {
      std::size_t ie = i, je = j;
      while (ie < A.size() && std::isdigit(static_cast<unsigned char>(A[ie]))) ++ie;
      while (je < B.size() && std::isdigit(static_cast<unsigned char>(B[je]))) ++je;
      const std::string_view na = A.substr(i, ie - i), nb = B.substr(j, je - j);
      const auto ta = na.substr(std::min(na.find_first_not_of('0'), na.size()));
      const auto tb = nb.substr(std::min(nb.find_first_not_of('0'), nb.size()));
      if (ta.size() != tb.size()) return ta.size() < tb.size();
      if (ta != tb) return ta < tb;
      i = ie;
      j = je;
      continue;
    }
    if (A[i] != B[j]) return A[i] < B[j];
    ++i;
    ++j;
  }
  return A.size() - i < B.size() - j;
}

std::vector<TBlockDevice> DiscoverBlockDevices(const std::string& SysBlock, const std::string& DevRoot) {
  std::vector<TBlockDevice> devices;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(SysBlock, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end(), DeviceOrderLess);
  for (const auto& name : names) {
    const fs::path sysDir = fs::path(SysBlock) / name;
    if (ReadFirstLine(sysDir / "size") == "0" || ReadFirstLine(sysDir / "size").empty()) continue;
    // A whole disk that carries partitions is not a volume itself; its partitions are.
    bool hasPartitions = false;
    for (const auto& child : fs::directory_iterator(sysDir, ec))
      if (child.path().filename().string().starts_with(name) && fs::exists(child.path() / "partition"))
        hasPartitions = true;
    if (hasPartitions) continue;
    const std::string node = DevRoot + "/" + name;
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    devices.push_back({name, node, ClassifyBlockDevice(name, sysDir), st.st_rdev});
  }
  return devices;
}

std::string FindMountPoint(dev_t Device, const std::string& MountInfo) {
  std::ifstream in(MountInfo);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin, root, mountPoint;
    if (!(fields >> id >> parent >> majmin >> root >> mountPoint)) continue;
    const std::size_t colon = majmin.find(':');
    if (colon == std::string::npos) continue;
    const auto major = static_cast<unsigned>(std::strtoul(majmin.c_str(), nullptr, 10));
    const auto minor = static_cast<unsigned>(std::strtoul(majmin.c_str() + colon + 1, nullptr, 10));
    if (makedev(major, minor) == Device && root == "/") return UnescapeMountField(mountPoint);
  }
  return {};
}

std::string FindLoopMountPoint(const std::string& ImagePath, const std::string& SysBlock, const std::string& MountInfo) {
  std::error_code ec;
  const fs::path image = fs::weakly_canonical(ImagePath, ec);
  for (const auto& e : fs::directory_iterator(SysBlock, ec)) {
    const std::string backing = ReadFirstLine(e.path() / "loop" / "backing_file");
    if (backing.empty() || fs::path(backing) != image) continue;
    const std::string dev = ReadFirstLine(e.path() / "dev");
    const std::size_t colon = dev.find(':');
    if (colon == std::string::npos) continue;
    const dev_t number = makedev(std::strtoul(dev.c_str(), nullptr, 10), std::strtoul(dev.c_str() + colon + 1, nullptr, 10));
    if (auto mount = FindMountPoint(number, MountInfo); !mount.empty()) return mount;
  }
  return {};
}

TVolumeFacts ProbeVolumeFacts(TVolumeSource& Source) {
  TVolumeFacts facts;
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, decltype(&blkid_free_probe)> probe(blkid_new_probe(),
                                                                                          blkid_free_probe);
  if (!probe) return facts;
  // Probe on our own read-only descriptor, so libblkid never opens the source itself; a container's
  // volume is probed in a copy of what the probes read.
  TFd copy(Source.Descriptor() < 0 ? ProbeCopy(Source) : -1);
  const bool plain = Source.Descriptor() >= 0;
  if (!plain && copy.Get() < 0) return facts;
  if (blkid_probe_set_device(probe.get(), plain ? Source.Descriptor() : copy.Get(), plain ? Source.Base() : 0,
                             Source.Size()) != 0)
    return facts;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe.get(), 0);
  if (blkid_do_safeprobe(probe.get()) != 0) return facts;
  const char* value = nullptr;
  if (blkid_probe_lookup_value(probe.get(), "LABEL", &value, nullptr) == 0 && value) facts.Label = value;
  std::string type, version;
  if (blkid_probe_lookup_value(probe.get(), "TYPE", &value, nullptr) == 0 && value) type = value;
  if (blkid_probe_lookup_value(probe.get(), "VERSION", &value, nullptr) == 0 && value) version = value;
  if (type == "vfat") {
    facts.FileSystemName = version == "FAT32" ? "FAT32" : "FAT";
  } else if (type == "ntfs") {
    facts.FileSystemName = "NTFS";
  } else if (type == "exfat") {
    facts.FileSystemName = "exFAT";
  } else {
    facts.FileSystemName = type;
  }
  return facts;
}

std::vector<TPartitionEntry> ListPartitions(TVolumeSource& Source) {
  // A disk of 4096-byte logical sectors counts its MBR in those.
  int sectorSize = 512;
  if (Source.IsBlockDevice() && (::ioctl(Source.Descriptor(), BLKSSZGET, &sectorSize) != 0 || sectorSize < 512))
    sectorSize = 512;
  return ReadPartitionTable([&](std::uint8_t* Buffer, std::uint32_t Count, std::int64_t Offset) {
    return Source.Read(Buffer, Count, Offset);
  }, Source.Size(), sectorSize);
}

std::optional<TVolumeSpace> MountedSpace(const std::string& MountPoint) {
  struct statvfs st {};
  if (MountPoint.empty() || ::statvfs(MountPoint.c_str(), &st) != 0) return std::nullopt;
  return TVolumeSpace{static_cast<std::int64_t>(st.f_frsize) * static_cast<std::int64_t>(st.f_blocks),
                      static_cast<std::int64_t>(st.f_frsize) * static_cast<std::int64_t>(st.f_bavail)};
}

}  // namespace kestrine::platform
