#pragma once
// The single-byte character rules of the search: ASCII plus the Latin-1 letters and digits.
// Built at compile time, so search threads read them without any set-up or locking.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrine {

using TCaseTable = std::array<std::uint8_t, 256>;

namespace char_rules {

constexpr bool IsLatin1Letter(unsigned c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == 0xAA || c == 0xB5 || c == 0xBA ||
         (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c <= 0xFF);
}

constexpr unsigned Latin1Lower(unsigned c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  return c;
}

constexpr TCaseTable MakeIdentityTable() {
  TCaseTable t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  return t;
}

constexpr TCaseTable MakeLowerTable() {
  TCaseTable t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(Latin1Lower(c));
  return t;
}

constexpr std::array<bool, 256> MakeDelimiters() {
  std::array<bool, 256> t{};
  for (unsigned c = 0; c < 256; ++c) t[c] = !(IsLatin1Letter(c) || (c >= '0' && c <= '9'));
  return t;
}

}  // namespace char_rules

inline constexpr TCaseTable IdentityCaseTable = char_rules::MakeIdentityTable();
inline constexpr TCaseTable LowerCaseTable = char_rules::MakeLowerTable();
// Every byte that is neither a letter nor a digit (byte 0 among them).
inline constexpr std::array<bool, 256> WordDelimiters = char_rules::MakeDelimiters();

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
constexpr char32_t FoldNameChar(char32_t Code) { return Code < 256 ? LowerCaseTable[Code] : Code; }

}  // namespace kestrine
