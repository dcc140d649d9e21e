#pragma once
// A byte count as whole megabytes, gigabytes or terabytes, for the drive lists.

#include <cstdint>
#include <string>

namespace kestrine {

struct TNumberFormat {
  std::string ThousandsSeparator;  // empty: no grouping
};
// The user's locale's separator (LC_NUMERIC); none in the C locale.
TNumberFormat UserNumberFormat();

std::string FormatSizeText(std::int64_t Bytes, const TNumberFormat& Format);
std::string FormatSizeText(std::int64_t Bytes);

}  // namespace kestrine
