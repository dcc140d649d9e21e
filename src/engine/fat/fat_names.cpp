#include "engine/fat/fat_names.h"

#include <array>

namespace kestrine {
namespace {

constexpr std::array<std::uint16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendCodePoint(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

bool IsHighSurrogate(std::uint16_t U) { return U >= 0xD800 && U < 0xDC00; }
bool IsLowSurrogate(std::uint16_t U) { return U >= 0xDC00 && U < 0xE000; }

char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

}  // namespace

void AppendCp437(std::string& Out, std::span<const std::uint8_t> Bytes) {
  for (std::uint8_t b : Bytes) AppendCodePoint(Out, b < 0x80 ? b : kCp437High[b - 0x80]);
}

void AppendUtf16(std::string& Out, std::span<const std::uint16_t> Units) {
  for (std::size_t i = 0; i < Units.size(); ++i) {
    const std::uint16_t u = Units[i];
    if (IsHighSurrogate(u) && i + 1 < Units.size() && IsLowSurrogate(Units[i + 1])) {
      AppendCodePoint(Out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (Units[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendCodePoint(Out, 0xFFFD);
    } else {
      AppendCodePoint(Out, u);
    }
  }
}

bool IsExcludedBakName(std::string_view Name) {
  if (Name.size() != 12 || (Name[0] != '_' && Name[0] != '$') || Name[1] != 'E') return false;
  static constexpr std::string_view kBak = ".bak";
  for (std::size_t i = 0; i < kBak.size(); ++i)
    if (AsciiLower(Name[8 + i]) != kBak[i]) return false;
  return true;
}

}  // namespace kestrine
