#include "ui/preview/preview_browser.h"

#include <QImage>
#include <QStyle>
#include <QTextDocument>
#include <algorithm>

#include "engine/volume/recovery_stream.h"
#include "ui/preview/dump_source.h"

namespace kestrine::ui {

TPreviewBrowser::TPreviewBrowser(QWidget* Parent) : QTextBrowser(Parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setSearchPaths({});
}

std::optional<QByteArray> DataUrlBytes(const QUrl& Url) {
  if (Url.scheme().compare(u"data", Qt::CaseInsensitive) != 0) return std::nullopt;
  const QByteArray path = Url.path(QUrl::FullyEncoded).toLatin1();
  const qsizetype comma = path.indexOf(',');
  if (comma < 0) return std::nullopt;
  const QByteArray payload = QByteArray::fromPercentEncoding(path.mid(comma + 1));
  if (!path.left(comma).toLower().endsWith(";base64")) return payload;
  auto decoded = QByteArray::fromBase64Encoding(payload);
  return decoded ? std::optional<QByteArray>(*decoded) : std::nullopt;
}

QVariant TPreviewBrowser::loadResource(int Type, const QUrl& Name) {
  ++FResourceRequests;
  // Never a null answer: on one, the document reads a local file of that name itself, and its
  // picture handler even loads the name as a path. A picture gets the placeholder instead.
  const std::optional<QByteArray> inlined = DataUrlBytes(Name);
  if (Type != QTextDocument::ImageResource) return inlined.value_or(QByteArray());
  if (inlined) {
    const QImage image = QImage::fromData(*inlined);
    if (!image.isNull()) return image;
  }
  if (FPlaceholder.isNull()) {
    const int side = fontMetrics().height();
    FPlaceholder = style()->standardIcon(QStyle::SP_FileIcon).pixmap(QSize(side, side), devicePixelRatioF()).toImage();
    if (FPlaceholder.isNull()) {
      FPlaceholder = QImage(side, side, QImage::Format_ARGB32);
      FPlaceholder.fill(Qt::transparent);
    }
  }
  return FPlaceholder;
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
  Browser.setHtml(BreakLongWords(text.Html));
  return load;
}

}  // namespace kestrine::ui
