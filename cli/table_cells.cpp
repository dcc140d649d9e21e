#include "cli/table_cells.h"

#include <algorithm>
#include <cstring>
#include <future>

namespace kestrine::cli {
namespace {

// Rows are kept in pieces of about this size: one growing text would be copied each time it grows,
// and pieces are laid out apart.
constexpr std::size_t kPiece = 1u << 18;

// Room for a count: ten groups of seven bits hold any size.
constexpr std::size_t kLongestCount = 10;

// Value at At in seven-bit groups, the low group first; a group's top bit says another follows.
// Returns the end.
char* PutCount(char* At, std::size_t Value) {
  for (; Value >= 0x80; Value >>= 7) *At++ = static_cast<char>((Value & 0x7F) | 0x80);
  *At++ = static_cast<char>(Value);
  return At;
}

std::size_t ReadCount(const char*& At) {
  std::size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*At++);
    value |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

// A cell as kept: how many bytes it shares with the cell above, the rest, and its width.
struct TKeptCell {
  std::size_t Shared;
  std::string_view Rest;
  std::size_t Width;
};

// The cell at At; At moves past it. The count of its continuation bytes, which take no column,
// follows the rest's length only when the length's low bit says there are any.
TKeptCell ReadCell(const char*& At) {
  const std::size_t shared = ReadCount(At);
  const std::size_t length = ReadCount(At);
  const std::size_t continuations = length & 1 ? ReadCount(At) : 0;
  const std::string_view rest(At, length / 2);
  At += rest.size();
  return {shared, rest, shared + rest.size() - continuations};
}

// Piece's rows as lines, written into Text, which keeps its memory from piece to piece: fresh
// memory costs more to touch than the lines cost to write. Returns the lines.
std::string_view LayOutPiece(std::string_view Piece, std::span<const TColumnLayout> Columns, std::string& Text) {
  // A line takes every column's width and separator, plus its cells' continuation bytes.
  std::size_t widest = 1;
  for (const TColumnLayout& c : Columns) widest += c.Width + 2;
  std::vector<TKeptCell> cells(Columns.size());
  // Where each cell of the line above starts in Text: a cell's shared bytes are copied from there.
  std::vector<std::size_t> above(Columns.size(), 0);
  std::size_t used = 0;
  for (const char* at = Piece.data(); at < Piece.data() + Piece.size();) {
    std::size_t bytes = 0;
    for (TKeptCell& cell : cells) {
      cell = ReadCell(at);
      bytes += cell.Shared + cell.Rest.size();
    }
    if (const std::size_t need = used + widest + bytes; Text.size() < need) Text.resize(2 * need);
    char* const base = Text.data();
    // The line starts as spaces, so pads and separators are only stepped over.
    std::memset(base + used, ' ', widest + bytes);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const TKeptCell& cell = cells[i];
      const std::size_t pad = Columns[i].Width - cell.Width;
      used += (i ? 2 : 0) + (Columns[i].AlignRight ? pad : 0);
      // The line above ends before this one starts.
      std::memcpy(base + used, base + above[i], cell.Shared);
      std::memcpy(base + used + cell.Shared, cell.Rest.data(), cell.Rest.size());
      above[i] = used;
      used += cell.Shared + cell.Rest.size();
      if (!Columns[i].AlignRight && i + 1 < cells.size()) used += pad;
    }
    base[used++] = '\n';
  }
  return std::string_view(Text).substr(0, used);
}

}  // namespace

void TTableCells::Add(std::span<const std::string_view> Cells, std::span<const std::size_t> Widths) {
  // A piece holds whole rows and never grows: growing would copy it, and leave it half empty.
  std::size_t most = 0;
  for (std::size_t i = 0; i < FAbove.size(); ++i) most += Cells[i].size() + 3 * kLongestCount;
  if (FOpen.size() + most > kPiece) Close();
  if (FOpen.empty()) FOpen.reserve(std::max(kPiece, most));
  for (std::size_t i = 0; i < FAbove.size(); ++i) {
    const std::string_view cell = Cells[i];
    std::string& above = FAbove[i];
    const std::size_t shared =
        static_cast<std::size_t>(std::mismatch(cell.begin(), cell.end(), above.begin(), above.end()).first - cell.begin());
    const std::size_t rest = cell.size() - shared, continuations = cell.size() - Widths[i];
    char counts[3 * kLongestCount];
    char* end = PutCount(PutCount(counts, shared), 2 * rest + (continuations ? 1 : 0));
    if (continuations) end = PutCount(end, continuations);
    FOpen.append(counts, static_cast<std::size_t>(end - counts));
    FOpen.append(cell.substr(shared));
    above.resize(shared);
    above.append(cell.substr(shared));
  }
}

void TTableCells::Close() {
  if (FOpen.empty()) return;
  FPieces.push_back(std::move(FOpen));
  FOpen.clear();
  for (std::string& above : FAbove) above.clear();
}

void TTableCells::Append(TTableCells&& Other) {
  Close();
  Other.Close();
  FPieces.insert(FPieces.end(), std::make_move_iterator(Other.FPieces.begin()),
                 std::make_move_iterator(Other.FPieces.end()));
}

void TTableCells::LayOut(std::span<const TColumnLayout> Columns, const std::function<void(std::string_view)>& Put) const {
  std::vector<std::string_view> pieces(FPieces.begin(), FPieces.end());
  pieces.push_back(FOpen);
  // Two pieces at once: on a large volume this is what the command waits for at its end. Without a
  // thread to be had, the second is laid out at get().
  std::string texts[2];
  for (std::size_t i = 0; i < pieces.size(); i += 2) {
    std::future<std::string_view> second;
    if (i + 1 < pieces.size())
      second = std::async(std::launch::async | std::launch::deferred,
                          [&, i] { return LayOutPiece(pieces[i + 1], Columns, texts[1]); });
    Put(LayOutPiece(pieces[i], Columns, texts[0]));
    if (second.valid()) Put(second.get());
  }
}

}  // namespace kestrine::cli
