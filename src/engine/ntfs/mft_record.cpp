#include "engine/ntfs/mft_record.h"

#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {
constexpr std::size_t kRecordHeader = 0x28;
constexpr std::uint32_t kNtfsBlock = 512;

// Calls Visit for every attribute from the first one; Visit returns false to stop.
template <typename F>
void WalkAttributes(std::span<const std::uint8_t> Record, F&& Visit) {
  std::size_t offset = FirstAttrOffset(Record);
  while (offset < Record.size()) {
    std::uint32_t type = 0;
    if (!TryReadLe(Record, offset, type) || type == NtfsAttrType::End) return;
    const auto attr = TNtfsAttr::View(Record, offset);
    if (!attr || !Visit(*attr, offset)) return;
    offset += attr->Length();
  }
}
}  // namespace

bool HasFileMagic(std::span<const std::uint8_t> Record) {
  return Record.size() >= kRecordHeader && Record[0] == 'F' && Record[1] == 'I' && Record[2] == 'L' &&
         Record[3] == 'E';
}

std::uint16_t RecordFlags(std::span<const std::uint8_t> Record) { return ReadLe16(Record, 0x16); }
std::uint64_t RecordBaseRef(std::span<const std::uint8_t> Record) { return ReadLe64(Record, 0x20); }
std::uint16_t RecordSequence(std::span<const std::uint8_t> Record) {
  return Record.size() >= 0x12 ? ReadLe16(Record, 0x10) : 0;
}
std::uint16_t FirstAttrOffset(std::span<const std::uint8_t> Record) { return ReadLe16(Record, 0x14); }

bool ApplyFixups(std::span<std::uint8_t> Record, std::uint32_t BytesPerSector) {
  if (Record.size() < kRecordHeader) return false;
  const std::size_t count = ReadLe16(Record, 0x06);
  if (count == 0) return true;
  const std::size_t usa = ReadLe16(Record, 0x04);
  if (usa + 2 * count > Record.size()) return false;
  std::size_t stride = BytesPerSector;
  if ((count - 1) * stride != Record.size() && (count - 1) * kNtfsBlock == Record.size()) stride = kNtfsBlock;
  if (stride < 2 || (count - 1) * stride > Record.size()) return false;
  const std::uint16_t usn = ReadLe16(Record, usa);
  for (std::size_t i = 1; i < count; ++i) {
    const std::size_t at = i * stride - 2;
    if (ReadLe16(Record, at) != usn) return false;
    Record[at] = Record[usa + 2 * i];
    Record[at + 1] = Record[usa + 2 * i + 1];
  }
  return true;
}

TAttrIndex IndexAttributes(std::span<const std::uint8_t> Record) {
  TAttrIndex index;
  index.End = std::min<std::size_t>(Record.size(), std::size_t{FirstAttrOffset(Record)} + 4);
  // Counted first, so the offsets of all slots go into one block.
  std::array<std::uint16_t, kNtfsAttrSlots + 1> start{};
  WalkAttributes(Record, [&](const TNtfsAttr& Attr, std::size_t Offset) {
    const int slot = NtfsAttrSlot(Attr.Type());
    if (slot >= 0) ++start[static_cast<std::size_t>(slot) + 1];
    // Keep the end marker that follows, so a cut buffer still ends the walk there.
    index.End = std::min(Record.size(), Offset + Attr.Length() + 4);
    return true;
  });
  for (std::size_t i = 1; i <= kNtfsAttrSlots; ++i) start[i] += start[i - 1];
  std::vector<std::uint16_t> offsets(start[kNtfsAttrSlots]);
  std::array<std::uint16_t, kNtfsAttrSlots + 1> next = start;
  WalkAttributes(Record, [&](const TNtfsAttr& Attr, std::size_t Offset) {
    const int slot = NtfsAttrSlot(Attr.Type());
    if (slot >= 0) offsets[next[static_cast<std::size_t>(slot)]++] = static_cast<std::uint16_t>(Offset);
    return true;
  });
  index.Slots.Assign(std::move(offsets), start);
  return index;
}

std::optional<TNtfsAttr> FindAttrInRecord(std::span<const std::uint8_t> Record, std::uint32_t Type, int Instance) {
  std::optional<TNtfsAttr> found;
  WalkAttributes(Record, [&](const TNtfsAttr& Attr, std::size_t) {
    if ((Type == NtfsAttrType::Any || Attr.Type() == Type) && (Instance < 0 || Attr.Instance() == Instance)) {
      found = Attr;
      return false;
    }
    return true;
  });
  return found;
}

}  // namespace kestrine
