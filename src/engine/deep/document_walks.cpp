// PDF, OLE2 compound files (DOC, XLS, PPT, MSG) and SQLite databases.

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "engine/deep/format_walks.h"

namespace kestrine {
namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;

// The compound file's sectors: the header is sector -1.
struct TCompound {
  TWalkReader& Reader;
  std::uint32_t SectorSize;
  std::int64_t SectorAt(std::uint32_t Sector) const { return (std::int64_t{Sector} + 1) * SectorSize; }

  // The highest sector the allocation table marks used, after that table sector; nil when unreadable.
  std::optional<std::int64_t> LastUsed(std::uint32_t TableSector, std::int64_t FirstIndex) {
    std::optional<std::int64_t> last;
    const std::uint32_t perSector = SectorSize / 4;
    for (std::uint32_t i = 0; i < perSector; ++i) {
      const auto next = Reader.Le32(SectorAt(TableSector) + 4 * i);
      if (!next) return std::nullopt;
      if (*next != kFreeSector) last = FirstIndex + i;
    }
    return last ? last : std::optional<std::int64_t>(-1);
  }

  // What the root folder's entries say the file is.
  TFoundFile Kind(std::uint32_t DirectorySector) {
    for (std::uint32_t slot = 0; slot < SectorSize / 128; ++slot) {
      const std::int64_t entry = SectorAt(DirectorySector) + 128 * slot;
      const auto length = Reader.Le16(entry + 64);
      if (!length || *length < 2 || *length > 64) continue;
      std::string name;
      for (std::uint16_t i = 0; i + 2 < *length; i += 2) {
        const auto unit = Reader.Le16(entry + i);
        if (!unit) break;
        name += static_cast<char>(*unit < 0x80 ? *unit : '?');
      }
      if (name == "WordDocument") return {0, "DOC", "doc"};
      if (name == "Workbook" || name == "Book") return {0, "XLS", "xls"};
      if (name == "PowerPoint Document") return {0, "PPT", "ppt"};
      if (name.starts_with("__substg1.0_") || name == "__properties_version1.0") return {0, "MSG", "msg"};
    }
    return {0, "OLE2", "ole"};
  }
};

}  // namespace

std::optional<TFoundFile> WalkPdf(TWalkReader& Reader) {
  static constexpr std::array<std::uint8_t, 5> kEof{'%', '%', 'E', 'O', 'F'};
  std::optional<std::int64_t> last;
  for (auto hit = Reader.Find(kEof, 5, Reader.Size()); hit; hit = Reader.Find(kEof, *hit + 5, Reader.Size()))
    last = hit;
  if (!last) return std::nullopt;
  std::int64_t end = *last + 5;
  // The line end after the marker belongs to the file.
  const auto first = Reader.U8(end);
  if (first && *first == '\r') ++end;
  if (const auto second = Reader.U8(end); second && *second == '\n') ++end;
  return TFoundFile{end, "PDF", "pdf", "ends at the last %%EOF before the next file found"};
}

std::optional<TFoundFile> WalkOle2(TWalkReader& Reader) {
  const auto shift = Reader.Le16(30);
  const auto tableSectors = Reader.Le32(44);
  const auto directory = Reader.Le32(48);
  const auto extension = Reader.Le32(68);
  const auto extensionSectors = Reader.Le32(72);
  if (!shift || !tableSectors || !directory || !extension || !extensionSectors) return std::nullopt;
  if ((*shift != 9 && *shift != 12) || *tableSectors == 0 || *tableSectors > (1u << 20)) return std::nullopt;
  TCompound file{Reader, 1u << *shift};
  const std::uint32_t perSector = file.SectorSize / 4;
  std::int64_t last = -1;
  std::uint32_t listed = 0;
  // The first 109 table sectors are named in the header, the rest in the extension sectors' chain.
  const auto take = [&](std::uint32_t TableSector) {
    if (TableSector > kMaxRegularSector) return true;
    const auto used = file.LastUsed(TableSector, std::int64_t{listed} * perSector);
    if (!used) return false;
    last = std::max({last, *used, std::int64_t{TableSector}});
    ++listed;
    return true;
  };
  for (std::uint32_t i = 0; i < std::min<std::uint32_t>(109, *tableSectors); ++i) {
    const auto sector = Reader.Le32(76 + 4 * i);
    if (!sector || !take(*sector)) return std::nullopt;
  }
  std::uint32_t next = *extension;
  for (std::uint32_t n = 0; n < *extensionSectors && next <= kMaxRegularSector; ++n) {
    last = std::max(last, std::int64_t{next});
    for (std::uint32_t i = 0; i + 1 < perSector && listed < *tableSectors; ++i) {
      const auto sector = Reader.Le32(file.SectorAt(next) + 4 * i);
      if (!sector || !take(*sector)) return std::nullopt;
    }
    const auto chained = Reader.Le32(file.SectorAt(next) + 4 * (perSector - 1));
    if (!chained) return std::nullopt;
    next = *chained;
  }
  if (last < 0 || *directory > kMaxRegularSector) return std::nullopt;
  const std::int64_t length = file.SectorAt(static_cast<std::uint32_t>(last)) + file.SectorSize;
  if (length > Reader.Size()) return std::nullopt;
  TFoundFile found = file.Kind(*directory);
  found.Length = length;
  return found;
}

std::optional<TFoundFile> WalkSqlite(TWalkReader& Reader) {
  const auto pageSize = Reader.Be16(16);
  const auto changes = Reader.Be32(24);
  const auto pages = Reader.Be32(28);
  const auto validFor = Reader.Be32(92);
  if (!pageSize || !changes || !pages || !validFor) return std::nullopt;
  const std::int64_t size = *pageSize == 1 ? 65536 : *pageSize;
  if (size < 512 || (size & (size - 1)) != 0 || *pages == 0 || *changes != *validFor) return std::nullopt;
  const std::int64_t length = size * *pages;
  if (length > Reader.Size()) return std::nullopt;
  return TFoundFile{length, "SQLite", "sqlite"};
}

}  // namespace kestrine
