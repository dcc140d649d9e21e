#pragma once
// In-memory forms of NTFS structures: runs, attribute views and one decoded MFT record.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/volume/file_info.h"

namespace kestrine {

// Attribute type codes the engine reads.
namespace NtfsAttrType {
inline constexpr std::uint32_t StandardInformation = 0x10;
inline constexpr std::uint32_t AttributeList = 0x20;
inline constexpr std::uint32_t FileName = 0x30;
inline constexpr std::uint32_t Data = 0x80;
inline constexpr std::uint32_t Bitmap = 0xB0;
inline constexpr std::uint32_t LoggedUtilityStream = 0x100;
inline constexpr std::uint32_t End = 0xFFFFFFFF;
inline constexpr std::uint32_t Any = 0xFFFFFFFF;  // as a search key: every type
}  // namespace NtfsAttrType

// Slots of TNtfsFileInfo::Attrs; -1 for a type that is not indexed.
inline constexpr std::size_t kNtfsAttrSlots = 6;
int NtfsAttrSlot(std::uint32_t Type);

// Record numbers are the low 48 bits of an MFT reference; the sequence number is ignored.
inline constexpr std::uint64_t kMftRefMask = 0x0000FFFFFFFFFFFF;
inline constexpr std::int64_t kRootRecNo = 5;
inline constexpr std::int64_t kBitmapRecNo = 6;

struct TRunItem {
  std::int64_t Vcn = 0;
  std::int64_t Lcn = -1;  // -1: a sparse run, no clusters on disk
  std::uint64_t Length = 0;
  bool operator==(const TRunItem&) const = default;
};
using TRunList = std::vector<TRunItem>;

// One attribute, header included, exactly as long as its length field says. Either a view into a
// record buffer that outlives it, or a copy that owns its bytes (attributes found through a list).
// Every accessor stays inside the attribute.
class TNtfsAttr {
 public:
  // Nil when no whole attribute header of the kind its flag says starts at Offset.
  static std::optional<TNtfsAttr> View(std::span<const std::uint8_t> Record, std::size_t Offset);
  TNtfsAttr OwnedCopy() const;

  std::span<const std::uint8_t> Bytes() const { return FBytes; }
  std::uint32_t Type() const;
  std::uint32_t Length() const { return static_cast<std::uint32_t>(FBytes.size()); }
  bool NonResident() const { return FBytes[0x08] != 0; }
  std::uint16_t Instance() const;
  // Attribute flags: 0x00FF compression, 0x4000 encrypted, 0x8000 sparse.
  std::uint16_t Flags() const;
  bool CompressedData() const { return NonResident() && (Flags() & 0x00FF) != 0; }
  bool Named() const { return FBytes[0x09] != 0; }
  // The name converted to UTF-8: empty for an unnamed attribute, nil for a name outside the attribute.
  std::optional<std::string> Name() const;

  // Resident content; empty when it does not lie inside the attribute.
  std::span<const std::uint8_t> Value() const;
  // Non-resident: the mapping pairs, from their offset to the attribute's end.
  std::span<const std::uint8_t> MappingPairs() const;
  std::int64_t StartVcn() const;
  std::uint16_t CompressionUnit() const;
  std::uint64_t AllocatedSize() const;
  std::uint64_t DataSize() const;
  std::uint64_t InitializedSize() const;
  // Data size when non-resident, value length when resident.
  std::uint64_t StreamSize() const;

 private:
  TNtfsAttr(std::span<const std::uint8_t> Bytes, std::shared_ptr<const std::vector<std::uint8_t>> Owned)
      : FBytes(Bytes), FOwned(std::move(Owned)) {}
  std::span<const std::uint8_t> FBytes;
  std::shared_ptr<const std::vector<std::uint8_t>> FOwned;
};

// Offsets of a record's attribute headers by slot, each slot in record order; one block for all.
class TAttrSlots {
 public:
  std::span<const std::uint16_t> operator[](std::size_t Slot) const {
    return std::span<const std::uint16_t>(FOffsets).subspan(FStart[Slot], FStart[Slot + 1] - FStart[Slot]);
  }
  // Offsets given slot by slot, in slot order.
  void Assign(std::vector<std::uint16_t> Offsets, const std::array<std::uint16_t, kNtfsAttrSlots + 1>& Start) {
    FOffsets = std::move(Offsets);
    FStart = Start;
  }

 private:
  std::vector<std::uint16_t> FOffsets;
  std::array<std::uint16_t, kNtfsAttrSlots + 1> FStart{};
};

// One data stream of a file: the unnamed main data has the empty name.
struct TNtfsDataStreamInfo {
  std::string Name;
  std::int64_t Size = 0;
  bool operator==(const TNtfsDataStreamInfo&) const = default;
};
using TNtfsDataStreamInfoArr = std::vector<TNtfsDataStreamInfo>;

// The fixed-up bytes of one record, cut after its last attribute, and where its attribute headers lie
// in them, slot by slot in record order.
struct TNtfsRecordBytes {
  TAttrSlots Attrs;
  std::vector<std::uint8_t> Buf;
};

// One decoded MFT record. A found item keeps only what the scan drew from it: its bytes are let go
// once scanned (they would be most of a large scan's memory), and a stream reads the record again.
struct TNtfsFileInfo final : TFsInfo {
  std::unique_ptr<TNtfsRecordBytes> Record;  // nil once let go
  // Named data streams of a found file, filled by the scan (the unnamed stream is not listed); nil
  // for the many files without one.
  std::unique_ptr<TNtfsDataStreamInfoArr> Streams;
  std::int64_t RecNo = 0;             // the record's own number in the MFT
  std::int64_t ParentRef = 0;         // record number of the parent folder, set by GetFileName
  std::uint16_t CompressionUnit = 0;  // of the unnamed $DATA, set by GetFileSize
  std::uint16_t ParentSeq = 0;        // the sequence number that reference names; 0 when unknown
  std::uint16_t Sequence = 0;         // the record's own sequence number when it was read
  bool Compressed = false;
  bool Encrypted = false;
  bool Deleted = false;
  bool Directory = false;

  // The record's bytes; empty once let go.
  std::span<const std::uint8_t> RecordBuf() const {
    return Record ? std::span<const std::uint8_t>(Record->Buf) : std::span<const std::uint8_t>();
  }
  // Offsets of the slot's attribute headers; empty once let go.
  std::span<const std::uint16_t> Attrs(std::size_t Slot) const {
    return Record ? Record->Attrs[Slot] : std::span<const std::uint16_t>();
  }
  void ReleaseRecord() { Record.reset(); }

  bool IsDeleted() const override { return Deleted; }
  std::optional<std::uint64_t> RecordNumber() const override { return static_cast<std::uint64_t>(RecNo); }
  std::vector<TNamedStreamInfo> NamedStreams() const override;
  bool IsCompressed() const override { return Compressed; }
  bool IsEncrypted() const override { return Encrypted; }
  bool HasAttributeList() const { return !Attrs(3).empty(); }
  // The attribute at Attrs[Slot][Index].
  std::optional<TNtfsAttr> Attr(std::size_t Slot, std::size_t Index) const;
};

}  // namespace kestrine
