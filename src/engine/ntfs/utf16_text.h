#pragma once
// NTFS names are UTF-16LE on disk; the program's text is UTF-8.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrine {

// Converts UTF-16LE bytes (an odd last byte is ignored). Paired surrogates become one code point;
// an unpaired surrogate, which UTF-8 cannot carry, becomes U+FFFD. With StopAtZero the text ends at
// the first zero unit.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> Bytes, bool StopAtZero = false);

// Case-insensitive equality of UTF-8 names under the fixed ASCII + Latin-1 case table.
bool SameNameIgnoringCase(std::string_view A, std::string_view B);

}  // namespace kestrine
