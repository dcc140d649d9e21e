#pragma once
// The digits of hexadecimal text: lower case as hashes and escapes are written, upper case as a
// dump shows bytes.

#include <cstdint>
#include <string>

namespace kestrine {

inline char HexDigit(unsigned Nibble, bool Upper = false) {
  return (Upper ? "0123456789ABCDEF" : "0123456789abcdef")[Nibble & 15];
}

// Byte as two digits.
inline void AppendHexByte(std::string& Out, std::uint8_t Byte, bool Upper = false) {
  Out += HexDigit(Byte >> 4, Upper);
  Out += HexDigit(Byte, Upper);
}

}  // namespace kestrine
