#include "cli/table_cells.h"

#include <algorithm>

namespace kestrine::cli {
namespace {

// Rows are kept in pieces of about this size: one growing text would be copied each time it grows.
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

}  // namespace

std::size_t TTableCells::ReadCount(const char*& At) {
  std::size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*At++);
    value |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

void TTableCells::Add(std::span<const std::string_view> Cells) {
  if (FOpen.empty()) FOpen.reserve(kPiece);
  for (std::size_t i = 0; i < FAbove.size(); ++i) {
    const std::string_view cell = Cells[i];
    std::string& above = FAbove[i];
    const std::size_t shared =
        static_cast<std::size_t>(std::mismatch(cell.begin(), cell.end(), above.begin(), above.end()).first - cell.begin());
    char counts[2 * kLongestCount];
    const char* const end = PutCount(PutCount(counts, shared), cell.size() - shared);
    FOpen.append(counts, static_cast<std::size_t>(end - counts));
    FOpen.append(cell.substr(shared));
    above.assign(cell);
  }
  if (FOpen.size() >= kPiece) Close();
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

}  // namespace kestrine::cli
