#pragma once
// A table's cells, kept until every row is known, since every row's width sets its columns'.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrine::cli {

// Each cell is kept as the count of leading bytes it shares with the cell above it, then the rest:
// neighbouring rows mostly share a folder and a day, and whole cells of a long listing would take
// several times the memory. Rows are kept in pieces; a piece starts with whole cells, and pieces are
// closed before they join another's, so a cell is only ever kept against the row above it.
class TTableCells {
 public:
  explicit TTableCells(std::size_t Columns) : FAbove(Columns) {}
  // Cells holds a cell for every column.
  void Add(std::span<const std::string_view> Cells);
  // Other's rows after these.
  void Append(TTableCells&& Other);
  // Line(Cells) for every row, in order.
  template <class TLine>
  void ForEachRow(TLine Line) const;

 private:
  void Close();
  static std::size_t ReadCount(const char*& At);

  std::vector<std::string> FPieces;
  std::string FOpen;                 // the piece rows are added to
  std::vector<std::string> FAbove;  // the last row added, each cell whole
};

template <class TLine>
void TTableCells::ForEachRow(TLine Line) const {
  std::vector<std::string> above(FAbove.size());
  std::vector<std::string_view> cells(FAbove.size());
  const auto layOut = [&](const std::string& Piece) {
    for (const char* at = Piece.data(); at < Piece.data() + Piece.size();) {
      for (std::size_t i = 0; i < above.size(); ++i) {
        const std::size_t shared = ReadCount(at), rest = ReadCount(at);
        above[i].resize(shared);
        above[i].append(at, rest);
        at += rest;
        cells[i] = above[i];
      }
      Line(std::span<const std::string_view>(cells));
    }
  };
  for (const std::string& piece : FPieces) layOut(piece);
  layOut(FOpen);
}

}  // namespace kestrine::cli
