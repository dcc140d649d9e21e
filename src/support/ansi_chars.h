#pragma once
// The one fixed table of "ANSI" character rules: ASCII plus the Latin-1 letters and digits.
// The pattern language applies it to single bytes; shown texts apply it to UTF-8 characters.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrine {

bool IsAnsiAlphaNumeric(std::uint8_t Byte);
std::uint8_t AnsiLowerByte(std::uint8_t Byte);
std::uint8_t AnsiUpperByte(std::uint8_t Byte);

// UTF-8 text upper-cased by the same table, applied to its characters (so "é" becomes "É"
// and bytes of other characters stay as they are).
std::string AnsiUpperText(std::string_view Utf8);

// S without the blanks and control characters (bytes up to 32) at both ends.
std::string_view TrimControls(std::string_view S);

}  // namespace kestrine
