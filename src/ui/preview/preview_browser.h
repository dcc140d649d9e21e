#pragma once
// The web-page view: a page rendered from the file's bytes alone. Nothing the page names (pictures,
// style sheets, links) is ever fetched, from disk or from the network.

#include <QImage>
#include <QTextBrowser>
#include <cstdint>
#include <optional>

#include "ui/preview/html_charset.h"

namespace kestrine {
class TRecoveryStream;
}

namespace kestrine::ui {

class TPreviewBrowser final : public QTextBrowser {
 public:
  explicit TPreviewBrowser(QWidget* Parent = nullptr);
  // Never what the page names (only what a data: URL holds): a recovered page must not make the
  // program read files or reach servers. Pictures show as a placeholder.
  QVariant loadResource(int Type, const QUrl& Name) override;
  // How often the page asked for something; for checking that it got nothing.
  int ResourceRequests() const { return FResourceRequests; }
  void Blank();

 private:
  int FResourceRequests = 0;
  QImage FPlaceholder;
};

// The bytes a data: URL carries within it; nothing for other URLs or a malformed one.
std::optional<QByteArray> DataUrlBytes(const QUrl& Url);

// A page larger than this shows its beginning only: the text engine lays out all it is given, at
// about a second for each megabyte.
inline constexpr std::int64_t BrowserByteLimit = 2 * 1024 * 1024;

struct TBrowserLoad {
  std::int64_t Shown = 0;  // bytes given to the page
  std::int64_t Size = 0;   // the stream's size
  QString Charset;
  TCharsetSource Source = TCharsetSource::Content;
};

// The stream's bytes from its start (up to BrowserByteLimit) as the browser's document.
TBrowserLoad LoadStreamIntoBrowser(TPreviewBrowser& Browser, TRecoveryStream& Stream);

}  // namespace kestrine::ui
