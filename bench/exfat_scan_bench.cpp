// Scanning a generated exFAT volume of about 100,000 entry sets in 1,000 folders, half of them
// deleted, beside `fls -rd` of The Sleuth Kit on the same image: our engine in a fresh process and
// the command line's `scan --format json`, end to end. The image is sparse (only the boot region,
// table, bitmap and folders are written), is made once and kept for later runs.
// Usage: exfat_scan_bench [IMAGE]   (default: kestrine-exfat-bench.img under $TMPDIR or /tmp)

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "engine/exfat/exfat_boot.h"
#include "engine/exfat/exfat_entries.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrine;

constexpr std::uint32_t kSectorShift = 9;
constexpr std::uint32_t kClusterShift = 3;  // 4 KiB clusters
constexpr std::uint32_t kClusterSize = 1u << (kSectorShift + kClusterShift);
constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr std::uint32_t kFatSector = 2048;  // 1 MiB in, as mkfs.exfat aligns it
constexpr std::uint32_t kStamp = (std::uint32_t{(43u << 9) | (5u << 5) | 17u} << 16) | (12u << 11);  // 2023-05-17 12:00
constexpr int kRounds = 3;

void Put(std::vector<std::uint8_t>& B, std::size_t At, std::uint64_t V, int Bytes) {
  for (int i = 0; i < Bytes; ++i) B[At + i] = static_cast<std::uint8_t>(V >> (8 * i));
}

// One set of File, Stream Extension and one File Name entry (names of at most 15 units).
void AddSet(std::vector<std::uint8_t>& Dir, const std::string& Name, bool Folder, bool Deleted, std::uint32_t First,
            std::uint64_t Length) {
  const std::size_t at = Dir.size();
  Dir.resize(at + 3 * kExFatEntrySize);
  const std::uint8_t state = Deleted ? 0 : ExFatEntry::InUse;
  Dir[at] = (ExFatEntry::File & 0x7F) | state;
  Dir[at + 1] = 2;
  Put(Dir, at + 4, Folder ? 0x10 : 0x20, 2);
  Put(Dir, at + 8, kStamp, 4);
  Put(Dir, at + 12, kStamp, 4);
  Dir[at + 22] = Dir[at + 23] = 0x80;
  Dir[at + 32] = (ExFatEntry::Stream & 0x7F) | state;
  Dir[at + 33] = 0x03;  // contiguous, as Windows and cameras write small files
  Dir[at + 35] = static_cast<std::uint8_t>(Name.size());
  Put(Dir, at + 40, Length, 8);
  Put(Dir, at + 52, First, 4);
  Put(Dir, at + 56, Length, 8);
  Dir[at + 64] = (ExFatEntry::Name & 0x7F) | state;
  for (std::size_t i = 0; i < Name.size(); ++i) Dir[at + 66 + 2 * i] = static_cast<std::uint8_t>(Name[i]);
  Put(Dir, at + 2, EntrySetChecksum(std::span(Dir).subspan(at, 3 * kExFatEntrySize)), 2);
}

std::size_t ClustersOf(std::size_t Bytes) { return (Bytes + kClusterSize - 1) / kClusterSize; }

class TVolume {
 public:
  bool Make(const fs::path& Image) {
    // Clusters: 2 bitmap, then up-case, root, folders, files.
    const std::uint32_t folderClusters = ClustersOf(kFilesPerFolder * 3 * kExFatEntrySize);
    const std::uint32_t rootClusters = ClustersOf((kFolders + 2) * 3 * kExFatEntrySize);
    FClusters = 16 + rootClusters + kFolders * folderClusters + kFolders * kFilesPerFolder;
    FFat.assign(FClusters + 2, 0);
    FBitmap.assign((FClusters + 7) / 8, 0);
    const std::uint32_t bitmapClusters = ClustersOf(FBitmap.size());
    std::uint32_t next = 2;
    const std::uint32_t bitmap = Take(next, bitmapClusters, true), upcase = Take(next, 1, true);
    const std::uint32_t root = Take(next, rootClusters, true);
    std::vector<std::uint8_t> rootDir(3 * kExFatEntrySize);
    rootDir[0] = ExFatEntry::Bitmap;
    Put(rootDir, 20, bitmap, 4);
    Put(rootDir, 24, FBitmap.size(), 8);
    rootDir[32] = ExFatEntry::UpCase;
    Put(rootDir, 52, upcase, 4);
    Put(rootDir, 56, 2, 8);
    rootDir[64] = ExFatEntry::Label;
    rootDir[65] = 5;
    for (int i = 0; i < 5; ++i) rootDir[66 + 2 * i] = static_cast<std::uint8_t>("BENCH"[i]);
    const int fd = ::open(Image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (int f = 0; f < kFolders && ok; ++f) {
      const std::uint32_t first = Take(next, folderClusters, true);
      AddSet(rootDir, "Folder " + std::to_string(f), true, false, first, std::uint64_t{folderClusters} * kClusterSize);
      std::vector<std::uint8_t> dir;
      for (int i = 0; i < kFilesPerFolder; ++i) {
        const bool deleted = i % 2 == 0;
        AddSet(dir, "IMG_" + std::to_string(f * kFilesPerFolder + i) + ".JPG", false, deleted, Take(next, 1, !deleted),
               1000 + i * 30);
        Deleted += deleted;
      }
      ok = Write(fd, dir, Heap() + std::uint64_t{first - 2} * kClusterSize);
    }
    Entries = kFolders * (kFilesPerFolder + 1);
    ok = ok && Write(fd, rootDir, Heap() + std::uint64_t{root - 2} * kClusterSize) &&
         Write(fd, FBitmap, Heap() + std::uint64_t{bitmap - 2} * kClusterSize) && WriteTable(fd) &&
         Write(fd, BootRegion(), 0) && ::ftruncate(fd, static_cast<off_t>(Heap() + std::uint64_t{FClusters} * kClusterSize)) == 0;
    return ::close(fd) == 0 && ok;
  }

  std::int64_t Entries = 0;
  std::int64_t Deleted = 0;

 private:
  std::uint32_t FatSectors() const { return static_cast<std::uint32_t>((FFat.size() * 4 + 511) / 512); }
  std::uint64_t Heap() const { return std::uint64_t{kFatSector + FatSectors() + 7} / 8 * 8 * 512; }

  // Count clusters from Next; chained and marked in use when InUse (a deleted file's are free).
  std::uint32_t Take(std::uint32_t& Next, std::uint32_t Count, bool InUse) {
    const std::uint32_t first = Next;
    Next += Count;
    for (std::uint32_t c = first; InUse && c < Next; ++c) {
      FFat[c] = c + 1 == Next ? 0xFFFFFFFF : c + 1;
      FBitmap[(c - 2) / 8] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
    }
    return first;
  }

  std::vector<std::uint8_t> BootRegion() const {
    std::vector<std::uint8_t> b(12 * 512);
    const std::string name = "\xEB\x76\x90" "EXFAT   ";
    std::copy(name.begin(), name.end(), b.begin());
    const std::uint64_t heapSector = Heap() / 512;
    Put(b, 72, heapSector + (std::uint64_t{FClusters} << kClusterShift), 8);
    Put(b, 80, kFatSector, 4);
    Put(b, 84, FatSectors(), 4);
    Put(b, 88, heapSector, 4);
    Put(b, 92, FClusters, 4);
    Put(b, 96, 2 + ClustersOf(FBitmap.size()) + 1, 4);
    Put(b, 100, 0x4B455842, 4);
    Put(b, 104, 0x0100, 2);
    b[108] = kSectorShift;
    b[109] = kClusterShift;
    b[110] = 1;
    b[112] = 0xFF;
    b[510] = 0x55;
    b[511] = 0xAA;
    const std::uint32_t sum = ExFatBootChecksum(std::span(b).first(11 * 512));
    for (std::size_t at = 11 * 512; at < 12 * 512; at += 4) Put(b, at, sum, 4);
    return b;
  }

  bool WriteTable(int Fd) {
    FFat[0] = 0xFFFFFFF8;
    FFat[1] = 0xFFFFFFFF;
    std::vector<std::uint8_t> bytes(FFat.size() * 4);
    for (std::size_t i = 0; i < FFat.size(); ++i) Put(bytes, i * 4, FFat[i], 4);
    return Write(Fd, bytes, std::uint64_t{kFatSector} * 512);
  }

  static bool Write(int Fd, const std::vector<std::uint8_t>& Bytes, std::uint64_t At) {
    return ::pwrite(Fd, Bytes.data(), Bytes.size(), static_cast<off_t>(At)) == static_cast<ssize_t>(Bytes.size());
  }

  std::uint32_t FClusters = 0;
  std::vector<std::uint32_t> FFat;
  std::vector<std::uint8_t> FBitmap;
};

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path image = argc > 1 ? fs::path(argv[1]) : fs::path(tmp ? tmp : "/tmp") / "kestrine-exfat-bench.img";
  TVolume volume;
  if (!fs::exists(image)) {
    std::fprintf(stderr, "building the volume %s ...\n", image.c_str());
    if (!volume.Make(image)) {
      std::fprintf(stderr, "exfat_scan_bench: cannot write %s\n", image.c_str());
      return 1;
    }
  }
  bench::TRun ours, cli, fls;
  std::int64_t found = 0;
  bool ran = true;
  for (int round = 0; round < kRounds; ++round) {
    ran = ran && bench::ScanInFreshProcess(image.string(), TFileSystemKind::ExFat, ours, found);
    ran = ran && bench::RunTool({KESTRINE_CLI_PATH, "scan", image.string(), "--format", "json"}, cli);
  }
  if (!ran) {
    std::fprintf(stderr, "exfat_scan_bench: %s was not scanned as exFAT\n", image.c_str());
    return 1;
  }
  // fls takes long on this volume: once is enough.
  const bool flsRan = bench::RunTool({"fls", "-rd", image.string()}, fls);
  std::printf("exFAT, 4 KiB clusters: %d folders, %d entry sets, half of the files deleted\n", kFolders,
              kFolders * (kFilesPerFolder + 1));
  std::printf("%-30s %10s %10s %14s\n", "", "seconds", "peak MiB", "deleted found");
  std::printf("%-30s %10.3f %10.1f %14lld\n", "kestrine scan (engine)", ours.Seconds, ours.PeakMiB,
              static_cast<long long>(found));
  std::printf("%-30s %10.3f %10.1f\n", "kestrine-cli scan --format json", cli.Seconds, cli.PeakMiB);
  if (!flsRan) {
    std::printf("%-30s %10s\n", "fls -rd IMAGE", "failed");
    return 1;
  }
  std::printf("%-30s %10.3f %10.1f\n", "fls -rd IMAGE", fls.Seconds, fls.PeakMiB);
  std::printf("%-30s %10.3f %10.2f   (target: time at most 0.10)\n", "ratio cli json / fls", cli.Seconds / fls.Seconds,
              cli.PeakMiB / fls.PeakMiB);
  std::printf("%-30s %10.3f\n", "ratio engine / fls", ours.Seconds / fls.Seconds);
  return found == kFolders * kFilesPerFolder / 2 ? 0 : 1;
}
