#include "engine/ntfs/ntfs_records.h"

#include "engine/ntfs/utf16_text.h"
#include "engine/volume/byte_order.h"

namespace kestrine {
namespace {
// Smallest headers that hold every field read: resident up to the value offset, non-resident up to
// the initialized size.
constexpr std::size_t kResidentHeader = 0x18;
constexpr std::size_t kNonResidentHeader = 0x40;
constexpr std::size_t kCommonHeader = 0x10;
}  // namespace

int NtfsAttrSlot(std::uint32_t Type) {
  switch (Type) {
    case NtfsAttrType::Data: return 0;
    case NtfsAttrType::FileName: return 1;
    case NtfsAttrType::StandardInformation: return 2;
    case NtfsAttrType::AttributeList: return 3;
    case NtfsAttrType::Bitmap: return 4;
    case NtfsAttrType::LoggedUtilityStream: return 5;
    default: return -1;
  }
}

std::optional<TNtfsAttr> TNtfsAttr::View(std::span<const std::uint8_t> Record, std::size_t Offset) {
  std::uint32_t length = 0;
  if (!TryReadLe(Record, Offset + 4, length) || Offset + kCommonHeader > Record.size()) return std::nullopt;
  if (length > Record.size() - Offset) return std::nullopt;
  const std::size_t need = Record[Offset + 8] != 0 ? kNonResidentHeader : kResidentHeader;
  if (length < need) return std::nullopt;
  return TNtfsAttr(Record.subspan(Offset, length), nullptr);
}

TNtfsAttr TNtfsAttr::OwnedCopy() const {
  auto owned = std::make_shared<const std::vector<std::uint8_t>>(FBytes.begin(), FBytes.end());
  const std::span<const std::uint8_t> bytes(owned->data(), owned->size());
  return TNtfsAttr(bytes, std::move(owned));
}

std::uint32_t TNtfsAttr::Type() const { return ReadLe32(FBytes, 0); }
std::uint16_t TNtfsAttr::Instance() const { return ReadLe16(FBytes, 0x0E); }
std::uint16_t TNtfsAttr::Flags() const { return ReadLe16(FBytes, 0x0C); }

std::optional<std::string> TNtfsAttr::Name() const {
  const std::size_t units = FBytes[0x09];
  const std::size_t offset = ReadLe16(FBytes, 0x0A);
  if (units == 0) return std::string();
  if (offset > FBytes.size() || FBytes.size() - offset < 2 * units) return std::nullopt;
  // Names end at their first zero unit, as a converted zero-terminated buffer would.
  return Utf16LeToUtf8(FBytes.subspan(offset, 2 * units), true);
}

std::span<const std::uint8_t> TNtfsAttr::Value() const {
  if (NonResident()) return {};
  const std::size_t length = ReadLe32(FBytes, 0x10);
  const std::size_t offset = ReadLe16(FBytes, 0x14);
  if (offset > FBytes.size() || FBytes.size() - offset < length) return {};
  return FBytes.subspan(offset, length);
}

std::span<const std::uint8_t> TNtfsAttr::MappingPairs() const {
  if (!NonResident()) return {};
  const std::size_t offset = ReadLe16(FBytes, 0x20);
  if (offset >= FBytes.size()) return {};
  return FBytes.subspan(offset);
}

std::int64_t TNtfsAttr::StartVcn() const { return NonResident() ? static_cast<std::int64_t>(ReadLe64(FBytes, 0x10)) : 0; }
std::uint16_t TNtfsAttr::CompressionUnit() const { return NonResident() ? ReadLe16(FBytes, 0x22) : 0; }
std::uint64_t TNtfsAttr::AllocatedSize() const { return NonResident() ? ReadLe64(FBytes, 0x28) : Value().size(); }
std::uint64_t TNtfsAttr::DataSize() const { return NonResident() ? ReadLe64(FBytes, 0x30) : Value().size(); }
std::uint64_t TNtfsAttr::InitializedSize() const {
  return NonResident() ? ReadLe64(FBytes, 0x38) : Value().size();
}
std::uint64_t TNtfsAttr::StreamSize() const { return NonResident() ? DataSize() : ReadLe32(FBytes, 0x10); }

std::vector<TNamedStreamInfo> TNtfsFileInfo::NamedStreams() const {
  std::vector<TNamedStreamInfo> named;
  if (!Streams) return named;
  named.reserve(Streams->size());
  for (const TNtfsDataStreamInfo& stream : *Streams) named.push_back({stream.Name, stream.Size});
  return named;
}

std::optional<TNtfsAttr> TNtfsFileInfo::Attr(std::size_t Slot, std::size_t Index) const {
  if (Slot >= kNtfsAttrSlots || Index >= Attrs(Slot).size()) return std::nullopt;
  return TNtfsAttr::View(RecordBuf(), Attrs(Slot)[Index]);
}

}  // namespace kestrine
