#pragma once
// Rows of results as a plain table, CSV or JSON.

#include <algorithm>
#include <future>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
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

// Writes rows as they come: JSON and CSV at once, a table once it has seen every row's widths, so
// a listing of millions of rows never holds them as JSON objects.
class TRowWriter {
 public:
  TRowWriter(std::ostream& Out, TOutputFormat Format, std::vector<TColumn> Columns);
  TRowWriter(const TRowWriter&) = delete;
  TRowWriter& operator=(const TRowWriter&) = delete;
  TRowWriter(TRowWriter&&) = default;

  void Add(const nlohmann::ordered_json& Row);
  // A row made by the caller, for listings too long to build JSON values for. For JSON: an object
  // as an element of the array writes it (members indented by four, the closing brace by two); for
  // a table or CSV: the cells in column order, not yet escaped.
  void AddJson(std::string_view Object);
  void AddCells(std::span<const std::string_view> Cells);
  void AddCells(std::initializer_list<std::string_view> Cells) { AddCells(std::span(Cells.begin(), Cells.size())); }
  // The same JSON row written by the caller straight into the text, after its separator; EndRow
  // follows it.
  std::string& BeginJsonRow();
  void EndRow() { Spill(false); }
  // A writer of the same format and columns whose rows wait in memory for Append, which writes them
  // after the rows so far: rows can be made on several threads and still come out in order.
  TRowWriter Part() const;
  void Append(TRowWriter&& Part);
  // Ends the listing; a table is written here.
  void Finish();
  TOutputFormat Format() const { return FFormat; }

 private:
  TRowWriter(TOutputFormat Format, const std::vector<TColumn>& Columns);
  void AppendTableLine(std::string& Out, std::span<const std::string_view> Line) const;
  // The lines of one piece of a table, written at the start of Text; safe on several threads at once.
  std::string_view LayOutPiece(const std::string& Piece, std::string& Text) const;
  void Spill(bool Always);
  void Put(std::string_view Text);
  std::string& RowText();

  std::ostream* FOut;  // nil for a part
  TOutputFormat FFormat;
  std::vector<TColumn> FColumns;
  std::size_t FRows = 0;
  std::string FBuffer;  // written out in large pieces: a listing is many short rows
  // The rows kept until the end: a part's text, or a table's cells, each kept as what it adds to
  // the cell above it (a string each would take three times the memory).
  std::vector<std::string> FPieces;
  std::vector<std::size_t> FWidths;
  std::vector<std::string> FAbove;  // a table's last row, each cell whole
  std::string FRow;                 // a table row as it is kept, put together
};

// Rows 0 to Count - 1, each written by Row(Writer, Index), made in blocks on two threads and written
// in order: on a large volume the rows cost as much as the scan. Each block runs a copy of Row, so
// what Row keeps is its own; Row must be safe to run on two threads at once.
template <class TRowMaker>
void AddRowsOnTwoThreads(TRowWriter& Writer, std::size_t Count, const TRowMaker& Row) {
  constexpr std::size_t kBlock = 8192;
  const auto block = [&](std::size_t Begin) {
    TRowWriter part = Writer.Part();
    TRowMaker row = Row;
    for (std::size_t i = Begin; i < std::min(Count, Begin + kBlock); ++i) row(part, i);
    return part;
  };
  for (std::size_t at = 0; at < Count; at += 2 * kBlock) {
    std::future<TRowWriter> next;
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
std::string EscapeControls(const std::string& Text);

}  // namespace kestrine::cli
