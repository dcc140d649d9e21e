#pragma once
// Which view a previewed file opens in, from its name.

#include <QString>

namespace kestrine::ui {

enum class TPreviewKind {
  Bitmap,   // loaded as a picture, but the dump stays in front
  WebPage,
  Gif,
  Jpeg,
  ByContent,  // a picture if the content is one the picture library knows, else the dump
};

// The name's part from its last "." on, in lower case; empty without a ".".
QString LowerExtension(const QString& FileName);
TPreviewKind PreviewKindOf(const QString& FileName);

}  // namespace kestrine::ui
