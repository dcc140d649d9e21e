#include "cli/output.h"

#include <array>
#include <ostream>
#include <tuple>
#include <utility>

#include "support/hex_digits.h"

namespace kestrine::cli {
namespace {

std::string CellText(const nlohmann::ordered_json& Value) {
  if (Value.is_null()) return {};
  if (Value.is_string()) return Value.get<std::string>();
  if (Value.is_boolean()) return Value.get<bool>() ? "yes" : "no";
  return Value.dump();
}

// The cells of Row's members named by Columns, in their order.
template <class TAdd>
void AddColumnCells(const nlohmann::ordered_json& Row, const std::vector<TColumn>& Columns, TAdd Add) {
  std::vector<std::string> texts;
  for (const auto& c : Columns) texts.push_back(Row.contains(c.Key) ? CellText(Row[c.Key]) : std::string());
  const std::vector<std::string_view> cells(texts.begin(), texts.end());
  Add(TCells(cells));
}

bool IsPlainJsonByte(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// What a cell's bytes say: its display width, one column per code point (each byte but a
// continuation byte); whether it holds what a terminal must not be sent (C0 controls, DEL, the lead
// byte of the C1 controls); whether CSV must quote it. One look at every byte, without an early
// end, gives them all.
struct TCellFacts {
  std::size_t Width;
  bool Controls;
  bool Quoted;
};

// Each byte's part in TCellFacts, as bits: one look-up a byte costs less than a test for each fact.
enum : unsigned char { kContinuation = 1, kControl = 2, kQuoted = 4 };
constexpr std::array<unsigned char, 256> kByteFacts = [] {
  std::array<unsigned char, 256> facts{};
  for (unsigned b = 0; b < facts.size(); ++b)
    facts[b] = ((b & 0xC0) == 0x80 ? kContinuation : 0) | (b < 0x20 || b == 0x7F || b == 0xC2 ? kControl : 0) |
               (b == ',' || b == '"' || b == '\r' || b == '\n' ? kQuoted : 0);
  return facts;
}();

TCellFacts FactsOf(std::string_view Text) {
  std::size_t continuations = 0;
  unsigned seen = 0;
  for (const char c : Text) {
    const unsigned facts = kByteFacts[static_cast<unsigned char>(c)];
    continuations += facts & kContinuation;
    seen |= facts;
  }
  return {Text.size() - continuations, (seen & kControl) != 0, (seen & kQuoted) != 0};
}

std::size_t Width(std::string_view Text) { return FactsOf(Text).Width; }

void AppendCsvField(std::string& Out, std::string_view Value, const TCellFacts& Facts) {
  if (!Facts.Quoted) {
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

// The cell of column I, with its control characters escaped into Escaped where it has any, and
// what its bytes say.
std::pair<std::string_view, TCellFacts> ShownCell(TCells Cells, std::size_t I, std::string& Escaped) {
  const std::string_view cell = I < Cells.size() ? Cells[I] : std::string_view();
  const TCellFacts facts = FactsOf(cell);
  if (!facts.Controls) return {cell, facts};
  Escaped = EscapeControls(cell);
  return {Escaped, FactsOf(Escaped)};
}

// Value as nlohmann's dump with an indent of 2 writes it at Depth, with strings as AppendJsonString
// writes them.
void AppendJsonValue(std::string& Out, const nlohmann::ordered_json& Value, int Depth) {
  if (Value.is_string()) return AppendJsonString(Out, Value.get_ref<const std::string&>());
  if (!Value.is_structured()) {
    Out += Value.dump();
    return;
  }
  const bool object = Value.is_object();
  if (Value.empty()) {
    Out += object ? "{}" : "[]";
    return;
  }
  Out += object ? "{\n" : "[\n";
  bool first = true;
  for (auto item = Value.begin(); item != Value.end(); ++item, first = false) {
    if (!first) Out += ",\n";
    Out.append(2 * (Depth + 1), ' ');
    if (object) {
      AppendJsonString(Out, item.key());
      Out += ": ";
    }
    AppendJsonValue(Out, *item, Depth + 1);
  }
  Out += '\n';
  Out.append(2 * Depth, ' ');
  Out += object ? '}' : ']';
}

}  // namespace

std::string EscapeControls(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<unsigned char>(Text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      AppendHexByte(out, c);
    } else if (c == 0xC2 && i + 1 < Text.size() && static_cast<unsigned char>(Text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(Text[i + 1]) <= 0x9F) {
      // U+0080..U+009F: some terminals take U+009B as the start of an escape sequence.
      out += "\\u00";
      AppendHexByte(out, static_cast<unsigned char>(Text[++i]));
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
        default: Out += "\\u00", AppendHexByte(Out, c);
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
  AppendCsvField(field, Value, FactsOf(Value));
  return field;
}

void TTextOut::Spill(bool Always) {
  if (!FOut || (!Always && FText.size() < (1u << 16))) return;
  FOut->write(FText.data(), static_cast<std::streamsize>(FText.size()));
  FText.clear();
}

void TTextOut::Put(std::string_view Text) {
  // A long text goes out as it is, not copied first.
  if (FOut && Text.size() >= (1u << 16)) {
    Spill(true);
    FOut->write(Text.data(), static_cast<std::streamsize>(Text.size()));
    return;
  }
  FText += Text;
  Spill();
}

void TTextOut::Flush() {
  Spill(true);
  if (FOut) FOut->flush();
}

TCsvWriter::TCsvWriter(std::ostream& Out, std::vector<TColumn> Columns) : FColumns(std::move(Columns)), FOut(&Out) {
  std::string& text = FOut.Text();
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (i) text += ',';
    AppendCsvField(text, FColumns[i].Key, FactsOf(FColumns[i].Key));
  }
  text += '\n';
}

void TCsvWriter::Add(const nlohmann::ordered_json& Row) {
  AddColumnCells(Row, FColumns, [this](TCells Cells) { AddCells(Cells); });
}

void TCsvWriter::AddCells(TCells Cells) {
  std::string& text = FOut.Text();
  std::string escaped;
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    if (i) text += ',';
    const auto [cell, facts] = ShownCell(Cells, i, escaped);
    AppendCsvField(text, cell, facts);
  }
  text += '\n';
  FOut.Spill();
}

void TCsvWriter::Append(TCsvWriter&& Part) { FOut.Put(Part.FOut.Text()); }

void TCsvWriter::Finish() { FOut.Flush(); }

TTableWriter::TTableWriter(std::ostream& Out, std::vector<TColumn> Columns) : TTableWriter(&Out, std::move(Columns)) {}

TTableWriter::TTableWriter(std::ostream* Out, std::vector<TColumn> Columns)
    : FOut(Out), FColumns(std::move(Columns)), FCells(FColumns.size()), FEscaped(FColumns.size()), FShown(FColumns.size()),
      FShownWidths(FColumns.size()) {
  for (const auto& c : FColumns) FWidths.push_back(Width(c.Heading));
}

void TTableWriter::Add(const nlohmann::ordered_json& Row) {
  AddColumnCells(Row, FColumns, [this](TCells Cells) { AddCells(Cells); });
}

void TTableWriter::AddCells(TCells Cells) {
  ++FRows;
  for (std::size_t i = 0; i < FColumns.size(); ++i) {
    TCellFacts facts;
    std::tie(FShown[i], facts) = ShownCell(Cells, i, FEscaped[i]);
    FShownWidths[i] = facts.Width;
    FWidths[i] = std::max(FWidths[i], facts.Width);
  }
  FCells.Add(FShown, FShownWidths);
}

void TTableWriter::Append(TTableWriter&& Part) {
  FRows += Part.FRows;
  FCells.Append(std::move(Part.FCells));
  for (std::size_t i = 0; i < FWidths.size(); ++i) FWidths[i] = std::max(FWidths[i], Part.FWidths[i]);
}

void TTableWriter::AppendLine(std::string& Out, TCells Line) const {
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const std::size_t pad = FWidths[i] - Width(Line[i]);
    if (i) Out += "  ";
    if (FColumns[i].AlignRight) Out.append(pad, ' ');
    Out += Line[i];
    if (!FColumns[i].AlignRight && i + 1 < Line.size()) Out.append(pad, ' ');
  }
  Out += '\n';
}

void TTableWriter::Finish() {
  TTextOut out(FOut);
  std::vector<std::string_view> line;
  for (const auto& c : FColumns) line.push_back(c.Heading);
  AppendLine(out.Text(), line);
  if (FColumns.empty()) out.Text().append(FRows, '\n');
  std::vector<TColumnLayout> layout;
  for (std::size_t i = 0; i < FColumns.size(); ++i) layout.push_back({FWidths[i], FColumns[i].AlignRight});
  FCells.LayOut(layout, [&out](std::string_view Lines) { out.Put(Lines); });
  out.Flush();
}

TJsonWriter::TJsonWriter(std::ostream& Out) : FOut(&Out) { FOut.Text() += '['; }

void TJsonWriter::Add(const nlohmann::ordered_json& Row) {
  AppendJsonValue(BeginObject(), Row, 1);
  EndObject();
}

std::string& TJsonWriter::BeginObject() {
  std::string& text = FOut.Text();
  text += FRows++ ? ",\n  " : "\n  ";
  return text;
}

void TJsonWriter::Append(TJsonWriter&& Part) {
  if (Part.FRows == 0) return;
  // The part's first object comes without the comma that parts it from the rows before.
  if (FRows) FOut.Put(",");
  FOut.Put(Part.FOut.Text());
  FRows += Part.FRows;
}

void TJsonWriter::Finish() {
  FOut.Text() += FRows ? "\n]\n" : "]\n";
  FOut.Flush();
}

std::unique_ptr<TRowWriter> MakeRowWriter(std::ostream& Out, TOutputFormat Format, std::vector<TColumn> Columns) {
  switch (Format) {
    case TOutputFormat::Csv: return std::make_unique<TCsvWriter>(Out, std::move(Columns));
    case TOutputFormat::Json: return std::make_unique<TJsonWriter>(Out);
    case TOutputFormat::Table: break;
  }
  return std::make_unique<TTableWriter>(Out, std::move(Columns));
}

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows) {
  const std::unique_ptr<TRowWriter> writer = MakeRowWriter(Out, Format, Columns);
  for (const auto& row : Rows) writer->Add(row);
  writer->Finish();
}

}  // namespace kestrine::cli
