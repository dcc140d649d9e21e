#include "engine/ntfs/run_list.h"

namespace kestrine {
namespace {
std::uint64_t ReadUnsigned(std::span<const std::uint8_t> Field) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < Field.size(); ++i) v |= std::uint64_t{Field[i]} << (8 * i);
  return v;
}

std::int64_t ReadSigned(std::span<const std::uint8_t> Field) {
  std::uint64_t v = ReadUnsigned(Field);
  if (!Field.empty() && (Field.back() & 0x80) && Field.size() < 8) v |= ~std::uint64_t{0} << (8 * Field.size());
  return static_cast<std::int64_t>(v);
}
}  // namespace

void DecodeMappingPairs(std::span<const std::uint8_t> Pairs, std::int64_t StartVcn, TRunList& Runs) {
  if (StartVcn < 0 || static_cast<std::uint64_t>(StartVcn) > kMaxRunClusters) return;
  std::int64_t vcn = StartVcn;
  std::int64_t lcn = 0;
  bool first = true;
  std::size_t p = 0;
  while (p < Pairs.size() && Pairs[p] != 0) {
    const std::size_t lengthSize = Pairs[p] & 0x0F;
    const std::size_t offsetSize = Pairs[p] >> 4;
    ++p;
    if (lengthSize == 0 || lengthSize > 8 || offsetSize > 8 || Pairs.size() - p < lengthSize + offsetSize) return;
    const std::uint64_t length = ReadUnsigned(Pairs.subspan(p, lengthSize));
    p += lengthSize;
    if (length > kMaxRunClusters || static_cast<std::uint64_t>(vcn) + length > 2 * kMaxRunClusters) return;
    TRunItem run{vcn, -1, length};
    vcn += static_cast<std::int64_t>(length);
    if (offsetSize > 0) {
      const std::int64_t delta = ReadSigned(Pairs.subspan(p, offsetSize));
      p += offsetSize;
      // A present but zero offset is a hole, as The Sleuth Kit reads it; only a first run (the boot
      // file's) legitimately starts at cluster 0.
      if (delta != 0 || first) {
        if (delta > static_cast<std::int64_t>(kMaxRunClusters) || delta < -static_cast<std::int64_t>(kMaxRunClusters))
          return;
        lcn += delta;
        if (lcn < 0 || static_cast<std::uint64_t>(lcn) >= kMaxRunClusters) return;
        run.Lcn = lcn;
      }
    }
    first = false;
    Runs.push_back(run);
  }
}

}  // namespace kestrine
