#include "cli/output.h"

#include <algorithm>
#include <ostream>

namespace kestrine::cli {
namespace {

std::string CellText(const nlohmann::ordered_json& Value) {
  if (Value.is_null()) return {};
  if (Value.is_string()) return Value.get<std::string>();
  if (Value.is_boolean()) return Value.get<bool>() ? "yes" : "no";
  return Value.dump();
}

// Display width of UTF-8 text: one column per code point.
std::size_t Width(const std::string& s) {
  return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
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

std::string NothingNamed(const std::string& Request, const std::string& What) {
  if (!Request.starts_with('#')) return "no " + What + " of that path was found";
  if (Request.size() < 2 || Request.find_first_not_of("0123456789", 1) != std::string::npos)
    return "not an item id: an id is # and the number scan shows (a path starting with # is written /#...)";
  return "no " + What + " of that id was found";
}

std::string CsvField(const std::string& Value) {
  if (Value.find_first_of(",\"\r\n") == std::string::npos) return Value;
  std::string quoted = "\"";
  for (char c : Value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

TRowWriter::TRowWriter(std::ostream& Out, TOutputFormat Format, std::vector<TColumn> Columns)
    : FOut(Out), FFormat(Format), FColumns(std::move(Columns)) {
  for (const auto& c : FColumns) FWidths.push_back(Width(c.Heading));
  if (FFormat != TOutputFormat::Csv) return;
  for (std::size_t i = 0; i < FColumns.size(); ++i) FOut << (i ? "," : "") << CsvField(FColumns[i].Key);
  FOut << "\n";
}

void TRowWriter::Add(const nlohmann::ordered_json& Row) {
  if (FFormat == TOutputFormat::Json) {
    // The same text as the whole array dumped with an indent of 2.
    FOut << (FRows++ ? ",\n  " : "[\n  ");
    std::string text = Row.dump(2);
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3))
      text.insert(at + 1, "  ");
    FOut << text;
    return;
  }
  std::vector<std::string> line;
  // JSON escapes on its own; a table or CSV read on a terminal must not carry control characters.
  for (const auto& c : FColumns)
    line.push_back(Row.contains(c.Key) ? EscapeControls(CellText(Row[c.Key])) : std::string());
  ++FRows;
  if (FFormat == TOutputFormat::Csv) {
    for (std::size_t i = 0; i < line.size(); ++i) FOut << (i ? "," : "") << CsvField(line[i]);
    FOut << "\n";
    return;
  }
  for (std::size_t i = 0; i < line.size(); ++i) FWidths[i] = std::max(FWidths[i], Width(line[i]));
  FCells.push_back(std::move(line));
}

void TRowWriter::EmitTableLine(const std::vector<std::string>& Line) {
  std::string text;
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const std::string pad(FWidths[i] - Width(Line[i]), ' ');
    if (i) text += "  ";
    text += FColumns[i].AlignRight ? pad + Line[i] : Line[i] + (i + 1 < Line.size() ? pad : "");
  }
  FOut << text << "\n";
}

void TRowWriter::Finish() {
  if (FFormat == TOutputFormat::Json) {
    FOut << (FRows ? "\n]\n" : "[]\n");
  } else if (FFormat == TOutputFormat::Table) {
    std::vector<std::string> headings;
    for (const auto& c : FColumns) headings.push_back(c.Heading);
    EmitTableLine(headings);
    for (const auto& line : FCells) EmitTableLine(line);
    FCells.clear();
  }
  FOut.flush();
}

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows) {
  TRowWriter writer(Out, Format, Columns);
  for (const auto& row : Rows) writer.Add(row);
  writer.Finish();
}

}  // namespace kestrine::cli
