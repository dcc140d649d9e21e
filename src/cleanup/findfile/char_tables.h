#pragma once
// The byte tables of the file search and its reading of name characters, after the ANSI rules
// (ASCII plus the Latin-1 letters and digits).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrine {

using TCaseTable = std::array<std::uint8_t, 256>;

// Built once from the one fixed table of character rules, before any search can run, and never
// changed: search threads read them without locking.
extern const TCaseTable IdentityCaseTable;
extern const TCaseTable LowerCaseTable;
// Every byte that is neither a letter nor a digit (byte 0 among them).
extern const std::array<bool, 256> WordDelimiters;

// One character of a name: a UTF-8 sequence, or a lone byte taken as its Latin-1 character.
struct TNameChar {
  char32_t Code;
  std::size_t Length;
};

inline TNameChar DecodeNameChar(std::string_view Text, std::size_t At) {
  const auto b0 = static_cast<unsigned char>(Text[At]);
  if (b0 < 0x80) return {b0, 1};
  const std::size_t len = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (len == 0 || At + len > Text.size()) return {b0, 1};
  char32_t code = b0 & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(Text[At + i]);
    if ((b & 0xC0) != 0x80) return {b0, 1};
    code = (code << 6) | (b & 0x3F);
  }
  return {code, len};
}

// Case folding of one name character by the same rule as LowerCaseTable.
inline char32_t FoldNameChar(char32_t Code) { return Code < 256 ? LowerCaseTable[Code] : Code; }

}  // namespace kestrine
