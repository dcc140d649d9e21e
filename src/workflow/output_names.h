#pragma once
// Names of recovered files and folders: a name read from a volume becomes one safe path component
// below the destination, and a taken name gets " (2)", " (3)", ... before its extension.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrine {

// The longest name a folder entry can have here, in bytes.
inline constexpr std::size_t kMaxOutputNameBytes = 255;

// Name as one component: "/" and NUL become "_", an empty name "_", "." and ".." "_" and "__"; a name
// longer than the limit is cut (at a character boundary, its extension kept).
std::string SafeOutputName(std::string_view Name);

// Attempt 1 is SafeName itself; attempt n > 1 is the stem + " (n)" + the extension, cut to the limit.
std::string NumberedOutputName(std::string_view SafeName, int Attempt);

}  // namespace kestrine
