#pragma once
// Rows of results as a plain table, CSV or JSON: one writer for each.

#include <algorithm>
#include <cstdint>
#include <future>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/table_cells.h"

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

// A row's cells in column order, not yet escaped: a missing cell is empty, one past the columns is
// left out.
using TCells = std::span<const std::string_view>;

// What every writer takes. A writer made with a stream writes there; one made by Part() keeps its
// rows until Append writes them after the rows so far, so rows can be made on several threads and
// still come out in order.
class TRowWriter {
 public:
  virtual ~TRowWriter() = default;
  // An object: written whole as JSON, its columns' members as the cells of a table or CSV.
  virtual void Add(const nlohmann::ordered_json& Row) = 0;
  // Ends the listing; a table is laid out here.
  virtual void Finish() = 0;
};

// Text written out in large pieces: a listing is many short rows. Without a stream it is kept.
class TTextOut {
 public:
  explicit TTextOut(std::ostream* Out) : FOut(Out) {}
  std::string& Text() { return FText; }
  // Writes the text once there is enough of it, or at once when Always.
  void Spill(bool Always = false);
  void Put(std::string_view Text);
  void Flush();

 private:
  std::ostream* FOut;
  std::string FText;
};

class TCsvWriter final : public TRowWriter {
 public:
  TCsvWriter(std::ostream& Out, std::vector<TColumn> Columns);
  void Add(const nlohmann::ordered_json& Row) override;
  void AddCells(TCells Cells);
  void AddCells(std::initializer_list<std::string_view> Cells) { AddCells(TCells(Cells.begin(), Cells.size())); }
  TCsvWriter Part() const { return TCsvWriter(FColumns); }
  void Append(TCsvWriter&& Part);
  void Finish() override;

 private:
  explicit TCsvWriter(std::vector<TColumn> Columns) : FColumns(std::move(Columns)), FOut(nullptr) {}
  std::vector<TColumn> FColumns;
  TTextOut FOut;
};

// A table waits for its last row, since every row's width sets its columns'.
class TTableWriter final : public TRowWriter {
 public:
  TTableWriter(std::ostream& Out, std::vector<TColumn> Columns);
  void Add(const nlohmann::ordered_json& Row) override;
  void AddCells(TCells Cells);
  void AddCells(std::initializer_list<std::string_view> Cells) { AddCells(TCells(Cells.begin(), Cells.size())); }
  TTableWriter Part() const { return TTableWriter(nullptr, FColumns); }
  void Append(TTableWriter&& Part);
  void Finish() override;

 private:
  TTableWriter(std::ostream* Out, std::vector<TColumn> Columns);
  void AppendLine(std::string& Out, TCells Line) const;

  std::ostream* FOut;
  std::vector<TColumn> FColumns;
  std::vector<std::size_t> FWidths;
  std::size_t FRows = 0;
  TTableCells FCells;
  std::vector<std::string> FEscaped;     // a row's cells that had control characters, escaped
  std::vector<std::string_view> FShown;  // a row's cells as shown
  std::vector<std::size_t> FShownWidths;  // and their widths
};

// A JSON array of objects, laid out as nlohmann's dump with an indent of 2 lays it out.
class TJsonWriter final : public TRowWriter {
 public:
  explicit TJsonWriter(std::ostream& Out);
  void Add(const nlohmann::ordered_json& Row) override;
  // An object written by the caller into the text returned, after its separator: members indented
  // by four, the closing brace by two. EndObject follows it.
  std::string& BeginObject();
  void EndObject() { FOut.Spill(); }
  TJsonWriter Part() const { return TJsonWriter(); }
  void Append(TJsonWriter&& Part);
  void Finish() override;

 private:
  TJsonWriter() : FOut(nullptr) {}
  TTextOut FOut;
  std::size_t FRows = 0;
};

std::unique_ptr<TRowWriter> MakeRowWriter(std::ostream& Out, TOutputFormat Format, std::vector<TColumn> Columns);

// Rows 0 to Count - 1, each written by Row(Part, Index) into a part of Writer, made in blocks on two
// threads and written in order: on a large volume the rows cost as much as the scan. Each block runs
// a copy of Row, so what Row keeps is its own; Row must be safe to run on two threads at once.
template <class TWriter, class TRowMaker>
void AddRowsOnTwoThreads(TWriter& Writer, std::size_t Count, const TRowMaker& Row) {
  // A part's text is one string that grows: small blocks keep what it copies as it grows small.
  constexpr std::size_t kBlock = 2048;
  const auto block = [&](std::size_t Begin) {
    TWriter part = Writer.Part();
    TRowMaker row = Row;
    for (std::size_t i = Begin; i < std::min(Count, Begin + kBlock); ++i) row(part, i);
    return part;
  };
  for (std::size_t at = 0; at < Count; at += 2 * kBlock) {
    std::future<TWriter> next;
    // Made here at next.get() when no thread can be had: slower, nothing lost.
    if (at + kBlock < Count) next = std::async(std::launch::async | std::launch::deferred, block, at + kBlock);
    Writer.Append(block(at));
    if (next.valid()) Writer.Append(next.get());
  }
}

void WriteRows(std::ostream& Out, TOutputFormat Format, const std::vector<TColumn>& Columns,
               const nlohmann::ordered_json& Rows);

// Why a request's path or "#ID" named nothing: "no WHAT of that path was found", and the like.
std::string NothingNamed(const std::string& Request, const std::string& What);

// Appends Text as a quoted JSON string, escaped as nlohmann's dump escapes it; bytes that are not
// UTF-8 become U+FFFD, so the document stays valid whatever a volume holds.
void AppendJsonString(std::string& Out, std::string_view Text);

// A CSV field, quoted when it needs to be.
std::string CsvField(const std::string& Value);

// Text with its control characters (C0, DEL and C1) written as \xHH or \u00HH, so a name from a
// volume cannot move the cursor, ring the bell or rewrite the user's terminal.
std::string EscapeControls(std::string_view Text);

}  // namespace kestrine::cli
