// ZIP and the formats built on it, 7z, RAR 4 and 5, GZIP.

#include <zlib.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/deep/format_walks.h"

namespace kestrine {
namespace {

constexpr std::array<std::uint8_t, 4> kEndOfDirectory{'P', 'K', 5, 6};

// What a ZIP's members make of it.
TFoundFile ZipKind(TWalkReader& Reader, std::int64_t Directory, std::int64_t Entries) {
  // OpenDocument and EPUB name themselves in a first, stored member "mimetype".
  const auto nameLength = Reader.Le16(26);
  const auto extraLength = Reader.Le16(28);
  if (nameLength && extraLength && *nameLength == 8) {
    char name[8];
    std::array<char, 64> mime{};
    const std::int64_t data = 30 + *nameLength + *extraLength;
    if (Reader.Read(30, name, 8) && std::string_view(name, 8) == "mimetype" &&
        Reader.Read(data, mime.data(), mime.size() - 1)) {
      const std::string_view m(mime.data());
      if (m.starts_with("application/epub+zip")) return {0, "EPUB", "epub"};
      if (m.starts_with("application/vnd.oasis.opendocument.text")) return {0, "ODT", "odt"};
      if (m.starts_with("application/vnd.oasis.opendocument.spreadsheet")) return {0, "ODS", "ods"};
      if (m.starts_with("application/vnd.oasis.opendocument.presentation")) return {0, "ODP", "odp"};
    }
  }
  std::int64_t at = Directory;
  for (std::int64_t i = 0; i < std::min<std::int64_t>(Entries, 4096); ++i) {
    const auto sig = Reader.Le32(at);
    const auto length = Reader.Le16(at + 28);
    const auto extra = Reader.Le16(at + 30);
    const auto comment = Reader.Le16(at + 32);
    if (!sig || *sig != 0x02014B50 || !length || !extra || !comment) break;
    std::string name(*length, '\0');
    if (!Reader.Read(at + 46, name.data(), name.size())) break;
    if (name.starts_with("word/")) return {0, "DOCX", "docx"};
    if (name.starts_with("xl/")) return {0, "XLSX", "xlsx"};
    if (name.starts_with("ppt/")) return {0, "PPTX", "pptx"};
    if (name == "AndroidManifest.xml") return {0, "APK", "apk"};
    if (name == "META-INF/MANIFEST.MF") return {0, "JAR", "jar"};
    at += 46 + *length + *extra + *comment;
  }
  return {0, "ZIP", "zip"};
}

std::optional<std::uint64_t> Vint(TWalkReader& Reader, std::int64_t& At) {
  std::uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const auto b = Reader.U8(At++);
    if (!b) return std::nullopt;
    value |= std::uint64_t{*b & 0x7Fu} << shift;
    if (!(*b & 0x80)) return value;
  }
  return std::nullopt;
}

std::optional<TFoundFile> WalkRar4(TWalkReader& Reader) {
  std::int64_t at = 7;
  for (int block = 0; block < 1 << 20; ++block) {
    const auto type = Reader.U8(at + 2);
    const auto flags = Reader.Le16(at + 3);
    const auto size = Reader.Le16(at + 5);
    if (!type || !flags || !size || *size < 7 || *type < 0x72 || *type > 0x7B) return std::nullopt;
    std::int64_t next = at + *size;
    if (*flags & 0x8000) {
      const auto added = Reader.Le32(at + 7);
      if (!added) return std::nullopt;
      next += *added;
    }
    if (next > Reader.Size()) return std::nullopt;
    if (*type == 0x7B) return TFoundFile{next, "RAR", "rar"};
    at = next;
  }
  return std::nullopt;
}

std::optional<TFoundFile> WalkRar5(TWalkReader& Reader) {
  std::int64_t at = 8;
  for (int block = 0; block < 1 << 20; ++block) {
    std::int64_t field = at + 4;
    const auto headerSize = Vint(Reader, field);
    if (!headerSize || *headerSize == 0 || *headerSize > (1u << 21)) return std::nullopt;
    const std::int64_t body = field;
    const auto type = Vint(Reader, field);
    const auto flags = Vint(Reader, field);
    if (!type || !flags || *type == 0 || *type > 5) return std::nullopt;
    if (*flags & 1 && !Vint(Reader, field)) return std::nullopt;
    std::uint64_t data = 0;
    if (*flags & 2) {
      const auto size = Vint(Reader, field);
      if (!size) return std::nullopt;
      data = *size;
    }
    if (data > static_cast<std::uint64_t>(Reader.Size())) return std::nullopt;
    const std::int64_t next = body + static_cast<std::int64_t>(*headerSize + data);
    if (next > Reader.Size()) return std::nullopt;
    if (*type == 5) return TFoundFile{next, "RAR", "rar"};
    at = next;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TFoundFile> WalkZip(TWalkReader& Reader) {
  // The end record whose central directory ends right before it is this archive's own.
  for (std::int64_t from = 30;;) {
    const auto end = Reader.Find(kEndOfDirectory, from, Reader.Size());
    if (!end) return std::nullopt;
    const auto entries = Reader.Le16(*end + 10);
    const auto size = Reader.Le32(*end + 12);
    const auto offset = Reader.Le32(*end + 16);
    const auto comment = Reader.Le16(*end + 20);
    if (entries && size && offset && comment && std::int64_t{*offset} + *size == *end &&
        *end + 22 + *comment <= Reader.Size()) {
      TFoundFile found = ZipKind(Reader, *offset, *entries);
      found.Length = *end + 22 + *comment;
      return found;
    }
    from = *end + 1;
  }
}

std::optional<TFoundFile> WalkSevenZip(TWalkReader& Reader) {
  const auto offset = Reader.Le64(12);
  const auto size = Reader.Le64(20);
  if (!offset || !size || *size == 0) return std::nullopt;
  const std::uint64_t room = static_cast<std::uint64_t>(Reader.Size());
  if (*offset > room || *size > room || 32 + *offset + *size > room) return std::nullopt;
  return TFoundFile{static_cast<std::int64_t>(32 + *offset + *size), "7z", "7z"};
}

std::optional<TFoundFile> WalkRar(TWalkReader& Reader) {
  const auto version = Reader.U8(6);
  if (!version) return std::nullopt;
  if (*version == 0) return WalkRar4(Reader);
  if (*version == 1) return WalkRar5(Reader);
  return std::nullopt;
}

std::optional<TFoundFile> WalkGzip(TWalkReader& Reader) {
  // Deflate keeps no length: the stream is decoded (and thrown away) to find where it ends.
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
  std::vector<std::uint8_t> out(64 * 1024);
  std::int64_t at = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    const auto piece = Reader.Peek(at, TWalkReader::kChunk);
    if (piece.empty()) break;
    z.next_in = const_cast<Bytef*>(piece.data());
    z.avail_in = static_cast<uInt>(piece.size());
    while (z.avail_in > 0 && status == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      if (status == Z_BUF_ERROR) status = Z_OK;
    }
    at += static_cast<std::int64_t>(piece.size() - z.avail_in);
  }
  inflateEnd(&z);
  if (status != Z_STREAM_END) return std::nullopt;
  return TFoundFile{at, "GZIP", "gz"};
}

}  // namespace kestrine
