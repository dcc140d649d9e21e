#include "settings/size_text.h"

#include <clocale>
#include <mutex>

namespace kestrine {

TNumberFormat UserNumberFormat() {
  static std::once_flag once;
  static TNumberFormat format;
  std::call_once(once, [] {
    // Read the environment's numeric convention without changing the process's own locale.
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
      const locale_t previous = uselocale(loc);
      if (const lconv* conv = localeconv(); conv && conv->thousands_sep) format.ThousandsSeparator = conv->thousands_sep;
      uselocale(previous);
      freelocale(loc);
    }
  });
  return format;
}

std::string FormatSizeText(std::int64_t Bytes, const TNumberFormat& Format) {
  std::int64_t v = Bytes / 1024 / 1024;
  const char* unit = "MB";
  if (v > 1024) {
    unit = "GB";
    v /= 1024;
  }
  if (v > 1024) {
    unit = "TB";
    v /= 1024;
  }
  const bool negative = v < 0;
  std::string digits = std::to_string(negative ? -v : v);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += Format.ThousandsSeparator;
    grouped += digits[i];
  }
  return (negative ? "-" : "") + grouped + " " + unit;
}

std::string FormatSizeText(std::int64_t Bytes) { return FormatSizeText(Bytes, UserNumberFormat()); }

}  // namespace kestrine
