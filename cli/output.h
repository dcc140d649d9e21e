#pragma once
// Rows of results as a plain table, CSV or JSON.

#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrine::cli {

enum class TOutputFormat { Table, Csv, Json };

// Names accepted by --format, for CLI11's check.
inline const std::vector<std::string> kFormatNames = {"table", "csv", "json"};
TOutputFormat ParseOutputFormat(const std::string& Name);

// One result set: JSON objects, and the columns a table or CSV shows (key and heading).
struct TColumn {
  std::string Key;
  std::string Heading;
  bool AlignRight = false;
};

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows);

// A CSV field, quoted when it needs to be.
std::string CsvField(const std::string& Value);

}  // namespace kestrine::cli
