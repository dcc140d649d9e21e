#include "ui/main/program_icon.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

namespace kestrine::ui {
namespace {

TEST(ProgramIcon, BothRenditionsAreCompiledIn) {
  EXPECT_TRUE(QFile::exists(":/kestrine.svg"));
  const QImage Png(":/kestrine.png");
  EXPECT_EQ(Png.size(), QSize(64, 64));
}

TEST(ProgramIcon, DrawsAtSmallAndLargeSizes) {
  const QIcon Icon = ProgramIcon();
  ASSERT_FALSE(Icon.isNull());
  for (int Side : {16, 256}) {
    const QImage Image = Icon.pixmap(Side, Side).toImage();
    ASSERT_FALSE(Image.isNull()) << Side;
    // The platter covers the upper left quarter's middle; the corner opposite the handle is clear.
    EXPECT_GT(qAlpha(Image.pixel(Image.width() * 3 / 10, Image.height() * 3 / 10)), 200) << Side;
    EXPECT_EQ(qAlpha(Image.pixel(Image.width() - 1, 0)), 0) << Side;
  }
}

}  // namespace
}  // namespace kestrine::ui
