#include "cli/output.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <utility>

namespace kestrine::cli {
namespace {

std::string CellText(const nlohmann::ordered_json& Value) {
  if (Value.is_null()) return {};
  if (Value.is_string()) return Value.get<std::string>();
  if (Value.is_boolean()) return Value.get<bool>() ? "yes" : "no";
  return Value.dump();
}

bool IsPlainJsonByte(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// Cells are tested eight bytes at a time: a listing passes every byte of every cell through these.
// Each word test is nonzero exactly when some byte of W matches (Bit Twiddling Hacks, "haszero").
constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
constexpr std::uint64_t ByteBelow(std::uint64_t W, unsigned N) { return (W - kOnes * N) & ~W & kHighs; }  // N <= 128
constexpr std::uint64_t ByteIs(std::uint64_t W, unsigned char C) { return ByteBelow(W ^ (kOnes * C), 1); }

template <class TWordTest, class TByteTest>
bool AnyByte(std::string_view Text, TWordTest Word, TByteTest Byte) {
  std::size_t i = 0;
  for (; i + 8 <= Text.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, Text.data() + i, 8);
    if (Word(w)) return true;
  }
  for (; i < Text.size(); ++i)
    if (Byte(static_cast<unsigned char>(Text[i]))) return true;
  return false;
}

// C0 controls, DEL and the lead byte of the C1 controls: what a terminal must not be sent.
bool HasControls(std::string_view Text) {
  return AnyByte(
      Text, [](std::uint64_t w) { return ByteBelow(w, 0x20) | ByteIs(w, 0x7F) | ByteIs(w, 0xC2); },
      [](unsigned char c) { return c < 0x20 || c == 0x7F || c == 0xC2; });
}

// How many leading bytes A and B share.
std::size_t SharedPrefix(std::string_view A, std::string_view B) {
  static_assert(std::endian::native == std::endian::little, "the first differing byte is the lowest");
  const std::size_t most = std::min(A.size(), B.size());
  std::size_t i = 0;
  for (; i + 8 <= most; i += 8) {
    std::uint64_t a, b;
    std::memcpy(&a, A.data() + i, 8);
    std::memcpy(&b, B.data() + i, 8);
    if (a != b) return i + static_cast<std::size_t>(std::countr_zero(a ^ b)) / 8;
  }
  while (i < most && A[i] == B[i]) ++i;
  return i;
}

void AppendCsvField(std::string& Out, std::string_view Value) {
  const bool plain = !AnyByte(
      Value, [](std::uint64_t w) { return ByteIs(w, ',') | ByteIs(w, '"') | ByteIs(w, '\r') | ByteIs(w, '\n'); },
      [](unsigned char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
  if (plain) {
    Out += Value;
    return;
  }
  Out += '"';
  for (char c : Value) {
    if (c == '"') Out += '"';
    Out += c;
  }
  Out += '"';
}

// Display width of UTF-8 text: one column per code point.
std::size_t Width(std::string_view s) {
  // Eight bytes at a time: a continuation byte is the one whose top bits are 10. A table lays out
  // every cell of a listing this way.
  std::size_t continuations = 0, i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    // One in the low bit of each such byte; the multiply sums the eight bytes into the top one.
    const std::uint64_t ones = (w & ~(w << 1) & 0x8080808080808080ull) >> 7;
    continuations += static_cast<std::size_t>((ones * 0x0101010101010101ull) >> 56);
  }
  for (; i < s.size(); ++i) continuations += (s[i] & 0xC0) == 0x80;
  return s.size() - continuations;
}

// A table keeps its cells until the end, so they are kept small: each as the count of leading bytes
// it shares with the cell above it in its piece, then the rest. Neighbouring rows mostly share a
// folder and a day. The header also gives the length and width, so the layout reads no cell byte by
// byte: counts, the length of the rest doubled plus one when the cell has multibyte characters,
// then the count of its continuation bytes when it has.
constexpr unsigned char kLongCount = 255;  // a count this large follows as a varint

// Writes Value at At; returns the end. Room for the largest: one byte and ten of varint.
char* PutCount(char* At, std::size_t Value) {
  if (Value < kLongCount) {
    *At++ = static_cast<char>(Value);
    return At;
  }
  *At++ = static_cast<char>(kLongCount);
  for (; Value >= 0x80; Value >>= 7) *At++ = static_cast<char>((Value & 0x7F) | 0x80);
  *At++ = static_cast<char>(Value);
  return At;
}

std::size_t ReadCount(const char*& At) {
  std::size_t value = static_cast<unsigned char>(*At++);
  if (value < kLongCount) return value;
  value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*At++);
    value |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

// Room a cell's header can take: three counts, each a byte and at most ten of varint.
constexpr std::size_t kLongestHead = 33;

// Writes Cell at Out, kept against Above, which becomes Cell; returns the end.
char* PutTableCell(char* Out, std::string& Above, std::string_view Cell, std::size_t Width) {
  const std::size_t shared = SharedPrefix(Above, Cell);
  const std::string_view rest = Cell.substr(shared);
  const std::size_t continuations = Cell.size() - Width;
  Out = PutCount(PutCount(Out, shared), rest.size() * 2 + (continuations ? 1 : 0));
  if (continuations) Out = PutCount(Out, continuations);
  Out = std::copy(rest.begin(), rest.end(), Out);
  Above.resize(Cell.size());
  std::copy(rest.begin(), rest.end(), Above.begin() + static_cast<std::ptrdiff_t>(shared));
  return Out;
}

// A table cell as kept: how many bytes it shares with the cell above, the rest, and its width.
struct TKeptCell {
  std::size_t Shared;
  std::string_view Rest;
  std::size_t Width;
};

// The cell at At; At moves past it.
TKeptCell ReadTableCell(const char*& At) {
  const std::size_t shared = ReadCount(At);
  const std::size_t length = ReadCount(At);
  const std::size_t continuations = length & 1 ? ReadCount(At) : 0;
  const std::string_view rest(At, length / 2);
  At += rest.size();
  return {shared, rest, shared + rest.size() - continuations};
}

// A table is laid out in steps of 16 bytes: a call to memcpy or memset for each short cell costs
// more than its bytes. A step reads and writes up to 15 bytes past either end of what it moves,
// where the caller leaves room.
constexpr std::size_t kStep = 16;

char* CopyInSteps(char* To, const char* From, std::size_t N) {
  for (std::size_t i = 0; i < N; i += kStep) {
    char step[kStep];  // read whole before it is written: the ends of From and To may overlap
    std::memcpy(step, From + i, kStep);
    std::memcpy(To + i, step, kStep);
  }
  return To + N;
}

char* SpacesInSteps(char* To, std::size_t N) {
  for (std::size_t i = 0; i < N; i += kStep) std::memset(To + i, ' ', kStep);
  return To + N;
}

}  // namespace

std::string EscapeControls(const std::string& Text) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<unsigned char>(Text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xC2 && i + 1 < Text.size() && static_cast<unsigned char>(Text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(Text[i + 1]) <= 0x9F) {
      // U+0080..U+009F: some terminals take U+009B as the start of an escape sequence.
      const auto code = static_cast<unsigned char>(Text[++i]);
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TOutputFormat ParseOutputFormat(const std::string& Name) {
  if (Name == "csv") return TOutputFormat::Csv;
  if (Name == "json") return TOutputFormat::Json;
  return TOutputFormat::Table;
}

void AppendJsonString(std::string& Out, std::string_view Text) {
  static const char* kHex = "0123456789abcdef";
  Out += '"';
  for (std::size_t i = 0; i < Text.size();) {
    // Plain ASCII goes over as one piece: a byte at a time costs more than the rest of a row.
    std::size_t plain = i;
    while (plain < Text.size() && IsPlainJsonByte(static_cast<unsigned char>(Text[plain]))) ++plain;
    if (plain > i) {
      Out.append(Text.substr(i, plain - i));
      i = plain;
      continue;
    }
    const auto c = static_cast<unsigned char>(Text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': Out += "\\\""; break;
        case '\\': Out += "\\\\"; break;
        case '\b': Out += "\\b"; break;
        case '\f': Out += "\\f"; break;
        case '\n': Out += "\\n"; break;
        case '\r': Out += "\\r"; break;
        case '\t': Out += "\\t"; break;
        default: Out += "\\u00", Out += kHex[c >> 4], Out += kHex[c & 15];
      }
      ++i;
      continue;
    }
    // A whole UTF-8 sequence is copied; anything else is one replacement character per byte.
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    bool valid = length > 0 && c < 0xF5 && c > 0xC1 && i + length <= Text.size();
    std::uint32_t code = length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(Text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
            !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      Out.append(Text.substr(i, length));
      i += length;
    } else {
      Out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  Out += '"';
}

std::string NothingNamed(const std::string& Request, const std::string& What) {
  if (!Request.starts_with('#')) return "no " + What + " of that path was found";
  if (Request.size() < 2 || Request.find_first_not_of("0123456789", 1) != std::string::npos)
    return "not an item id: an id is # and the number scan shows (a path starting with # is written /#...)";
  return "no " + What + " of that id was found";
}

std::string CsvField(const std::string& Value) {
  std::string field;
  AppendCsvField(field, Value);
  return field;
}

TRowWriter::TRowWriter(TOutputFormat Format, const std::vector<TColumn>& Columns)
    : FOut(nullptr), FFormat(Format), FColumns(Columns), FWidths(Columns.size(), 0), FAbove(Columns.size()) {}

TRowWriter::TRowWriter(std::ostream& Out, TOutputFormat Format, std::vector<TColumn> Columns)
    : FOut(&Out), FFormat(Format), FColumns(std::move(Columns)), FAbove(FColumns.size()) {
  for (const auto& c : FColumns) FWidths.push_back(Width(c.Heading));
  if (FFormat != TOutputFormat::Csv) return;
  for (std::size_t i = 0; i < FColumns.size(); ++i) FBuffer += (i ? "," : "") + CsvField(FColumns[i].Key);
  FBuffer += '\n';
}

void TRowWriter::Add(const nlohmann::ordered_json& Row) {
  if (FFormat == TOutputFormat::Json) {
    // The same text as the whole array dumped with an indent of 2.
    std::string text = Row.dump(2);
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3))
      text.insert(at + 1, "  ");
    AddJson(text);
    return;
  }
  std::vector<std::string> cells;
  for (const auto& c : FColumns) cells.push_back(Row.contains(c.Key) ? CellText(Row[c.Key]) : std::string());
  AddCells(std::vector<std::string_view>(cells.begin(), cells.end()));
}

void TRowWriter::AddJson(std::string_view Object) {
  BeginJsonRow() += Object;
  EndRow();
}

std::string& TRowWriter::BeginJsonRow() {
  std::string& text = RowText();
  text += FRows++ ? ",\n  " : "[\n  ";
  return text;
}

std::string& TRowWriter::RowText() {
  if (FOut && FFormat != TOutputFormat::Table) return FBuffer;
  // Pieces of 256 KiB: one growing text would be copied each time it grows, and a table lays out
  // its pieces apart, each into a text that small pieces keep small. A row never straddles two;
  // one longer than the room left makes its piece grow.
  constexpr std::size_t kPiece = 1u << 18, kRoom = 4096;
  if (FPieces.empty() || FPieces.back().size() + kRoom > kPiece) {
    FPieces.emplace_back();
    FPieces.back().reserve(kPiece);
  }
  return FPieces.back();
}

TRowWriter TRowWriter::Part() const { return TRowWriter(FFormat, FColumns); }

void TRowWriter::Append(TRowWriter&& Part) {
  if (Part.FRows == 0) return;
  if (FFormat == TOutputFormat::Table) {
    FPieces.insert(FPieces.end(), std::make_move_iterator(Part.FPieces.begin()),
                   std::make_move_iterator(Part.FPieces.end()));
  } else {
    std::string_view first = Part.FPieces.front();
    if (FFormat == TOutputFormat::Json) {
      // The part began its array as if alone.
      constexpr std::string_view kOpening = "[\n  ";
      Put(FRows ? ",\n  " : kOpening);
      first.remove_prefix(kOpening.size());
    }
    Put(first);
    for (std::size_t i = 1; i < Part.FPieces.size(); ++i) Put(Part.FPieces[i]);
  }
  for (std::size_t i = 0; i < FWidths.size(); ++i) FWidths[i] = std::max(FWidths[i], Part.FWidths[i]);
  FRows += Part.FRows;
}

void TRowWriter::Put(std::string_view Text) {
  if (!FOut) {
    RowText() += Text;
    return;
  }
  // A long piece goes out as it is, not copied first.
  if (Text.size() >= (1u << 16)) {
    Spill(true);
    FOut->write(Text.data(), static_cast<std::streamsize>(Text.size()));
  } else {
    FBuffer += Text;
    Spill(false);
  }
}

void TRowWriter::AddCells(std::span<const std::string_view> Cells) {
  ++FRows;
  std::string& text = RowText();
  if (text.empty())
    for (std::string& above : FAbove) above.clear();  // a piece is laid out on its own
  std::string escaped;
  std::size_t kept = 0;  // bytes of FRow: a table row is put together there and joins its piece at once
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    std::string_view cell = i < Cells.size() ? Cells[i] : std::string_view();
    // JSON escapes on its own; a table or CSV read on a terminal must not carry control characters.
    if (HasControls(cell))
      cell = escaped = EscapeControls(std::string(cell));
    if (FFormat == TOutputFormat::Csv) {
      if (i) text += ',';
      AppendCsvField(text, cell);
    } else {
      const std::size_t width = Width(cell);
      FWidths[i] = std::max(FWidths[i], width);
      if (FRow.size() < kept + kLongestHead + cell.size()) FRow.resize(2 * (kept + kLongestHead + cell.size()));
      kept = static_cast<std::size_t>(PutTableCell(FRow.data() + kept, FAbove[i], cell, width) - FRow.data());
    }
  }
  if (FFormat == TOutputFormat::Csv)
    text += '\n';
  else
    text.append(FRow.data(), kept);
  Spill(false);
}

void TRowWriter::Spill(bool Always) {
  if (!FOut || (!Always && FBuffer.size() < (1u << 16))) return;
  FOut->write(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
  FBuffer.clear();
}

void TRowWriter::AppendTableLine(std::string& Out, std::span<const std::string_view> Line) const {
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const std::size_t pad = FWidths[i] - Width(Line[i]);
    if (i) Out += "  ";
    if (FColumns[i].AlignRight) Out.append(pad, ' ');
    Out += Line[i];
    if (!FColumns[i].AlignRight && i + 1 < Line.size()) Out.append(pad, ' ');
  }
  Out += '\n';
}

std::string_view TRowWriter::LayOutPiece(const std::string& Piece, std::string& Text) const {
  // A line takes at most every column's width and separator plus the bytes of its cells, and the
  // steps of the last copy may write past it.
  std::size_t widest = 1 + kStep;
  for (std::size_t w : FWidths) widest += w + 2;
  std::vector<TKeptCell> cells(FColumns.size());
  // Where each cell of the line above starts in Text: a cell's shared bytes are copied from there.
  std::vector<std::size_t> above(FColumns.size(), 0);
  const char* const end = Piece.data() + Piece.size();
  std::size_t used = 0;
  for (const char* at = Piece.data(); at < end;) {
    std::size_t bytes = 0;
    for (TKeptCell& cell : cells) {
      cell = ReadTableCell(at);
      bytes += cell.Shared + cell.Rest.size();
    }
    // Text keeps its size from piece to piece: it grows seldom, and its memory is touched once.
    if (const std::size_t need = used + widest + bytes; Text.size() < need) Text.resize(2 * need);
    // Written in place: appending piece by piece costs more than the bytes themselves.
    char* const base = Text.data();
    char* out = base + used;
    std::size_t spaces = 0;  // owed before the next cell: a pad, a separator, the next cell's pad
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const TKeptCell& cell = cells[i];
      const std::size_t pad = FWidths[i] - cell.Width;
      const bool right = FColumns[i].AlignRight;
      out = SpacesInSteps(out, spaces + (i ? 2 : 0) + (right ? pad : 0));
      // The line above lies before out, so the steps never overwrite a byte still to be read.
      const char* const shared = base + above[i];
      above[i] = static_cast<std::size_t>(out - base);
      out = CopyInSteps(out, shared, cell.Shared);
      const char* const rest = cell.Rest.data();
      if (rest + cell.Rest.size() + kStep <= end)
        out = CopyInSteps(out, rest, cell.Rest.size());
      else
        out = static_cast<char*>(std::memcpy(out, rest, cell.Rest.size())) + cell.Rest.size();
      spaces = right || i + 1 == cells.size() ? 0 : pad;
    }
    *out++ = '\n';
    used = static_cast<std::size_t>(out - base);
  }
  return std::string_view(Text).substr(0, used);
}

void TRowWriter::Finish() {
  if (FFormat == TOutputFormat::Json) {
    FBuffer += FRows ? "\n]\n" : "[]\n";
  } else if (FFormat == TOutputFormat::Table) {
    std::vector<std::string_view> heading;
    for (const auto& c : FColumns) heading.push_back(c.Heading);
    AppendTableLine(FBuffer, heading);
    if (FColumns.empty()) FBuffer.append(FRows, '\n');
    // Pieces are laid out on their own, two at once: on a large volume this is what the command
    // waits for at its end. Two texts are used again, as fresh memory costs more to touch than the
    // lines cost to write. Without a thread to be had, the second is laid out at get().
    std::string texts[2];
    for (std::size_t i = 0; i < FPieces.size(); i += 2) {
      std::future<std::string_view> second;
      if (i + 1 < FPieces.size())
        second = std::async(std::launch::async | std::launch::deferred,
                            [this, i, &texts] { return LayOutPiece(FPieces[i + 1], texts[1]); });
      Put(LayOutPiece(FPieces[i], texts[0]));
      if (second.valid()) Put(second.get());
    }
    FPieces.clear();
  }
  Spill(true);
  if (FOut) FOut->flush();
}

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows) {
  TRowWriter writer(Out, Format, Columns);
  for (const auto& row : Rows) writer.Add(row);
  writer.Finish();
}

}  // namespace kestrine::cli
