#include "tests/engine/ntfs/ntfs_image_builder.h"

#include <algorithm>
#include <bit>

#include "engine/ntfs/ntfs_records.h"
#include "engine/ntfs/ntfs_stream.h"
#include "engine/volume/disk_scanner.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {

std::size_t Align8(std::size_t V) { return (V + 7) & ~std::size_t{7}; }

void PutName(std::vector<std::uint8_t>& B, std::size_t Offset, std::u16string_view Name) {
  for (std::size_t i = 0; i < Name.size(); ++i) PutLe16(B, Offset + 2 * i, static_cast<std::uint16_t>(Name[i]));
}

std::size_t BytesFor(std::uint64_t V) {
  std::size_t n = 1;
  while (n < 8 && (V >> (8 * n)) != 0) ++n;
  return n;
}

std::size_t SignedBytesFor(std::int64_t V) {
  for (std::size_t n = 1; n < 8; ++n) {
    const std::int64_t low = -(std::int64_t{1} << (8 * n - 1));
    const std::int64_t high = (std::int64_t{1} << (8 * n - 1)) - 1;
    if (V >= low && V <= high) return n;
  }
  return 8;
}

}  // namespace

std::vector<std::uint8_t> EncodeRuns(const TRunShape& Runs) {
  std::vector<std::uint8_t> out;
  std::int64_t lcn = 0;
  for (const auto& [length, at] : Runs) {
    const std::size_t l = BytesFor(length);
    const std::int64_t delta = at - lcn;
    const std::size_t o = at < 0 ? 0 : SignedBytesFor(delta);
    out.push_back(static_cast<std::uint8_t>(l | (o << 4)));
    for (std::size_t i = 0; i < l; ++i) out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    for (std::size_t i = 0; i < o; ++i) out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(delta) >> (8 * i)));
    if (at >= 0) lcn = at;
  }
  out.push_back(0);
  return out;
}

TRecordBuilder::TRecordBuilder(std::uint32_t Size) : FSize(Size) {}

TRecordBuilder& TRecordBuilder::InUse(bool Value) {
  FFlags = Value ? (FFlags | 1) : (FFlags & ~1);
  return *this;
}
TRecordBuilder& TRecordBuilder::Directory(bool Value) {
  FFlags = Value ? (FFlags | 2) : (FFlags & ~2);
  return *this;
}
TRecordBuilder& TRecordBuilder::BaseRef(std::uint64_t Ref) {
  FBaseRef = Ref;
  return *this;
}
TRecordBuilder& TRecordBuilder::Sequence(std::uint16_t Value) {
  FSequence = Value;
  return *this;
}

TRecordBuilder& TRecordBuilder::Raw(std::span<const std::uint8_t> Attribute) {
  FAttrs.insert(FAttrs.end(), Attribute.begin(), Attribute.end());
  ++FInstance;
  return *this;
}

TRecordBuilder& TRecordBuilder::Resident(std::uint32_t Type, std::u16string_view Name,
                                         std::span<const std::uint8_t> Value) {
  const std::size_t valueOffset = Align8(0x18 + 2 * Name.size());
  std::vector<std::uint8_t> a(Align8(valueOffset + Value.size()));
  PutLe32(a, 0, Type);
  PutLe32(a, 4, static_cast<std::uint32_t>(a.size()));
  a[9] = static_cast<std::uint8_t>(Name.size());
  PutLe16(a, 0x0A, 0x18);
  PutLe16(a, 0x0E, FInstance);
  PutLe32(a, 0x10, static_cast<std::uint32_t>(Value.size()));
  PutLe16(a, 0x14, static_cast<std::uint16_t>(valueOffset));
  PutName(a, 0x18, Name);
  std::copy(Value.begin(), Value.end(), a.begin() + static_cast<std::ptrdiff_t>(valueOffset));
  FAttrs.insert(FAttrs.end(), a.begin(), a.end());
  ++FInstance;
  return *this;
}

TRecordBuilder& TRecordBuilder::NonResident(std::uint32_t Type, std::u16string_view Name, const TRunShape& Runs,
                                            std::uint64_t DataSize, std::uint16_t CompressionUnit,
                                            std::int64_t StartVcn, std::optional<std::uint64_t> InitializedSize) {
  const std::vector<std::uint8_t> pairs = EncodeRuns(Runs);
  std::uint64_t clusters = 0;
  for (const auto& run : Runs) clusters += run.first;
  // Compressed attributes carry one more size field before the name.
  const std::size_t nameOffset = CompressionUnit ? 0x48 : 0x40;
  const std::size_t pairsOffset = Align8(nameOffset + 2 * Name.size());
  std::vector<std::uint8_t> a(Align8(pairsOffset + pairs.size()));
  PutLe32(a, 0, Type);
  PutLe32(a, 4, static_cast<std::uint32_t>(a.size()));
  a[8] = 1;
  a[9] = static_cast<std::uint8_t>(Name.size());
  PutLe16(a, 0x0A, static_cast<std::uint16_t>(nameOffset));
  PutLe16(a, 0x0C, CompressionUnit ? 0x0001 : 0);
  PutLe16(a, 0x0E, FInstance);
  PutLe64(a, 0x10, static_cast<std::uint64_t>(StartVcn));
  PutLe64(a, 0x18, static_cast<std::uint64_t>(StartVcn) + clusters - 1);
  PutLe16(a, 0x20, static_cast<std::uint16_t>(pairsOffset));
  PutLe16(a, 0x22, CompressionUnit);
  PutLe64(a, 0x28, clusters * 4096);
  PutLe64(a, 0x30, DataSize);
  PutLe64(a, 0x38, InitializedSize.value_or(DataSize));
  PutName(a, nameOffset, Name);
  std::copy(pairs.begin(), pairs.end(), a.begin() + static_cast<std::ptrdiff_t>(pairsOffset));
  FAttrs.insert(FAttrs.end(), a.begin(), a.end());
  ++FInstance;
  return *this;
}

TRecordBuilder& TRecordBuilder::NonResidentData(const TRunShape& Runs, std::uint64_t DataSize, std::u16string_view Name,
                                                std::uint16_t CompressionUnit) {
  return NonResident(0x80, Name, Runs, DataSize, CompressionUnit);
}

TRecordBuilder& TRecordBuilder::StandardInfo(std::uint32_t Attributes, std::uint64_t Created, std::uint64_t Modified) {
  std::vector<std::uint8_t> v(0x48);
  PutLe64(v, 0x00, Created);
  PutLe64(v, 0x08, Modified);
  PutLe64(v, 0x10, Modified);
  PutLe64(v, 0x18, Modified);
  PutLe32(v, 0x20, Attributes);
  return Resident(0x10, u"", v);
}

TRecordBuilder& TRecordBuilder::FileName(std::uint64_t ParentRef, std::u16string_view Name, std::uint8_t Namespace) {
  std::vector<std::uint8_t> v(0x42 + 2 * Name.size());
  PutLe64(v, 0x00, ParentRef);
  v[0x40] = static_cast<std::uint8_t>(Name.size());
  v[0x41] = Namespace;
  PutName(v, 0x42, Name);
  return Resident(0x30, u"", v);
}

TRecordBuilder& TRecordBuilder::Data(std::span<const std::uint8_t> Value, std::u16string_view Name) {
  return Resident(0x80, Name, Value);
}

TRecordBuilder& TRecordBuilder::AttributeList(const std::vector<TListEntry>& Entries) {
  return Resident(0x20, u"", EncodeAttributeList(Entries));
}

std::vector<std::uint8_t> EncodeAttributeList(const std::vector<TListEntry>& Entries) {
  std::vector<std::uint8_t> v;
  for (const TListEntry& e : Entries) {
    std::vector<std::uint8_t> entry(Align8(0x1A + 2 * e.Name.size()));
    PutLe32(entry, 0, e.Type);
    PutLe16(entry, 4, static_cast<std::uint16_t>(entry.size()));
    entry[6] = static_cast<std::uint8_t>(e.Name.size());
    entry[7] = 0x1A;
    PutLe64(entry, 0x08, static_cast<std::uint64_t>(e.StartVcn));
    PutLe64(entry, 0x10, e.RecNo);
    PutLe16(entry, 0x18, e.Instance);
    PutName(entry, 0x1A, e.Name);
    v.insert(v.end(), entry.begin(), entry.end());
  }
  return v;
}

std::vector<std::uint8_t> TRecordBuilder::Build(std::uint32_t Stride, std::uint16_t Usn) const {
  std::vector<std::uint8_t> r(FSize);
  const std::uint16_t count = Stride ? static_cast<std::uint16_t>(FSize / Stride + 1) : 0;
  const std::size_t first = Align8(0x30 + 2 * std::size_t{count});
  r[0] = 'F', r[1] = 'I', r[2] = 'L', r[3] = 'E';
  PutLe16(r, 0x04, 0x30);
  PutLe16(r, 0x06, count);
  PutLe16(r, 0x10, FSequence);
  PutLe16(r, 0x14, static_cast<std::uint16_t>(first));
  PutLe16(r, 0x16, FFlags);
  PutLe32(r, 0x18, static_cast<std::uint32_t>(std::min<std::size_t>(first + FAttrs.size() + 8, FSize)));
  PutLe32(r, 0x1C, FSize);
  PutLe64(r, 0x20, FBaseRef);
  PutLe16(r, 0x28, FInstance);
  const std::size_t room = FSize - first;
  std::copy_n(FAttrs.begin(), std::min(room, FAttrs.size()), r.begin() + static_cast<std::ptrdiff_t>(first));
  if (FAttrs.size() + 4 <= room) PutLe32(r, first + FAttrs.size(), 0xFFFFFFFF);
  if (count) {
    PutLe16(r, 0x30, Usn);
    for (std::size_t i = 1; i < count; ++i) {
      const std::size_t at = i * Stride - 2;
      r[0x30 + 2 * i] = r[at];
      r[0x30 + 2 * i + 1] = r[at + 1];
      PutLe16(r, at, Usn);
    }
  }
  return r;
}

TNtfsImageBuilder::TNtfsImageBuilder(const TNtfsGeometry& G) : FGeometry(G), FBytes(G.Clusters * G.ClusterSize) {
  std::vector<std::uint8_t> boot(512);
  boot[0] = 0xEB, boot[1] = 0x52, boot[2] = 0x90;
  const char oem[] = "NTFS    ";
  std::copy(oem, oem + 8, boot.begin() + 3);
  PutLe16(boot, 0x0B, G.BytesPerSector);
  // Clusters above 128 sectors are given as a negative power of two.
  const std::uint32_t sectors = G.ClusterSize / G.BytesPerSector;
  boot[0x0D] = static_cast<std::uint8_t>(sectors <= 128 ? sectors : 256 - std::countr_zero(sectors));
  boot[0x15] = 0xF8;
  PutLe64(boot, 0x28, static_cast<std::uint64_t>(G.Clusters) * (G.ClusterSize / G.BytesPerSector) - 1);
  PutLe64(boot, 0x30, static_cast<std::uint64_t>(G.MftLcn));
  PutLe64(boot, 0x38, 2);
  // Records smaller than a cluster are given as a negative power of two.
  if (G.RecordSize < G.ClusterSize) {
    int shift = 0;
    while ((1u << shift) < G.RecordSize) ++shift;
    boot[0x40] = static_cast<std::uint8_t>(-shift);
  } else {
    boot[0x40] = static_cast<std::uint8_t>(G.RecordSize / G.ClusterSize);
  }
  boot[0x44] = 1;
  boot[0x1FE] = 0x55, boot[0x1FF] = 0xAA;
  PutBytes(0, boot);

  const std::int64_t mftClusters = (G.MftRecords * G.RecordSize + G.ClusterSize - 1) / G.ClusterSize;
  PutRecord(0, NewRecord().InUse().StandardInfo(0x06).FileName(5, u"$MFT").NonResidentData(
                   {{static_cast<std::uint64_t>(mftClusters), G.MftLcn}},
                   static_cast<std::uint64_t>(G.MftRecords) * G.RecordSize));
  PutRecord(5, NewRecord().InUse().Directory().StandardInfo(0x16).FileName(5, u"."));
  const std::uint64_t bitmapBytes = static_cast<std::uint64_t>((G.Clusters + 63) / 64 * 8);
  const std::uint64_t bitmapClusters = (bitmapBytes + G.ClusterSize - 1) / G.ClusterSize;
  PutRecord(6, NewRecord().InUse().StandardInfo(0x06).FileName(5, u"$Bitmap").NonResidentData(
                   {{bitmapClusters, G.BitmapLcn}}, bitmapBytes));
  MarkUsed(0, G.FirstFreeLcn);
}

std::int64_t TNtfsImageBuilder::RecordOffset(std::int64_t RecNo) const {
  return FGeometry.MftLcn * FGeometry.ClusterSize + RecNo * FGeometry.RecordSize;
}

void TNtfsImageBuilder::PutRecord(std::int64_t RecNo, const TRecordBuilder& Record) {
  PutRecordBytes(RecNo, Record.Build(FGeometry.BytesPerSector));
}

void TNtfsImageBuilder::PutRecordBytes(std::int64_t RecNo, std::span<const std::uint8_t> Bytes) {
  PutBytes(RecordOffset(RecNo), Bytes);
}

void TNtfsImageBuilder::PutBytes(std::int64_t Offset, std::span<const std::uint8_t> Bytes) {
  std::copy(Bytes.begin(), Bytes.end(), FBytes.begin() + Offset);
}

void TNtfsImageBuilder::MarkUsed(std::int64_t Lcn, std::int64_t Count, bool Used) {
  const std::int64_t base = FGeometry.BitmapLcn * FGeometry.ClusterSize;
  for (std::int64_t c = Lcn; c < Lcn + Count; ++c) {
    std::uint8_t& byte = FBytes.at(static_cast<std::size_t>(base + c / 8));
    byte = Used ? (byte | (1u << (c % 8))) : (byte & ~(1u << (c % 8)));
  }
}

std::filesystem::path TNtfsImageBuilder::WriteTo(const std::filesystem::path& Dir, const std::string& Name) const {
  const auto path = Dir / Name;
  WriteFile(path, FBytes);
  return path;
}

PFileInfo TNtfsScan::File(std::int64_t RecNo) const {
  for (PFileInfo item : Disk->Files.Snapshot()) {
    const auto* info = item->Info<TNtfsFileInfo>();
    if (info && info->RecNo == RecNo) return item;
  }
  return nullptr;
}

PFileInfo TNtfsScan::FileNamed(const std::string& Name) const {
  for (PFileInfo item : Disk->Files.Snapshot())
    if (item->Name == Name) return item;
  return nullptr;
}

std::unique_ptr<TNtfsScan> ScanNtfsImage(const std::filesystem::path& Image) {
  auto scan = std::make_unique<TNtfsScan>();
  scan->Disk = std::make_unique<TDiskObject>(
      platform::TDriveSpec{'d', Image.string(), "", platform::TDriveType::Fixed}, &scan->Reports);
  if (scan->Disk->Scanner) scan->Disk->Scanner->ScanForFiles();
  return scan;
}

std::string PathBelowRoot(const TFileInfo* Item) {
  std::vector<std::string> names;
  for (const TFileInfo* at = Item; at; at = at->Parent) names.push_back(at->Name);
  // The root is named after the drive; a chain that never reached it keeps its top.
  const auto* top = Item;
  while (top->Parent) top = top->Parent;
  if (top != Item && top->Disk && top->Name == RootFolderName(*top->Disk)) names.pop_back();
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "/") + *it;
  return path;
}

std::vector<std::uint8_t> ReadWholeStream(PFileInfo Item, const std::string& StreamName) {
  TRecoveryNtfsStream stream(Item->Disk, StreamName, Item);
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> buf(65536);
  for (;;) {
    const std::uint32_t n = stream.Read(buf.data(), static_cast<std::uint32_t>(buf.size()));
    if (n == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

std::vector<std::uint8_t> Pattern(std::size_t Size, std::uint32_t Seed) {
  std::vector<std::uint8_t> v(Size);
  std::uint32_t x = Seed * 2654435761u + 1;
  for (auto& b : v) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return v;
}

}  // namespace kestrine::test
