#include <algorithm>
#include <array>
#include <cstring>

#include "engine/deep/format_walks.h"

namespace kestrine {
namespace {

using namespace std::string_view_literals;
constexpr std::int64_t kMiB = 1 << 20;

// Caps are the largest files of each kind a camera, phone or office program makes, with room to spare.
constexpr std::array<TSignature, 17> kSignatures{{
    {"\xFF\xD8\xFF"sv, 0, WalkJpeg, 256 * kMiB},
    {"\x89PNG\r\n\x1A\n"sv, 0, WalkPng, 1024 * kMiB},
    {"GIF87a"sv, 0, WalkGif, 256 * kMiB},
    {"GIF89a"sv, 0, WalkGif, 256 * kMiB},
    {"BM"sv, 0, WalkBmp, 1024 * kMiB},
    {"II*\0"sv, 0, WalkTiff, 1024 * kMiB},
    {"MM\0*"sv, 0, WalkTiff, 1024 * kMiB},
    {"RIFF"sv, 0, WalkRiff, 64 * 1024 * kMiB},
    {"ftyp"sv, 4, WalkIsoMedia, 64 * 1024 * kMiB},
    {"ID3"sv, 0, WalkMp3, 1024 * kMiB},
    {"PK\x03\x04"sv, 0, WalkZip, 4096 * kMiB},
    {"7z\xBC\xAF\x27\x1C"sv, 0, WalkSevenZip, 64 * 1024 * kMiB},
    {"Rar!\x1A\x07"sv, 0, WalkRar, 64 * 1024 * kMiB},
    {"\x1F\x8B\x08"sv, 0, WalkGzip, 4096 * kMiB},
    {"%PDF-"sv, 0, WalkPdf, 1024 * kMiB, true},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, 0, WalkOle2, 1024 * kMiB},
    {"SQLite format 3\0"sv, 0, WalkSqlite, 64 * 1024 * kMiB},
}};

}  // namespace

std::span<const TSignature> Signatures() { return kSignatures; }

const TSignature* MatchSignature(std::span<const std::uint8_t> Head) {
  for (const TSignature& s : Signatures()) {
    if (Head.size() < s.MagicOffset + s.Magic.size()) continue;
    if (std::memcmp(Head.data() + s.MagicOffset, s.Magic.data(), s.Magic.size()) == 0) return &s;
  }
  return nullptr;
}

}  // namespace kestrine
