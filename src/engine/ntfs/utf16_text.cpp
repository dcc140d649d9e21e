#include "engine/ntfs/utf16_text.h"

#include "engine/volume/utf8.h"

namespace kestrine {
namespace {

// Next code point of UTF-8 text; malformed bytes stand for themselves so that comparison never fails.
char32_t NextCodePoint(std::string_view S, std::size_t& I) {
  const auto b0 = static_cast<unsigned char>(S[I++]);
  const int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : 0;
  if (extra == 0 || I + extra > S.size()) return b0;
  char32_t c = b0 & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    const auto b = static_cast<unsigned char>(S[I + k]);
    if ((b & 0xC0) != 0x80) return b0;
    c = (c << 6) | (b & 0x3F);
  }
  I += extra;
  return c;
}

char32_t FoldCase(char32_t C) {
  if (C >= 'A' && C <= 'Z') return C + 0x20;
  if (C >= 0xC0 && C <= 0xDE && C != 0xD7) return C + 0x20;
  return C;
}

}  // namespace

std::string Utf16LeToUtf8(std::span<const std::uint8_t> Bytes, bool StopAtZero) {
  std::string out;
  out.reserve(Bytes.size() / 2);
  const std::size_t units = Bytes.size() / 2;
  auto unitAt = [&](std::size_t i) { return static_cast<char16_t>(Bytes[2 * i] | (Bytes[2 * i + 1] << 8)); };
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unitAt(i);
    if (u == 0 && StopAtZero) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : char32_t{u});
  }
  return out;
}

bool SameNameIgnoringCase(std::string_view A, std::string_view B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size())
    if (FoldCase(NextCodePoint(A, i)) != FoldCase(NextCodePoint(B, j))) return false;
  return i == A.size() && j == B.size();
}

}  // namespace kestrine
