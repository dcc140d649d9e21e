#include "cli/output.h"

#include <sstream>

#include <gtest/gtest.h>

namespace kestrine::cli {
namespace {

using json = nlohmann::ordered_json;

const std::vector<TColumn> kColumns = {{"path", "Path"}, {"size", "Size", true}};

std::string Written(TOutputFormat Format, const json& Rows) {
  std::ostringstream out;
  WriteRows(out, Format, kColumns, Rows);
  return out.str();
}

TEST(RowWriter, StreamedJsonIsTheArrayDumpedWithIndentTwo) {
  const json none = json::array();
  EXPECT_EQ(Written(TOutputFormat::Json, none), none.dump(2) + "\n");
  json rows = json::array();
  rows.push_back({{"path", "a/b.txt"}, {"size", 5}, {"streams", json::array({{{"name", "x"}, {"size", 1}}})}});
  rows.push_back({{"path", "line\nbreak"}, {"size", 0}, {"streams", json::array()}});
  const std::string text = Written(TOutputFormat::Json, rows);
  EXPECT_EQ(text, rows.dump(2) + "\n");
  EXPECT_EQ(json::parse(text), rows);
}

TEST(RowWriter, CsvQuotesAndTableAlignsOverEveryRow) {
  json rows = json::array();
  rows.push_back({{"path", "a,\"b\""}, {"size", 7}});
  rows.push_back({{"path", "longer name"}, {"size", 12345}});
  EXPECT_EQ(Written(TOutputFormat::Csv, rows), "path,size\n\"a,\"\"b\"\"\",7\nlonger name,12345\n");
  // The widths come from the widest cell of any row, also one after the first.
  EXPECT_EQ(Written(TOutputFormat::Table, rows),
            "Path          Size\n"
            "a,\"b\"            7\n"
            "longer name  12345\n");
}

}  // namespace
}  // namespace kestrine::cli
