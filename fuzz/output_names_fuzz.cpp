// Names read from a volume made into output names: always one harmless component within the limit.

#include <cstdint>
#include <string>
#include <string_view>

#include "workflow/output_names.h"

namespace {

bool SafeComponent(const std::string& Name) {
  return !Name.empty() && Name != "." && Name != ".." && Name.size() <= kestrine::kMaxOutputNameBytes &&
         Name.find('/') == std::string::npos && Name.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view name(reinterpret_cast<const char*>(Data), Size);
  const std::string safe = kestrine::SafeOutputName(name);
  if (!SafeComponent(safe)) __builtin_trap();
  // A name that was safe and short enough stays as it is.
  if (SafeComponent(std::string(name)) && safe != name) __builtin_trap();
  for (const int attempt : {2, 10, 99999}) {
    const std::string numbered = kestrine::NumberedOutputName(safe, attempt);
    if (!SafeComponent(numbered) || numbered == safe) __builtin_trap();
  }
  return 0;
}
