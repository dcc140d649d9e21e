#pragma once
// Walks over the structure of known file formats: from a candidate's first byte to the file's end.
// Each is pure over its reader and reads only what it needs.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/deep/walk_reader.h"

namespace kestrine {

// A file a walk recognised: its length and what it is.
struct TFoundFile {
  std::int64_t Length = 0;
  std::string_view Type;  // the folder it is listed in: "JPEG", "DOCX"
  std::string_view Ext;   // without the dot
  std::string_view Note = {};
};

using TFormatWalk = std::optional<TFoundFile> (*)(TWalkReader& Reader);

// Images.
std::optional<TFoundFile> WalkJpeg(TWalkReader& Reader);
std::optional<TFoundFile> WalkPng(TWalkReader& Reader);
std::optional<TFoundFile> WalkGif(TWalkReader& Reader);
std::optional<TFoundFile> WalkBmp(TWalkReader& Reader);
std::optional<TFoundFile> WalkTiff(TWalkReader& Reader);
// Sound and video.
std::optional<TFoundFile> WalkRiff(TWalkReader& Reader);
std::optional<TFoundFile> WalkIsoMedia(TWalkReader& Reader);
std::optional<TFoundFile> WalkMp3(TWalkReader& Reader);
// Archives.
std::optional<TFoundFile> WalkZip(TWalkReader& Reader);
std::optional<TFoundFile> WalkSevenZip(TWalkReader& Reader);
std::optional<TFoundFile> WalkRar(TWalkReader& Reader);
std::optional<TFoundFile> WalkGzip(TWalkReader& Reader);
// Documents and databases. A PDF has no end of its own: its reader stops at the next file found.
std::optional<TFoundFile> WalkPdf(TWalkReader& Reader);
std::optional<TFoundFile> WalkOle2(TWalkReader& Reader);
std::optional<TFoundFile> WalkSqlite(TWalkReader& Reader);

struct TSignature {
  std::string_view Magic;
  std::uint32_t MagicOffset = 0;
  TFormatWalk Walk = nullptr;
  std::int64_t Cap = 0;          // the most bytes a file of the format is taken to hold
  bool UntilNextHeader = false;  // ends at the next file found: its reader stops there
};

// Every signature; a block start is tested against them in order.
std::span<const TSignature> Signatures();
// The signature whose magic Head starts with; nil for none.
const TSignature* MatchSignature(std::span<const std::uint8_t> Head);
// Bytes of a block start that MatchSignature needs.
inline constexpr std::size_t kSignatureHead = 16;

}  // namespace kestrine
