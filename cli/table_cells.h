#pragma once
// A table's cells, kept until every row is known, since every row's width sets its columns'.

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::cli {

// How a column is laid out: its width, and the side its cells keep to.
struct TColumnLayout {
  std::size_t Width;
  bool AlignRight;
};

// Each cell is kept as the count of leading bytes it shares with the cell above it, then the rest:
// neighbouring rows mostly share a folder and a day, and whole cells of a long listing would take
// several times the memory. Rows are kept in pieces; a piece starts with whole cells, and pieces are
// closed before they join another's, so a cell is only ever kept against the row above it.
class TTableCells {
 public:
  explicit TTableCells(std::size_t Columns) : FAbove(Columns) {}
  // Cells holds a cell for every column, Widths the width each shows at.
  void Add(std::span<const std::string_view> Cells, std::span<const std::size_t> Widths);
  // Other's rows after these.
  void Append(TTableCells&& Other);
  // Every row as a line of Columns, in order, handed to Put some lines at a time.
  void LayOut(std::span<const TColumnLayout> Columns, const std::function<void(std::string_view)>& Put) const;

 private:
  void Close();

  std::vector<std::string> FPieces;
  std::string FOpen;                 // the piece rows are added to
  std::vector<std::string> FAbove;  // the last row added, each cell whole
};

}  // namespace kestrine::cli
