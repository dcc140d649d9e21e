// Rows of any bytes, any count, with parts appended anywhere, through each output format's writer:
// the text is what a plain layout of the same rows in the same order gives.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/output.h"

namespace {

using namespace kestrine::cli;
using json = nlohmann::ordered_json;
using TRow = std::vector<std::string>;

// A writer of each format, all given the same rows.
struct TWriters {
  TTableWriter Table;
  TCsvWriter Csv;
  TJsonWriter Json;
};

struct TParts {
  TTableWriter Table;
  TCsvWriter Csv;
  TJsonWriter Json;
  std::vector<TRow> Rows;
};

std::size_t Width(const std::string& Text) {
  std::size_t width = 0;
  for (const char c : Text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return width;
}

std::string PlainTable(const std::vector<TColumn>& Columns, const std::vector<TRow>& Rows) {
  std::vector<std::vector<std::string>> lines(1);
  for (const TColumn& c : Columns) lines[0].push_back(c.Heading);
  for (const TRow& row : Rows) {
    lines.emplace_back();
    for (const std::string& cell : row) lines.back().push_back(EscapeControls(cell));
  }
  std::vector<std::size_t> widths(Columns.size(), 0);
  for (const auto& line : lines)
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], Width(line[i]));
  std::string text;
  for (const auto& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string pad(widths[i] - Width(line[i]), ' ');
      if (i) text += "  ";
      text += Columns[i].AlignRight ? pad + line[i] : line[i];
      if (!Columns[i].AlignRight && i + 1 < line.size()) text += pad;
    }
    text += '\n';
  }
  return text;
}

std::string PlainCsv(const std::vector<TColumn>& Columns, const std::vector<TRow>& Rows) {
  const auto field = [](const std::string& Text) {
    if (Text.find_first_of(",\"\r\n") == std::string::npos) return Text;
    std::string quoted = "\"";
    for (const char c : Text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
  };
  std::string text;
  for (std::size_t i = 0; i < Columns.size(); ++i) text += (i ? "," : "") + field(Columns[i].Key);
  text += '\n';
  for (const TRow& row : Rows) {
    for (std::size_t i = 0; i < row.size(); ++i) text += (i ? "," : "") + field(EscapeControls(row[i]));
    text += '\n';
  }
  return text;
}

json Object(const std::vector<TColumn>& Columns, const TRow& Row) {
  json object = json::object();
  for (std::size_t i = 0; i < Columns.size(); ++i) object[Columns[i].Key] = Row[i];
  return object;
}

// The JSON is always a valid array of the rows; where every byte is UTF-8 it is nlohmann's text.
void CheckJson(const std::string& Text, const std::vector<TColumn>& Columns, const std::vector<TRow>& Rows) {
  json expected = json::array();
  for (const TRow& row : Rows) expected.push_back(Object(Columns, row));
  const json read = json::parse(Text);  // throws, and so fails, on anything not JSON
  if (read.size() != Rows.size()) __builtin_trap();
  try {
    if (Text != expected.dump(2) + "\n") __builtin_trap();
  } catch (const json::type_error&) {
    // Bytes that are not UTF-8: nlohmann has no text to compare with.
  }
}

template <class TAll>
void AddRow(TAll& To, const std::vector<TColumn>& Columns, const TRow& Row) {
  const std::vector<std::string_view> cells(Row.begin(), Row.end());
  To.Table.AddCells(cells);
  To.Csv.AddCells(cells);
  To.Json.Add(Object(Columns, Row));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzedDataProvider input(Data, Size);
  std::vector<TColumn> columns(input.ConsumeIntegralInRange<std::size_t>(0, 4));
  for (std::size_t i = 0; i < columns.size(); ++i)
    columns[i] = {"k" + std::to_string(i), input.ConsumeRandomLengthString(12), input.ConsumeBool()};
  std::ostringstream table, csv, jsonText;
  TWriters writers{TTableWriter(table, columns), TCsvWriter(csv, columns), TJsonWriter(jsonText)};
  std::vector<TRow> rows;
  std::vector<TParts> parts;
  const auto makeRow = [&] {
    TRow row;
    for (std::size_t i = 0; i < columns.size(); ++i) row.push_back(input.ConsumeRandomLengthString(40));
    return row;
  };
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        rows.push_back(makeRow());
        AddRow(writers, columns, rows.back());
        break;
      case 1:
        parts.push_back({writers.Table.Part(), writers.Csv.Part(), writers.Json.Part(), {}});
        break;
      case 2:
        if (!parts.empty()) {
          TParts& part = parts[input.ConsumeIntegralInRange<std::size_t>(0, parts.size() - 1)];
          part.Rows.push_back(makeRow());
          AddRow(part, columns, part.Rows.back());
        }
        break;
      default:
        if (!parts.empty()) {
          const std::size_t at = input.ConsumeIntegralInRange<std::size_t>(0, parts.size() - 1);
          TParts& part = parts[at];
          rows.insert(rows.end(), part.Rows.begin(), part.Rows.end());
          writers.Table.Append(std::move(part.Table));
          writers.Csv.Append(std::move(part.Csv));
          writers.Json.Append(std::move(part.Json));
          parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
  }
  writers.Table.Finish();
  writers.Csv.Finish();
  writers.Json.Finish();
  if (table.str() != PlainTable(columns, rows)) __builtin_trap();
  if (csv.str() != PlainCsv(columns, rows)) __builtin_trap();
  CheckJson(jsonText.str(), columns, rows);
  return 0;
}
