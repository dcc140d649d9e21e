// RIFF (WAV, AVI, WebP), ISO base media (MP4, MOV, HEIC, M4A, 3GP) and MP3 behind its ID3 tag.

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "engine/deep/format_walks.h"

namespace kestrine {
namespace {

struct TBrand {
  std::string_view Prefix;
  std::string_view Type;
  std::string_view Ext;
};
constexpr std::array<TBrand, 16> kBrands{{{"qt  ", "MOV", "mov"},
                                          {"heic", "HEIC", "heic"},
                                          {"heix", "HEIC", "heic"},
                                          {"mif1", "HEIC", "heic"},
                                          {"msf1", "HEIC", "heic"},
                                          {"hevc", "HEIC", "heic"},
                                          {"avif", "AVIF", "avif"},
                                          {"M4A ", "M4A", "m4a"},
                                          {"M4B ", "M4A", "m4b"},
                                          {"M4V ", "MP4", "m4v"},
                                          {"3gp", "3GP", "3gp"},
                                          {"3g2", "3GP", "3g2"},
                                          {"crx ", "CR3", "cr3"},
                                          {"isom", "MP4", "mp4"},
                                          {"mp4", "MP4", "mp4"},
                                          {"avc1", "MP4", "mp4"}}};

// Boxes a file may hold at its top level.
constexpr std::array<std::string_view, 20> kTopBoxes{"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid",
                                                     "meta", "pdin", "moof", "mfra", "styp", "sidx", "ssix",
                                                     "prft", "emsg", "pnot", "junk", "PICT", "idat"};

bool IsTopBox(const std::uint8_t* Type) {
  const std::string_view t(reinterpret_cast<const char*>(Type), 4);
  return std::find(kTopBoxes.begin(), kTopBoxes.end(), t) != kTopBoxes.end();
}

// MPEG audio frame length from its 4-byte header; 0 when it is none.
std::uint32_t MpegFrameLength(const std::uint8_t* H) {
  if (H[0] != 0xFF || (H[1] & 0xE0) != 0xE0) return 0;
  const int version = (H[1] >> 3) & 3, layer = (H[1] >> 1) & 3;
  const int bitrateIndex = H[2] >> 4, rateIndex = (H[2] >> 2) & 3, padding = (H[2] >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  static constexpr int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  static constexpr int kBitrates[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                               {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                               {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                              {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                               {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                               {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const bool mpeg1 = version == 3;
  const int layerIndex = 3 - layer;  // 0: layer I
  const int bitrate = kBitrates[mpeg1 ? 0 : 1][layerIndex][bitrateIndex] * 1000;
  const int rate = kRates[version][rateIndex];
  if (layerIndex == 0) return static_cast<std::uint32_t>((12 * bitrate / rate + padding) * 4);
  const int factor = layerIndex == 2 && !mpeg1 ? 72 : 144;
  return static_cast<std::uint32_t>(factor * bitrate / rate + padding);
}

}  // namespace

std::optional<TFoundFile> WalkRiff(TWalkReader& Reader) {
  std::uint8_t form[4];
  if (!Reader.Read(8, form, 4)) return std::nullopt;
  const std::string_view kind(reinterpret_cast<const char*>(form), 4);
  TFoundFile found;
  if (kind == "WAVE")
    found = {0, "WAV", "wav"};
  else if (kind == "AVI ")
    found = {0, "AVI", "avi"};
  else if (kind == "WEBP")
    found = {0, "WebP", "webp"};
  else
    return std::nullopt;
  // An AVI past 1 GiB goes on in "RIFF....AVIX" pieces.
  std::int64_t at = 0;
  for (int piece = 0; piece < 4096; ++piece) {
    const auto size = Reader.Le32(at + 4);
    if (!size || *size < 4) break;
    at += 8 + std::int64_t{*size} + (*size & 1);
    std::uint8_t next[12];
    if (!Reader.Read(at, next, sizeof next) || std::memcmp(next, "RIFF", 4) != 0 ||
        std::memcmp(next + 8, "AVIX", 4) != 0)
      break;
  }
  if (at == 0 || at > Reader.Size()) return std::nullopt;
  found.Length = at;
  return found;
}

std::optional<TFoundFile> WalkIsoMedia(TWalkReader& Reader) {
  std::uint8_t brand[4];
  if (!Reader.Read(8, brand, 4)) return std::nullopt;
  const std::string_view b(reinterpret_cast<const char*>(brand), 4);
  const auto known =
      std::find_if(kBrands.begin(), kBrands.end(), [&](const TBrand& k) { return b.starts_with(k.Prefix); });
  TFoundFile found{0, "MP4", "mp4"};
  if (known != kBrands.end()) found = {0, known->Type, known->Ext};
  std::int64_t at = 0;
  // A movie needs its media data and the index that finds it; a cut file lacks one of them.
  bool data = false, index = false;
  for (int box = 0; box < 1 << 16; ++box) {
    std::uint8_t head[8];
    if (!Reader.Read(at, head, sizeof head) || !IsTopBox(head + 4)) break;
    std::uint64_t size = (std::uint64_t{head[0]} << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
    if (size == 1) {
      const auto large = Reader.Be64(at + 8);
      if (!large) break;
      size = *large;
    }
    if (size < 8 || size > static_cast<std::uint64_t>(Reader.Size() - at)) break;  // size 0 runs to an unknown end
    const std::string_view type(reinterpret_cast<const char*>(head + 4), 4);
    data = data || type == "mdat";
    index = index || type == "moov" || type == "meta" || type == "moof";
    at += static_cast<std::int64_t>(size);
  }
  if (!data || !index) return std::nullopt;
  found.Length = at;
  return found;
}

std::optional<TFoundFile> WalkMp3(TWalkReader& Reader) {
  std::uint8_t tag[10];
  if (!Reader.Read(0, tag, sizeof tag) || tag[3] == 0xFF || tag[4] == 0xFF) return std::nullopt;
  std::int64_t at = 10 + (tag[5] & 0x10 ? 10 : 0);
  for (int i = 6; i < 10; ++i) {
    if (tag[i] & 0x80) return std::nullopt;
    at += std::int64_t{tag[i]} << (7 * (9 - i));
  }
  // Some writers pad the tag past its declared size with zeros.
  for (int zeros = 0; zeros < 1 << 16; ++zeros) {
    const auto b = Reader.U8(at);
    if (!b || *b != 0) break;
    ++at;
  }
  std::int64_t frames = 0;
  for (; frames < std::int64_t{1} << 24; ++frames) {
    std::uint8_t head[4];
    if (!Reader.Read(at, head, sizeof head)) break;
    const std::uint32_t length = MpegFrameLength(head);
    if (length < 4 || at + length > Reader.Size()) break;
    at += length;
  }
  if (frames < 3) return std::nullopt;
  std::uint8_t trailer[3];
  if (Reader.Read(at, trailer, 3) && std::memcmp(trailer, "TAG", 3) == 0 && at + 128 <= Reader.Size()) at += 128;
  return TFoundFile{at, "MP3", "mp3"};
}

}  // namespace kestrine
