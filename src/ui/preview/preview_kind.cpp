#include "ui/preview/preview_kind.h"

namespace kestrine::ui {

QString LowerExtension(const QString& FileName) {
  const qsizetype dot = FileName.lastIndexOf(u'.');
  return dot < 0 ? QString() : FileName.mid(dot).toLower();
}

TPreviewKind PreviewKindOf(const QString& FileName) {
  const QString ext = LowerExtension(FileName);
  // The substring tests are the window's long-standing rule: ".h" and ".j" count as well.
  auto within = [&](QStringView List) { return !ext.isEmpty() && List.contains(ext); };
  if (ext == u".bmp") return TPreviewKind::Bitmap;
  if (within(u".htm;.html")) return TPreviewKind::WebPage;
  if (ext == u".gif") return TPreviewKind::Gif;
  if (within(u".jpeg;.jpg")) return TPreviewKind::Jpeg;
  return TPreviewKind::ByContent;
}

}  // namespace kestrine::ui
