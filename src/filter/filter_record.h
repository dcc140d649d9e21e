#pragma once
// The result filter: which tests apply and what they compare with.

#include <cstdint>
#include <string>

#include "engine/volume/file_info.h"
#include "support/date_time.h"

namespace kestrine {

// Bits of TFilter::Flags.
inline constexpr std::int32_t qfName = 0x001;
inline constexpr std::int32_t qfDate = 0x002;
inline constexpr std::int32_t qfSize = 0x004;  // with one of the three comparison bits
inline constexpr std::int32_t qfAttributes = 0x008;
inline constexpr std::int32_t qfFolder = 0x020;
inline constexpr std::int32_t qfSizeEqual = 0x040;  // equal in whole kilobytes
inline constexpr std::int32_t qfSizeGreater = 0x080;
inline constexpr std::int32_t qfSizeSmaller = 0x100;

struct TFilter {
  std::string NameMask;         // patterns separated by ";"
  std::int64_t Size = 0;        // bytes
  TDateTime DateFrom = 0;       // local time
  TDateTime DateTo = 0;
  std::uint32_t Attributes = 0; // FileAttr bits an item must all have
  std::int32_t Flags = 0;
  PFileInfo Folder = nullptr;   // the folder whose direct contents pass; nil before one is chosen

  bool operator==(const TFilter&) const = default;
};

}  // namespace kestrine
