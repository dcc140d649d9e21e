#include "cli/output.h"

#include <sstream>
#include <type_traits>

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

// Each format's writer, as the template argument of a test.
template <class TWriter>
TWriter MakeWriter(std::ostream& Out, const std::vector<TColumn>& Columns = kColumns) {
  if constexpr (std::is_same_v<TWriter, TJsonWriter>)
    return TJsonWriter(Out);
  else
    return TWriter(Out, Columns);
}

template <class TWriter>
std::string InPartsOnTwoThreads(const json& Rows) {
  std::ostringstream out;
  TWriter writer = MakeWriter<TWriter>(out);
  writer.Add(Rows[0]);
  writer.Append(writer.Part());  // a part without rows changes nothing
  AddRowsOnTwoThreads(writer, Rows.size() - 1, [&](TWriter& Part, std::size_t I) { Part.Add(Rows[I + 1]); });
  writer.Finish();
  return out.str();
}

TEST(RowWriter, RowsMadeInPartsOnTwoThreadsComeOutAsIfWrittenInOrder) {
  // Enough rows for several blocks, with widths that only a late row sets.
  json rows = json::array();
  for (int i = 0; i < 40000; ++i)
    rows.push_back({{"path", "folder " + std::to_string(i % 97) + "/file " + std::to_string(i) + std::string(i % 300, 'x')},
                    {"size", i == 39999 ? 123456789012 : i}});
  EXPECT_EQ(InPartsOnTwoThreads<TJsonWriter>(rows), Written(TOutputFormat::Json, rows));
  EXPECT_EQ(InPartsOnTwoThreads<TCsvWriter>(rows), Written(TOutputFormat::Csv, rows));
  EXPECT_EQ(InPartsOnTwoThreads<TTableWriter>(rows), Written(TOutputFormat::Table, rows));
  // The table of every row, as plainly laid out.
  std::size_t pathWidth = 4, sizeWidth = 4;
  for (const auto& row : rows) {
    pathWidth = std::max(pathWidth, row["path"].get<std::string>().size());
    sizeWidth = std::max(sizeWidth, row["size"].dump().size());
  }
  const auto line = [&](const std::string& Path, const std::string& Size) {
    return Path + std::string(pathWidth - Path.size() + 2 + sizeWidth - Size.size(), ' ') + Size + "\n";
  };
  std::string table = line("Path", "Size");
  for (const auto& row : rows) table += line(row["path"].get<std::string>(), row["size"].dump());
  EXPECT_EQ(Written(TOutputFormat::Table, rows), table);

  // Parts alone, the first holding every row: the array still opens once.
  std::ostringstream out;
  TJsonWriter writer(out);
  AddRowsOnTwoThreads(writer, 3, [&](TJsonWriter& Part, std::size_t I) { Part.Add(rows[I]); });
  writer.Finish();
  EXPECT_EQ(json::parse(out.str()), json(json::array({rows[0], rows[1], rows[2]})));
}

TEST(RowWriter, TableRowsKeepTheirCellsApartWhateverTheyHold) {
  const std::vector<TColumn> columns = {{"a", "A"}, {"b", "B", true}, {"c", "C"}};
  std::ostringstream out;
  TTableWriter writer(out, columns);
  writer.AddCells({"", "", ""});
  writer.AddCells({std::string("n\0l", 3), "\xC3\xA9t\xC3\xA9"});  // the missing last cell is empty
  writer.AddCells({"x", "1", "last", "beyond the columns"});
  writer.Finish();
  EXPECT_EQ(out.str(), "A" + std::string(9, ' ') + "B  C\n" + std::string(13, ' ') + "\n" +
                           "n\\x00l  \xC3\xA9t\xC3\xA9  \n" + "x" + std::string(9, ' ') + "1  last\n");

  // Columns are as wide as their widest cell in characters, not bytes, also past eight bytes.
  std::ostringstream wide;
  TTableWriter names(wide, {{"n", "Name"}, {"s", "Size", true}});
  names.AddCells({"\xC3\xA4\xC3\xB6\xC3\xBC\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x93\x81 caf\xC3\xA9", "1"});  // 12 characters
  names.AddCells({"plain", "22"});
  names.Finish();
  EXPECT_EQ(wide.str(), "Name          Size\n"
                        "\xC3\xA4\xC3\xB6\xC3\xBC\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x93\x81 caf\xC3\xA9     1\n"
                        "plain           22\n");

  // A cell that shares its multibyte start with the cell above is as wide as its characters.
  std::ostringstream shared;
  TTableWriter below(shared, {{"n", "Name"}, {"s", "Size", true}});
  below.AddCells({"\xC3\xA9t\xC3\xA9/a", "1"});
  below.AddCells({"\xC3\xA9t\xC3\xA9/bb", "22"});
  below.Finish();
  EXPECT_EQ(shared.str(), "Name    Size\n\xC3\xA9t\xC3\xA9/a      1\n\xC3\xA9t\xC3\xA9/bb    22\n");

  // Long cells stay whole.
  for (std::size_t length : {254u, 255u, 300u, 20000u, 300000u}) {  // the last longer than a piece
    std::ostringstream longer;
    TTableWriter rows(longer, {{"n", "N"}, {"s", "S", true}});
    const std::string name(length, 'a'), multibyte = std::string(length, 'b') + "\xC3\xA9";
    rows.AddCells({name, "1"});
    rows.AddCells({multibyte, "22"});
    rows.Finish();
    EXPECT_EQ(longer.str(), "N" + std::string(length, ' ') + "   S\n" + name + "    1\n" + multibyte + "  22\n")
        << length;
  }

  // Without columns every row is still a line.
  std::ostringstream bare;
  TTableWriter none(bare, {});
  none.AddCells({"gone"});
  none.AddCells({});
  none.Finish();
  EXPECT_EQ(bare.str(), "\n\n\n");
}

TEST(RowWriter, CsvQuotesEveryFieldThatNeedsIt) {
  EXPECT_EQ(CsvField("plain name.txt"), "plain name.txt");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("cr\rhere"), "\"cr\rhere\"");
  EXPECT_EQ(CsvField("lf\n"), "\"lf\n\"");
  EXPECT_EQ(CsvField("semi;tab\t"), "semi;tab\t");
}

TEST(RowWriter, ControlCharactersAreEscapedInTablesAndCsvButLeftToJson) {
  EXPECT_EQ(EscapeControls("plain \xC3\xA9 name"), "plain \xC3\xA9 name");
  EXPECT_EQ(EscapeControls("\x1B]0;owned\x07x\r\n\t\x7F"), "\\x1b]0;owned\\x07x\\x0d\\x0a\\x09\\x7f");
  // U+009B (CSI) is a control character too; U+00A0 is not.
  EXPECT_EQ(EscapeControls("a\xC2\x9B" "2Jb\xC2\xA0"), "a\\u009b2Jb\xC2\xA0");
  EXPECT_EQ(EscapeControls(std::string("nul\0end", 7)), "nul\\x00end");

  json rows = json::array();
  rows.push_back({{"path", "evil\x1B[2J\rname\n.txt"}, {"size", 3}});
  EXPECT_EQ(Written(TOutputFormat::Csv, rows), "path,size\nevil\\x1b[2J\\x0dname\\x0a.txt,3\n");
  EXPECT_EQ(Written(TOutputFormat::Table, rows),
            "Path" + std::string(25, ' ') + "Size\n"
            "evil\\x1b[2J\\x0dname\\x0a.txt     3\n");
  EXPECT_EQ(json::parse(Written(TOutputFormat::Json, rows)), rows);
}

TEST(RowWriter, EveryByteIsJudgedWhereverItStandsInACell) {
  // Cells are read a word at a time: each byte, at each place of a cell longer than two words.
  for (int byte = 0; byte < 256; ++byte) {
    for (std::size_t at = 0; at < 20; ++at) {
      std::string cell(20, 'a');
      cell[at] = static_cast<char>(byte);
      const std::string escaped = EscapeControls(cell);
      std::string expected = escaped;
      if (escaped.find_first_of(",\"") != std::string::npos) {
        expected = "\"";
        for (char c : escaped) expected += c == '"' ? std::string("\"\"") : std::string(1, c);
        expected += '"';
      }
      std::ostringstream out;
      TCsvWriter writer(out, {{"p", "P"}});
      writer.AddCells({cell});
      writer.Finish();
      ASSERT_EQ(out.str(), "p\n" + expected + "\n") << byte << " at " << at;
    }
  }

  // Rows that share every length of prefix with their neighbours come out whole, also those laid
  // out after the lines before them were written out.
  std::vector<std::string> cells;
  for (std::size_t shared = 0; shared <= 20; ++shared)
    cells.push_back(std::string(shared, 'p') + std::string(20 - shared + shared % 3, static_cast<char>('A' + shared)));
  cells.push_back("");
  cells.push_back(cells[12]);
  std::ostringstream out;
  TTableWriter writer(out, {{"c", "C"}, {"n", "N", true}});
  std::string expected = "C" + std::string(23, ' ') + "N\n";
  for (int round = 0; round < 5000; ++round) {
    for (const std::string& cell : cells) {
      writer.AddCells({cell, "1"});
      expected += cell + std::string(22 - cell.size() + 2, ' ') + "1\n";
    }
  }
  writer.Finish();
  EXPECT_EQ(out.str(), expected);
}

TEST(RowWriter, StringsWrittenDirectlyAreWhatNlohmannWritesAndAlwaysValid) {
  for (const std::string& text : {std::string("plain"), std::string("quote \" back \\ slash"),
                                 std::string("\b\f\n\r\t\x01\x1f\x7f", 8), std::string("nul\0end", 7),
                                 std::string("R\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\x9B")}) {
    std::string out;
    AppendJsonString(out, text);
    EXPECT_EQ(out, json(text).dump()) << text;
  }
  // Bytes that are not UTF-8 (a lone continuation, a cut sequence, an overlong form, a surrogate).
  std::string out;
  AppendJsonString(out, "a\x80" "b\xE2\x82" "c\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80");
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(json::parse(out).get<std::string>(), "a" + r + "b" + r + r + "c" + r + r + r + r + r + r + r + r + r);

  // Rows made by the caller come out as those given as JSON values.
  std::ostringstream direct;
  TCsvWriter writer(direct, kColumns);
  writer.AddCells({"a,\"b\"\x1b", "7"});
  writer.Finish();
  EXPECT_EQ(direct.str(), Written(TOutputFormat::Csv, json::array({{{"path", "a,\"b\"\x1b"}, {"size", 7}}})));
}

}  // namespace
}  // namespace kestrine::cli

namespace kestrine::cli {
namespace {

template <class TWriter>
std::string AppendedBetweenRows(const json& Rows) {
  std::ostringstream out;
  TWriter writer = MakeWriter<TWriter>(out);
  writer.Add(Rows[0]);
  TWriter part = writer.Part();
  part.Add(Rows[1]);
  writer.Append(std::move(part));
  writer.Add(Rows[2]);
  writer.Finish();
  return out.str();
}

TEST(RowWriter, RowsAddedAfterAnAppendedPartKeepTheirOwnCells) {
  const json rows = json::array({{{"path", "main/first-row-aaa"}, {"size", 1}},
                                 {{"path", "zzzz/other-row"}, {"size", 22}},
                                 {{"path", "main/second-row-bbb"}, {"size", 333}}});
  EXPECT_EQ(AppendedBetweenRows<TTableWriter>(rows), Written(TOutputFormat::Table, rows));
  EXPECT_EQ(AppendedBetweenRows<TCsvWriter>(rows), Written(TOutputFormat::Csv, rows));
  EXPECT_EQ(AppendedBetweenRows<TJsonWriter>(rows), Written(TOutputFormat::Json, rows));
  EXPECT_NE(Written(TOutputFormat::Table, rows).find("main/second-row-bbb"), std::string::npos);
}

TEST(RowWriter, JsonValuesWithAnyBytesAreWrittenAsValidJson) {
  // Nested values as nlohmann lays them out; a name that is not UTF-8 has U+FFFD for its bad byte.
  json rows = json::array();
  rows.push_back({{"name", "bad\xff.tmp"}, {"size", 3}, {"none", nullptr}, {"yes", true}, {"list", json::array({1, "x"})},
                  {"empty", json::object()}, {"nested", {{"inner", json::array()}}}});
  const std::string text = Written(TOutputFormat::Json, rows);
  const json read = json::parse(text);
  EXPECT_EQ(read[0]["name"], "bad\xEF\xBF\xBD.tmp");
  rows[0]["name"] = "bad\xEF\xBF\xBD.tmp";
  EXPECT_EQ(text, rows.dump(2) + "\n");
  // Tables and CSV keep the bytes as they are.
  EXPECT_EQ(Written(TOutputFormat::Csv, json::array({{{"path", "bad\xff.tmp"}, {"size", 3}}})), "path,size\nbad\xff.tmp,3\n");
}

}  // namespace
}  // namespace kestrine::cli
