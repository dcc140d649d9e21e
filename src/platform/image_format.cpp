// What a file holds, from its first and last bytes, and how the pieces of a split image are named.

#include <algorithm>
#include <cctype>

#include "platform/image_reader.h"

namespace kestrine::platform {
namespace {

bool StartsWith(std::span<const std::uint8_t> Bytes, std::string_view Magic) {
  return Bytes.size() >= Magic.size() && std::equal(Magic.begin(), Magic.end(), Bytes.begin(),
                                                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

// "disk.001" with 7 pieces of three digits: "disk.007".
std::string PieceName(std::string_view Stem, std::size_t Width, std::size_t Number) {
  std::string digits = std::to_string(Number);
  if (digits.size() < Width) digits.insert(0, Width - digits.size(), '0');
  return std::string(Stem) + digits;
}

// Beyond this many pieces a name is no split image but a counter that never ends.
constexpr std::size_t kMaxPieces = 100000;

}  // namespace

TImageFormat DetectImageFormat(std::span<const std::uint8_t> Head, std::span<const std::uint8_t> Tail) {
  using namespace std::string_view_literals;
  if (StartsWith(Head, "EVF\x09\x0d\x0a\xff\x00"sv)) return TImageFormat::Ewf;
  if (StartsWith(Head, "EVF2\x0d\x0a\x81\x00"sv) || StartsWith(Head, "LEF2\x0d\x0a\x81\x00"sv))
    return TImageFormat::EwfVersion2;
  if (StartsWith(Head, "QFI\xfb"sv)) return TImageFormat::Qcow;
  if (StartsWith(Head, "vhdxfile"sv)) return TImageFormat::Vhdx;
  if (StartsWith(Head, "KDMV"sv) || StartsWith(Head, "COWD"sv) || StartsWith(Head, "# Disk DescriptorFile"sv))
    return TImageFormat::Vmdk;
  // A dynamic VHD has a copy of its footer first; a fixed one only the footer at the end.
  if (StartsWith(Head, "conectix"sv)) return TImageFormat::Vhd;
  if (Tail.size() == kVhdFooterSize && StartsWith(Tail, "conectix"sv)) {
    constexpr std::size_t kDiskType = 60;
    constexpr std::uint8_t kFixed = 2;
    const bool fixed = Tail[kDiskType] == 0 && Tail[kDiskType + 1] == 0 && Tail[kDiskType + 2] == 0 &&
                       Tail[kDiskType + 3] == kFixed;
    return fixed ? TImageFormat::VhdFixed : TImageFormat::Vhd;
  }
  return TImageFormat::Raw;
}

std::vector<std::string> SplitImagePieces(std::string_view Path, bool (*Exists)(const std::string&),
                                          std::string& Missing) {
  Missing.clear();
  const std::size_t dot = Path.rfind('.');
  if (dot == std::string_view::npos || Path.size() - dot < 3) return {};
  const std::string_view digits = Path.substr(dot + 1);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
      digits.find_first_not_of('0') != digits.size() - 1 || digits.back() != '1')
    return {};
  const std::string_view stem = Path.substr(0, dot + 1);
  std::vector<std::string> pieces{std::string(Path)};
  while (pieces.size() < kMaxPieces) {
    std::string next = PieceName(stem, digits.size(), pieces.size() + 1);
    if (!Exists(next)) {
      if (Exists(PieceName(stem, digits.size(), pieces.size() + 2))) Missing = std::move(next);
      break;
    }
    pieces.push_back(std::move(next));
  }
  return pieces;
}

}  // namespace kestrine::platform
