#include "support/ansi_chars.h"

namespace kestrine {
namespace {

// Latin-1 capitals 0xC0..0xDE and small letters 0xE0..0xFE pair up 0x20 apart; the
// multiplication and division signs sit where a letter would.
constexpr bool IsLatin1Capital(std::uint8_t b) { return b >= 0xC0 && b <= 0xDE && b != 0xD7; }
constexpr bool IsLatin1Small(std::uint8_t b) { return b >= 0xE0 && b <= 0xFE && b != 0xF7; }

}  // namespace

bool IsAnsiAlphaNumeric(std::uint8_t b) {
  if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) return true;
  // Feminine and masculine ordinals and the micro sign are letters too; so is 0xFF (y diaeresis).
  return b == 0xAA || b == 0xB5 || b == 0xBA || b == 0xDF || b == 0xFF || IsLatin1Capital(b) || IsLatin1Small(b);
}

std::uint8_t AnsiLowerByte(std::uint8_t b) {
  if ((b >= 'A' && b <= 'Z') || IsLatin1Capital(b)) return static_cast<std::uint8_t>(b + 0x20);
  return b;
}

std::uint8_t AnsiUpperByte(std::uint8_t b) {
  if ((b >= 'a' && b <= 'z') || IsLatin1Small(b)) return static_cast<std::uint8_t>(b - 0x20);
  return b;
}

std::string AnsiUpperText(std::string_view Utf8) {
  std::string out(Utf8);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(out[i]);
    if (b < 0x80) {
      out[i] = static_cast<char>(AnsiUpperByte(b));
    } else if (b == 0xC3 && i + 1 < out.size()) {
      // U+00E0..U+00FE are 0xC3 0xA0..0xBE; their capitals are 0xC3 0x80..0x9E.
      const auto next = static_cast<std::uint8_t>(out[i + 1]);
      if (next >= 0xA0 && next <= 0xBE && next != 0xB7) {
        out[i + 1] = static_cast<char>(next - 0x20);
        ++i;
      }
    }
  }
  return out;
}

std::string_view TrimControls(std::string_view S) {
  auto isControl = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!S.empty() && isControl(S.front())) S.remove_prefix(1);
  while (!S.empty() && isControl(S.back())) S.remove_suffix(1);
  return S;
}

}  // namespace kestrine
