// Scanning a generated 3 GiB FAT32 volume with about 210,000 directory entries, half of them deleted,
// in 3,000 folders four levels deep, beside `fls -rd` of The Sleuth Kit on the same image.
// The image is sparse: only the boot sectors, both tables and the directory clusters are written, so
// both sides read it from the page cache. Our time is the best of three rounds, memory the highest
// peak; fls takes minutes on this volume, so it runs once.
// Usage: fat_scan_bench [WORK_FOLDER]   (default: a folder under $TMPDIR, removed at the end)

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/volume/boot_sector.h"
#include "engine/volume/disk_object.h"
#include "engine/volume/disk_scanner.h"
#include "engine/volume/workflow_ports.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using bench::TRun;

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kSectorsPerCluster = 8;
constexpr std::uint32_t kClusterSize = kSectorSize * kSectorsPerCluster;
constexpr std::uint32_t kReservedSectors = 32;
constexpr std::uint64_t kVolumeBytes = 3ull << 30;
constexpr std::uint32_t kRootCluster = 2;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

constexpr int kFolders = 3000;       // the root included
constexpr int kFanout = 10;          // sub-folders per folder, breadth first: four levels below the root
constexpr int kEntriesPerFolder = 70;
constexpr int kLongNameEvery = 5;    // one file in five has a long name
constexpr int kRounds = 3;
constexpr int kFlsRounds = 1;
constexpr double kMiB = 1024.0 * 1024.0;

constexpr std::uint16_t kTime = 12 << 11;                     // 12:00:00
constexpr std::uint16_t kDate = (43 << 9) | (5 << 5) | 17;    // 2023-05-17

void PutLe16(std::uint8_t* P, std::uint16_t V) {
  P[0] = static_cast<std::uint8_t>(V);
  P[1] = static_cast<std::uint8_t>(V >> 8);
}

void PutLe32(std::uint8_t* P, std::uint32_t V) {
  PutLe16(P, static_cast<std::uint16_t>(V));
  PutLe16(P + 2, static_cast<std::uint16_t>(V >> 16));
}

struct TGeometry {
  std::uint32_t TotalSectors = 0;
  std::uint32_t FatSectors = 0;
  std::uint32_t ClusterCount = 0;
  std::uint64_t DataOffset() const { return std::uint64_t{kReservedSectors + 2 * FatSectors} * kSectorSize; }
  std::uint64_t ClusterOffset(std::uint32_t Cluster) const {
    return DataOffset() + std::uint64_t{Cluster - 2} * kClusterSize;
  }
};

// Tables large enough for the clusters left beside them.
TGeometry ComputeGeometry() {
  TGeometry g;
  g.TotalSectors = static_cast<std::uint32_t>(kVolumeBytes / kSectorSize);
  g.FatSectors = 1;
  for (;;) {
    g.ClusterCount = (g.TotalSectors - kReservedSectors - 2 * g.FatSectors) / kSectorsPerCluster;
    const std::uint32_t needed = ((g.ClusterCount + 2) * 4 + kSectorSize - 1) / kSectorSize;
    if (needed <= g.FatSectors) return g;
    g.FatSectors = needed;
  }
}

// The 32-byte slots of one directory cluster.
class TDirCluster {
 public:
  // False once the cluster is full.
  bool AddEntry(const std::string& ShortName, std::uint8_t Attr, std::uint32_t Cluster, std::uint32_t Size,
                bool Deleted) {
    std::uint8_t* e = NextSlot();
    if (!e) return false;
    std::copy(ShortName.begin(), ShortName.end(), e);
    if (Deleted) e[0] = 0xE5;
    e[11] = Attr;
    PutLe16(e + 14, kTime);
    PutLe16(e + 16, kDate);
    PutLe16(e + 18, kDate);
    PutLe16(e + 20, static_cast<std::uint16_t>(Cluster >> 16));
    PutLe16(e + 22, kTime);
    PutLe16(e + 24, kDate);
    PutLe16(e + 26, static_cast<std::uint16_t>(Cluster));
    PutLe32(e + 28, Size);
    return true;
  }

  // The long-name slots that precede the short entry, last part first. Long is ASCII.
  bool AddLongName(const std::string& Long, const std::string& ShortName, bool Deleted) {
    const std::size_t parts = (Long.size() + 12) / 13;
    const std::uint8_t sum = Checksum(ShortName);
    for (std::size_t part = parts; part-- > 0;) {
      std::uint8_t* e = NextSlot();
      if (!e) return false;
      e[0] = static_cast<std::uint8_t>((part + 1) | (part + 1 == parts ? 0x40 : 0));
      if (Deleted) e[0] = 0xE5;
      e[11] = 0x0F;
      e[13] = sum;
      for (std::size_t i = 0; i < 13; ++i) PutLe16(e + kCharOffsets[i], LongChar(Long, part * 13 + i));
    }
    return true;
  }

  const std::uint8_t* Data() const { return FBytes.data(); }

 private:
  static constexpr std::array<int, 13> kCharOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

  static std::uint8_t Checksum(const std::string& ShortName) {
    std::uint8_t sum = 0;
    for (const char c : ShortName) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(c));
    return sum;
  }

  // The name, its terminating zero, then 0xFFFF padding.
  static std::uint16_t LongChar(const std::string& Long, std::size_t At) {
    if (At < Long.size()) return static_cast<std::uint8_t>(Long[At]);
    return At == Long.size() ? 0 : 0xFFFF;
  }

  std::uint8_t* NextSlot() {
    if (FUsed + 32 > FBytes.size()) return nullptr;
    FUsed += 32;
    return FBytes.data() + FUsed - 32;
  }

  std::array<std::uint8_t, kClusterSize> FBytes{};
  std::size_t FUsed = 0;
};

// "NAME    EXT" from a base of at most 8 and an extension of at most 3 characters.
std::string ShortName(const std::string& Base, const std::string& Ext) {
  std::string name = Base.substr(0, 8);
  name.resize(8, ' ');
  std::string ext = Ext.substr(0, 3);
  ext.resize(3, ' ');
  return name + ext;
}

std::string Digits(int Value, int Width) {
  std::string s = std::to_string(Value);
  return std::string(static_cast<std::size_t>(std::max(0, Width - static_cast<int>(s.size()))), '0') + s;
}

// Folder F holds folders F * kFanout + 1 .. F * kFanout + kFanout; folder F sits in cluster 2 + F.
std::uint32_t FolderCluster(int Folder) { return kRootCluster + static_cast<std::uint32_t>(Folder); }

struct TVolumeCounts {
  std::int64_t Entries = 0;
  std::int64_t Deleted = 0;
  std::int64_t LongNames = 0;
};

// Builds the volume's tables and directories and writes them to the image.
class TVolumeBuilder {
 public:
  TVolumeBuilder(int Fd, const TGeometry& Geometry)
      : FFd(Fd), FGeometry(Geometry), FFat(Geometry.ClusterCount + 2, 0),
        FNextCluster(FolderCluster(kFolders)) {
    FFat[0] = 0x0FFFFFF8;
    FFat[1] = kEndOfChain;
    for (int f = 0; f < kFolders; ++f) FFat[FolderCluster(f)] = kEndOfChain;
  }

  bool Build() {
    for (int f = 0; f < kFolders; ++f)
      if (!WriteFolder(f)) return false;
    return WriteTables() && WriteBootRegion() && ::ftruncate(FFd, static_cast<off_t>(kVolumeBytes)) == 0;
  }

  const TVolumeCounts& Counts() const { return FCounts; }

 private:
  bool WriteFolder(int Folder) {
    TDirCluster dir;
    bool fits = Folder == 0 ? dir.AddEntry(ShortName("SCANBNCH", ""), 0x08, 0, 0, false) : AddDots(dir, Folder);
    const int firstChild = Folder * kFanout + 1;
    const int children = std::clamp(kFolders - firstChild, 0, kFanout);
    for (int c = 0; c < children && fits; ++c)
      fits = dir.AddEntry(ShortName("DIR" + Digits(firstChild + c, 5), ""), 0x10, FolderCluster(firstChild + c), 0, false);
    for (int i = children; i < kEntriesPerFolder && fits; ++i) fits = AddFile(dir, Folder, i);
    FCounts.Entries += kEntriesPerFolder;
    return fits && Write(dir.Data(), kClusterSize, FGeometry.ClusterOffset(FolderCluster(Folder)));
  }

  static bool AddDots(TDirCluster& Dir, int Folder) {
    const int parent = (Folder - 1) / kFanout;
    return Dir.AddEntry(ShortName(".", ""), 0x10, FolderCluster(Folder), 0, false) &&
           Dir.AddEntry(ShortName("..", ""), 0x10, parent == 0 ? 0 : FolderCluster(parent), 0, false);
  }

  // A small file of one to three clusters, deleted for every other index.
  bool AddFile(TDirCluster& Dir, int Folder, int Index) {
    static const std::array<const char*, 4> kExts = {"TXT", "JPG", "DOC", "PDF"};
    const bool deleted = (Folder + Index) % 2 == 0;
    const auto size = static_cast<std::uint32_t>(100 + (Folder * 7919 + Index * 104729) % (3 * kClusterSize - 100));
    const std::string ext = kExts[static_cast<std::size_t>(Index) % kExts.size()];
    const std::uint32_t first = Allocate((size + kClusterSize - 1) / kClusterSize, deleted);
    FCounts.Deleted += deleted;
    if (Index % kLongNameEvery != 0)
      return Dir.AddEntry(ShortName("FILE" + Digits(Index, 4), ext), 0x20, first, size, deleted);
    const std::string shortName = ShortName("LN" + Digits(Index, 4) + "~1", ext);
    const std::string longName = "Holiday report " + std::to_string(Index) + " of folder " + std::to_string(Folder) +
                                 "." + std::string(ext == "JPG" ? "jpeg" : "docx");
    ++FCounts.LongNames;
    return Dir.AddLongName(longName, shortName, deleted) && Dir.AddEntry(shortName, 0x20, first, size, deleted);
  }

  // Contiguous clusters after the last file's; a deleted file's chain is left free in the table.
  std::uint32_t Allocate(std::uint32_t Clusters, bool Deleted) {
    const std::uint32_t first = FNextCluster;
    FNextCluster += Clusters;
    if (!Deleted)
      for (std::uint32_t c = first; c < FNextCluster; ++c) FFat[c] = c + 1 == FNextCluster ? kEndOfChain : c + 1;
    return first;
  }

  bool WriteTables() {
    const std::size_t bytes = FFat.size() * 4;
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
      const std::uint64_t at = std::uint64_t{kReservedSectors + copy * FGeometry.FatSectors} * kSectorSize;
      if (!Write(FFat.data(), bytes, at)) return false;
    }
    return true;
  }

  // Boot sector and FSInfo, and their backups in sectors 6 and 7.
  bool WriteBootRegion() {
    std::array<std::uint8_t, 2 * kSectorSize> region{};
    FillBootSector(region.data());
    FillFsInfo(region.data() + kSectorSize);
    return Write(region.data(), region.size(), 0) && Write(region.data(), region.size(), 6 * kSectorSize);
  }

  void FillBootSector(std::uint8_t* B) const {
    const std::array<std::uint8_t, 3> jump = {0xEB, 0x58, 0x90};
    std::copy(jump.begin(), jump.end(), B);
    const std::string oem = "MSWIN4.1", label = "SCANBNCH   ", type = "FAT32   ";
    std::copy(oem.begin(), oem.end(), B + 3);
    PutLe16(B + 11, kSectorSize);
    B[13] = kSectorsPerCluster;
    PutLe16(B + 14, kReservedSectors);
    B[16] = 2;
    B[21] = 0xF8;
    PutLe16(B + 24, 63);
    PutLe16(B + 26, 255);
    PutLe32(B + 32, FGeometry.TotalSectors);
    PutLe32(B + 36, FGeometry.FatSectors);
    PutLe32(B + 44, kRootCluster);
    PutLe16(B + 48, 1);
    PutLe16(B + 50, 6);
    B[64] = 0x80;
    B[66] = 0x29;
    PutLe32(B + 67, 0x5CA4BE4C);
    std::copy(label.begin(), label.end(), B + 71);
    std::copy(type.begin(), type.end(), B + 82);
    B[510] = 0x55;
    B[511] = 0xAA;
  }

  void FillFsInfo(std::uint8_t* S) const {
    const auto used = static_cast<std::uint32_t>(std::count_if(FFat.begin() + 2, FFat.end(), [](std::uint32_t v) { return v != 0; }));
    PutLe32(S, 0x41615252);
    PutLe32(S + 484, 0x61417272);
    PutLe32(S + 488, FGeometry.ClusterCount - used);
    PutLe32(S + 492, FNextCluster);
    PutLe32(S + 508, 0xAA550000);
  }

  bool Write(const void* Data, std::size_t Bytes, std::uint64_t At) const {
    return ::pwrite(FFd, Data, Bytes, static_cast<off_t>(At)) == static_cast<ssize_t>(Bytes);
  }

  int FFd;
  TGeometry FGeometry;
  std::vector<std::uint32_t> FFat;
  std::uint32_t FNextCluster;
  TVolumeCounts FCounts;
};

bool MakeVolume(const fs::path& Image, TVolumeCounts& Counts) {
  const int fd = ::open(Image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  TVolumeBuilder builder(fd, ComputeGeometry());
  const bool built = builder.Build();
  Counts = builder.Counts();
  return ::close(fd) == 0 && built;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::TWorkFolder folder("kestrine-fat-scan-bench", argc < 2 ? nullptr : argv[1]);
  const fs::path& work = folder.Path();
  if (work.empty()) {
    std::perror("fat_scan_bench: no work folder");
    return 1;
  }
  const fs::path image = work / "volume.img";
  TVolumeCounts counts;
  std::fprintf(stderr, "building the volume in %s ...\n", work.c_str());
  if (!MakeVolume(image, counts)) {
    std::fprintf(stderr, "fat_scan_bench: cannot write %s\n", image.c_str());
    return 1;
  }
  TRun ours, fls;
  bool scanned = true, flsRan = true;
  // fls runs first: a child's peak counts the pages it shared with this process when forked.
  for (int round = 0; round < kFlsRounds; ++round)
    flsRan = flsRan && bench::RunTool({"fls", "-rd", "-f", "fat32", image.string()}, fls);
  std::int64_t found = 0;
  for (int round = 0; round < kRounds; ++round)
    scanned = scanned && bench::ScanInFreshProcess(image.string(), kestrine::TFileSystemKind::Fat32, ours, found);
  if (!scanned) {
    std::fprintf(stderr, "fat_scan_bench: %s was not scanned as FAT32\n", image.c_str());
    return 1;
  }
  std::printf("FAT32, 3 GiB, 4 KiB clusters: %d folders, %lld entries, %lld deleted, %lld long names\n",
              kFolders, static_cast<long long>(counts.Entries), static_cast<long long>(counts.Deleted),
              static_cast<long long>(counts.LongNames));
  std::printf("%-28s %10s %10s %14s\n", "", "seconds", "peak MiB", "deleted found");
  std::printf("%-28s %10.3f %10.1f %14lld\n", "kestrine scan", ours.Seconds, ours.PeakMiB,
              static_cast<long long>(found));
  if (!flsRan) {
    std::printf("%-28s %10s\n", "fls -rd -f fat32 IMAGE", "failed");
    return found == counts.Deleted ? 0 : 1;
  }
  std::printf("%-28s %10.3f %10.1f\n", "fls -rd -f fat32 IMAGE", fls.Seconds, fls.PeakMiB);
  std::printf("%-28s %10.3f %10.2f   (target: time under 0.10)\n", "ratio kestrine / fls", ours.Seconds / fls.Seconds,
              ours.PeakMiB / fls.PeakMiB);
  return found == counts.Deleted ? 0 : 1;
}
