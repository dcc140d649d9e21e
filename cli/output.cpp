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

TOutputFormat ParseOutputFormat(const std::string& Name) {
  if (Name == "csv") return TOutputFormat::Csv;
  if (Name == "json") return TOutputFormat::Json;
  return TOutputFormat::Table;
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

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows) {
  if (Format == TOutputFormat::Json) {
    Out << Rows.dump(2) << "\n";
    return;
  }
  std::vector<std::vector<std::string>> cells;
  for (const auto& row : Rows) {
    std::vector<std::string> line;
    for (const auto& c : Columns) line.push_back(row.contains(c.Key) ? CellText(row[c.Key]) : std::string());
    cells.push_back(std::move(line));
  }
  if (Format == TOutputFormat::Csv) {
    for (std::size_t i = 0; i < Columns.size(); ++i) Out << (i ? "," : "") << CsvField(Columns[i].Key);
    Out << "\n";
    for (const auto& line : cells) {
      for (std::size_t i = 0; i < line.size(); ++i) Out << (i ? "," : "") << CsvField(line[i]);
      Out << "\n";
    }
    return;
  }
  std::vector<std::size_t> widths;
  for (const auto& c : Columns) widths.push_back(Width(c.Heading));
  for (const auto& line : cells)
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], Width(line[i]));
  auto emit = [&](const std::vector<std::string>& line) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string pad(widths[i] - Width(line[i]), ' ');
      if (i) text += "  ";
      text += Columns[i].AlignRight ? pad + line[i] : line[i] + (i + 1 < line.size() ? pad : "");
    }
    Out << text << "\n";
  };
  std::vector<std::string> headings;
  for (const auto& c : Columns) headings.push_back(c.Heading);
  emit(headings);
  for (const auto& line : cells) emit(line);
}

}  // namespace kestrine::cli
