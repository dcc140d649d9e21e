#include "support/fill_in.h"

namespace kestrine {

std::string FillIn(std::string_view Template, const std::vector<std::string>& Args) {
  std::string text;
  for (std::size_t i = 0; i < Template.size(); ++i) {
    const char c = Template[i];
    if (c == '%' && i + 1 < Template.size() && Template[i + 1] >= '1' && Template[i + 1] <= '9') {
      const auto arg = static_cast<std::size_t>(Template[++i] - '1');
      if (arg < Args.size()) text += Args[arg];
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace kestrine
