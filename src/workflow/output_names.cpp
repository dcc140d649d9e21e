#include "workflow/output_names.h"

#include <algorithm>

namespace kestrine {
namespace {

// The largest length up to Max that does not split a UTF-8 sequence of Text. A sequence has at most
// three continuation bytes; bytes that are no UTF-8 are cut where the limit falls.
std::size_t CharBoundary(std::string_view Text, std::size_t Max) {
  const std::size_t cut = std::min(Max, Text.size());
  if (cut == Text.size()) return cut;
  for (std::size_t back = 0; back <= 3 && back <= cut; ++back)
    if ((static_cast<unsigned char>(Text[cut - back]) & 0xC0) != 0x80) return cut - back;
  return cut;
}

// Where the extension starts: the last "." with something other than dots before it; the end when
// there is none or when the "extension" is too long to be one.
std::size_t ExtensionStart(std::string_view Name) {
  const std::size_t dot = Name.rfind('.');
  if (dot == std::string_view::npos || Name.size() - dot > 32) return Name.size();
  if (Name.substr(0, dot).find_first_not_of('.') == std::string_view::npos) return Name.size();
  return dot;
}

// Stem + Suffix + extension, the stem cut so that the whole fits.
std::string Compose(std::string_view Name, std::string_view Suffix) {
  const std::size_t extAt = ExtensionStart(Name);
  const std::string_view stem = Name.substr(0, extAt);
  const std::string_view ext = Name.substr(extAt);
  const std::size_t room = kMaxOutputNameBytes - Suffix.size() - ext.size();
  std::string out(stem.substr(0, CharBoundary(stem, room)));
  out += Suffix;
  out += ext;
  return out;
}

}  // namespace

std::string SafeOutputName(std::string_view Name) {
  std::string safe(Name);
  std::replace(safe.begin(), safe.end(), '/', '_');
  std::replace(safe.begin(), safe.end(), '\0', '_');
  if (safe.empty() || safe == ".") return "_";
  if (safe == "..") return "__";
  return safe.size() > kMaxOutputNameBytes ? Compose(safe, "") : safe;
}

std::string NumberedOutputName(std::string_view SafeName, int Attempt) {
  if (Attempt <= 1) return std::string(SafeName);
  return Compose(SafeName, " (" + std::to_string(Attempt) + ")");
}

}  // namespace kestrine
