// JPEG, PNG, GIF, BMP and TIFF (with the camera raw formats built on it).

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/deep/format_walks.h"

namespace kestrine {
namespace {

constexpr std::int64_t kMaxSegments = 1 << 16;

// The entropy-coded data after a scan header ends at the first 0xFF that is neither stuffed (0x00)
// nor a restart marker; nil when the reader ends first.
std::optional<std::int64_t> SkipEntropyData(TWalkReader& Reader, std::int64_t At) {
  while (true) {
    const auto piece = Reader.Peek(At, TWalkReader::kChunk);
    if (piece.size() < 2) return std::nullopt;
    const std::uint8_t* base = piece.data();
    const std::uint8_t* p = base;
    const std::uint8_t* end = base + piece.size() - 1;  // a marker's second byte must be in the piece
    while ((p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(end - p))))) {
      const std::uint8_t next = p[1];
      if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) return At + (p - base);
      ++p;
    }
    At += static_cast<std::int64_t>(piece.size()) - 1;
  }
}

bool IsChunkType(const std::uint8_t* T) {
  return std::all_of(T, T + 4, [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// GIF data sub-blocks from At to their terminator; where the next block starts.
std::optional<std::int64_t> SkipSubBlocks(TWalkReader& Reader, std::int64_t At) {
  for (std::int64_t n = 0; n < Reader.Size(); ++n) {
    const auto size = Reader.U8(At);
    if (!size) return std::nullopt;
    At += 1 + *size;
    if (*size == 0) return At;
  }
  return std::nullopt;
}

// TIFF fields read in the file's byte order.
struct TTiff {
  TWalkReader& Reader;
  bool Little;
  std::int64_t End = 0;
  int Ifds = 0;
  bool Dng = false;

  std::optional<std::uint16_t> U16(std::int64_t At) { return Little ? Reader.Le16(At) : Reader.Be16(At); }
  std::optional<std::uint32_t> U32(std::int64_t At) { return Little ? Reader.Le32(At) : Reader.Be32(At); }
  void Reach(std::int64_t At) { End = std::max(End, At); }

  // Value I of an entry: SHORT or LONG, inline when the values fit in 4 bytes.
  std::optional<std::uint32_t> Value(std::int64_t Entry, std::uint16_t Type, std::uint32_t Count, std::uint32_t I) {
    const std::uint32_t width = Type == 3 ? 2 : 4;
    std::int64_t at = Entry + 8;
    if (std::uint64_t{Count} * width > 4) {
      const auto offset = U32(Entry + 8);
      if (!offset) return std::nullopt;
      at = *offset;
    }
    at += std::int64_t{I} * width;
    if (Type == 3) {
      const auto v = U16(at);
      return v ? std::optional<std::uint32_t>(*v) : std::nullopt;
    }
    return U32(at);
  }

  // Data areas named by an offsets tag and a byte-counts tag of one IFD.
  void ReachAreas(std::int64_t Offsets, std::int64_t Counts) {
    const auto type = U16(Offsets + 2);
    const auto count = U32(Offsets + 4);
    const auto ctype = U16(Counts + 2);
    const auto ccount = U32(Counts + 4);
    if (!type || !count || !ctype || !ccount || *count != *ccount || *count > (1u << 20)) return;
    for (std::uint32_t i = 0; i < *count; ++i) {
      const auto at = Value(Offsets, *type, *count, i);
      const auto length = Value(Counts, *ctype, *ccount, i);
      if (!at || !length) return;
      Reach(std::int64_t{*at} + *length);
    }
  }

  bool WalkIfd(std::int64_t At, int Depth) {
    for (int chained = 0; At != 0 && chained < 64 && Depth < 4; ++chained) {
      if (++Ifds > 256 || At < 8) return false;
      const auto entries = U16(At);
      if (!entries || *entries == 0) return false;
      const std::int64_t entryEnd = At + 2 + 12 * std::int64_t{*entries};
      Reach(entryEnd + 4);
      std::int64_t stripOffsets = 0, stripCounts = 0, tileOffsets = 0, tileCounts = 0, jpeg = 0, jpegLength = 0;
      for (std::int64_t e = At + 2; e < entryEnd; e += 12) {
        const auto tag = U16(e);
        const auto type = U16(e + 2);
        const auto count = U32(e + 4);
        if (!tag || !type || !count) return false;
        static constexpr std::array<std::uint8_t, 19> kWidths{0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
        const std::uint64_t width = *type < kWidths.size() ? kWidths[*type] : 0;
        if (width == 0) continue;
        if (width * *count > 4) {
          const auto offset = U32(e + 8);
          if (offset) Reach(std::int64_t{*offset} + static_cast<std::int64_t>(width * *count));
        }
        switch (*tag) {
          case 273:
            stripOffsets = e;
            break;
          case 279:
            stripCounts = e;
            break;
          case 324:
            tileOffsets = e;
            break;
          case 325:
            tileCounts = e;
            break;
          case 513:
            jpeg = e;
            break;
          case 514:
            jpegLength = e;
            break;
          case 50706:
            Dng = true;
            break;
          case 330:
          case 34665:
          case 34853:  // sub-IFDs, Exif, GPS
            for (std::uint32_t i = 0; i < std::min<std::uint32_t>(*count, 16); ++i)
              if (const auto sub = Value(e, *type, *count, i)) WalkIfd(*sub, Depth + 1);
            break;
          default:
            break;
        }
      }
      if (stripOffsets && stripCounts) ReachAreas(stripOffsets, stripCounts);
      if (tileOffsets && tileCounts) ReachAreas(tileOffsets, tileCounts);
      if (jpeg && jpegLength) ReachAreas(jpeg, jpegLength);
      const auto next = U32(entryEnd);
      if (!next) return false;
      At = *next;
    }
    return true;
  }
};

}  // namespace

std::optional<TFoundFile> WalkJpeg(TWalkReader& Reader) {
  std::int64_t at = 2;
  bool frame = false, scan = false;
  for (std::int64_t n = 0; n < kMaxSegments; ++n) {
    auto mark = Reader.U8(at);
    if (!mark || *mark != 0xFF) return std::nullopt;
    auto code = Reader.U8(at + 1);
    while (code && *code == 0xFF) code = Reader.U8(++at + 1);  // fill bytes
    if (!code) return std::nullopt;
    if (*code == 0xD9) {
      if (!frame || !scan) return std::nullopt;
      return TFoundFile{at + 2, "JPEG", "jpg"};
    }
    if ((*code >= 0xD0 && *code <= 0xD7) || *code == 0x01) {
      at += 2;
      continue;
    }
    if (*code == 0x00 || *code == 0xD8) return std::nullopt;
    const auto length = Reader.Be16(at + 2);
    if (!length || *length < 2) return std::nullopt;
    if ((*code >= 0xC0 && *code <= 0xCF) && *code != 0xC4 && *code != 0xC8 && *code != 0xCC) frame = true;
    at += 2 + *length;
    if (*code == 0xDA) {
      scan = true;
      const auto next = SkipEntropyData(Reader, at);
      if (!next) return std::nullopt;
      at = *next;
    }
  }
  return std::nullopt;
}

std::optional<TFoundFile> WalkPng(TWalkReader& Reader) {
  std::int64_t at = 8;
  for (std::int64_t n = 0; n < kMaxSegments * 16; ++n) {
    std::uint8_t head[8];
    if (!Reader.Read(at, head, sizeof head)) return std::nullopt;
    const std::uint32_t length = (std::uint32_t{head[0]} << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
    if (length > 0x7FFFFFFFu || !IsChunkType(head + 4)) return std::nullopt;
    if (n == 0 && std::memcmp(head + 4, "IHDR", 4) != 0) return std::nullopt;
    at += 12 + std::int64_t{length};
    if (std::memcmp(head + 4, "IEND", 4) == 0) {
      if (at > Reader.Size()) return std::nullopt;
      return TFoundFile{at, "PNG", "png"};
    }
  }
  return std::nullopt;
}

std::optional<TFoundFile> WalkGif(TWalkReader& Reader) {
  const auto flags = Reader.U8(10);
  if (!flags) return std::nullopt;
  std::int64_t at = 13 + ((*flags & 0x80) ? 3 * (2 << (*flags & 7)) : 0);
  bool image = false;
  for (std::int64_t n = 0; n < kMaxSegments * 16; ++n) {
    const auto block = Reader.U8(at);
    if (!block) return std::nullopt;
    if (*block == 0x3B) {
      if (!image) return std::nullopt;
      return TFoundFile{at + 1, "GIF", "gif"};
    }
    std::optional<std::int64_t> next;
    if (*block == 0x21) {
      next = SkipSubBlocks(Reader, at + 2);
    } else if (*block == 0x2C) {
      const auto local = Reader.U8(at + 9);
      if (!local) return std::nullopt;
      image = true;
      next = SkipSubBlocks(Reader, at + 10 + ((*local & 0x80) ? 3 * (2 << (*local & 7)) : 0) + 1);
    }
    if (!next) return std::nullopt;
    at = *next;
  }
  return std::nullopt;
}

std::optional<TFoundFile> WalkBmp(TWalkReader& Reader) {
  const auto size = Reader.Le32(2);
  const auto reserved = Reader.Le32(6);
  const auto pixels = Reader.Le32(10);
  const auto header = Reader.Le32(14);
  if (!size || !reserved || !pixels || !header || *reserved != 0) return std::nullopt;
  static constexpr std::array<std::uint32_t, 7> kHeaders{12, 40, 52, 56, 64, 108, 124};
  if (std::find(kHeaders.begin(), kHeaders.end(), *header) == kHeaders.end()) return std::nullopt;
  if (*pixels < 14 + *header || *size < *pixels || *size > Reader.Size()) return std::nullopt;
  return TFoundFile{*size, "BMP", "bmp"};
}

std::optional<TFoundFile> WalkTiff(TWalkReader& Reader) {
  const auto order = Reader.U8(0);
  if (!order) return std::nullopt;
  TTiff tiff{Reader, *order == 'I'};
  const auto first = tiff.U32(4);
  if (!first || *first < 8 || !tiff.WalkIfd(*first, 0) || tiff.End > Reader.Size()) return std::nullopt;
  std::uint8_t raw[2];
  if (Reader.Read(8, raw, 2) && raw[0] == 'C' && raw[1] == 'R') return TFoundFile{tiff.End, "CR2", "cr2"};
  if (tiff.Dng) return TFoundFile{tiff.End, "DNG", "dng"};
  return TFoundFile{tiff.End, "TIFF", "tif"};
}

}  // namespace kestrine
