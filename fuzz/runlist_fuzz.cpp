// Mapping pairs: decoding stays inside the bytes and yields runs a volume can hold, in VCN order.

#include <cstdint>
#include <span>

#include "engine/ntfs/run_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kestrine;
  if (Size < 1) return 0;
  const std::int64_t startVcn = Data[0] * 1000;
  TRunList runs;
  DecodeMappingPairs(std::span(Data + 1, Size - 1), startVcn, runs);
  std::int64_t vcn = startVcn;
  for (const TRunItem& run : runs) {
    if (run.Vcn != vcn || run.Length > kMaxRunClusters || run.Lcn < -1 ||
        run.Lcn >= static_cast<std::int64_t>(kMaxRunClusters))
      __builtin_trap();
    vcn += static_cast<std::int64_t>(run.Length);
  }
  // Every run takes at least two bytes of the input.
  if (runs.size() > Size / 2) __builtin_trap();
  return 0;
}
