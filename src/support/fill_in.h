#pragma once
// Facts put into a worded message.

#include <string>
#include <string_view>
#include <vector>

namespace kestrine {

// Template with %1..%9 replaced by Args in one pass, so a path holding "%1" stays as it is; a
// placeholder without an argument becomes empty.
std::string FillIn(std::string_view Template, const std::vector<std::string>& Args);

}  // namespace kestrine
