#include "ui/preview/preview_browser.h"

#include <algorithm>

#include "engine/volume/recovery_stream.h"
#include "ui/preview/dump_source.h"

namespace kestrine::ui {

TPreviewBrowser::TPreviewBrowser(QWidget* Parent) : QTextBrowser(Parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setSearchPaths({});
}

QVariant TPreviewBrowser::loadResource(int, const QUrl&) {
  ++FResourceRequests;
  return {};
}

void TPreviewBrowser::Blank() {
  clear();
}

TBrowserLoad LoadStreamIntoBrowser(TPreviewBrowser& Browser, TRecoveryStream& Stream) {
  TBrowserLoad load;
  Browser.Blank();
  TStreamByteSource source(Stream);
  load.Size = source.Size();
  QByteArray bytes(static_cast<qsizetype>(std::min(load.Size, BrowserByteLimit)), Qt::Uninitialized);
  load.Shown = source.ReadAt(0, bytes.data(), bytes.size());
  bytes.truncate(static_cast<qsizetype>(load.Shown));
  const THtmlText text = DecodeHtml(bytes, load.Shown < load.Size);
  load.Charset = text.Charset;
  load.Source = text.Source;
  Browser.setHtml(text.Html);
  return load;
}

}  // namespace kestrine::ui
