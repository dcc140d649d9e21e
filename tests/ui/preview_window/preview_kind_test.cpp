// Which view a file name asks for.
#include <gtest/gtest.h>

#include "ui/preview/preview_kind.h"

namespace kestrine::ui {
namespace {

TEST(PreviewKind, ExtensionsAreComparedInLowerCaseAndPartsOfTheListsCount) {
  EXPECT_EQ(LowerExtension("Photo.Final.BMP"), u".bmp");
  EXPECT_EQ(LowerExtension("README"), u"");
  EXPECT_EQ(LowerExtension("trailing."), u".");

  EXPECT_EQ(PreviewKindOf("a.BMP"), TPreviewKind::Bitmap);
  EXPECT_EQ(PreviewKindOf("a.bmpx"), TPreviewKind::ByContent);
  for (const char* name : {"REPORT.HTML", "x.htm", "types.h", "x.ht", "x.htm;", "x.html", "x."})
    EXPECT_EQ(PreviewKindOf(name), TPreviewKind::WebPage) << name;
  EXPECT_EQ(PreviewKindOf("x.hx"), TPreviewKind::ByContent);
  EXPECT_EQ(PreviewKindOf("x.tm"), TPreviewKind::ByContent);  // the list's parts start at a dot
  EXPECT_EQ(PreviewKindOf("x.Gif"), TPreviewKind::Gif);
  EXPECT_EQ(PreviewKindOf("x.gi"), TPreviewKind::ByContent);
  EXPECT_EQ(PreviewKindOf("x.peg"), TPreviewKind::ByContent);
  for (const char* name : {"x.jpeg", "x.JPG", "x.jpe", "x.jp", "x.j"})
    EXPECT_EQ(PreviewKindOf(name), TPreviewKind::Jpeg) << name;
  // The first test that matches decides: ".g" is in neither list, so content decides.
  EXPECT_EQ(PreviewKindOf("x.g"), TPreviewKind::ByContent);
  // A name without a dot has no extension, and the empty one is in no list.
  EXPECT_EQ(PreviewKindOf("html"), TPreviewKind::ByContent);
  EXPECT_EQ(PreviewKindOf(""), TPreviewKind::ByContent);
}

}  // namespace
}  // namespace kestrine::ui
