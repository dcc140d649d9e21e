#include "cleanup/findfile/char_tables.h"

#include "support/ansi_chars.h"

namespace kestrine {
namespace {

template <typename TEntry, typename TRule>
std::array<TEntry, 256> MakeTable(TRule Rule) {
  std::array<TEntry, 256> table{};
  for (unsigned c = 0; c < 256; ++c) table[c] = static_cast<TEntry>(Rule(static_cast<std::uint8_t>(c)));
  return table;
}

}  // namespace

const TCaseTable IdentityCaseTable = MakeTable<std::uint8_t>([](std::uint8_t c) { return c; });
const TCaseTable LowerCaseTable = MakeTable<std::uint8_t>(AnsiLowerByte);
const std::array<bool, 256> WordDelimiters = MakeTable<bool>([](std::uint8_t c) { return !IsAnsiAlphaNumeric(c); });

}  // namespace kestrine
