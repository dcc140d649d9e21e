#include "settings/size_text.h"

#include <gtest/gtest.h>

namespace kestrine {
namespace {

TEST(SizeText, WholeUnitsWithTheLocaleSeparator) {
  const TNumberFormat comma{","};
  constexpr std::int64_t MiB = 1 << 20;
  EXPECT_EQ(FormatSizeText(0, comma), "0 MB");
  EXPECT_EQ(FormatSizeText(1'048'575, comma), "0 MB");
  EXPECT_EQ(FormatSizeText(1024 * MiB, comma), "1,024 MB");  // 1024 is not above 1024
  EXPECT_EQ(FormatSizeText(1025 * MiB, comma), "1 GB");
  EXPECT_EQ(FormatSizeText(80'000'000'000, comma), "74 GB");
  EXPECT_EQ(FormatSizeText(2 * 1024 * 1024 * MiB, comma), "2 TB");
  EXPECT_EQ(FormatSizeText(5000ll * 1024 * 1024 * MiB, comma), "5,000 TB");
  EXPECT_EQ(FormatSizeText(1024 * MiB, TNumberFormat{}), "1024 MB");
}

}  // namespace
}  // namespace kestrine
