// The preview window driven through its widgets: which view a file opens in, the View menu, the
// stream's lifetime, reading only what is shown, and a web view that never fetches anything.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include "tests/ui/preview_window/fake_streams.h"
#include "ui/preview/dump_viewer.h"
#include "ui/preview/preview_browser.h"
#include "ui/preview/preview_window.h"

namespace kestrine::ui {
namespace {

using test::TCountingStream;
using test::TMemoryStream;

constexpr std::int64_t MiB = 1024 * 1024;

// Qt writes no GIF: a 1 x 1 one made by hand.
const QByteArray TinyGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00!\xF9\x04\x01\x00\x00\x00\x00"
                         ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02" "D\x01\x00;",
                         43);

QByteArray PictureBytes(const char* Format, QSize Size = {40, 30}) {
  QImage image(Size, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter(&image).fillRect(QRect(5, 5, 10, 10), Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, Format)) << Format;
  return bytes;
}

// A BMP header that claims a picture of 60000 x 60000 pixels (about 13 GiB) and holds none.
QByteArray CraftedHugeBmp() {
  QByteArray b(54, '\0');
  auto put32 = [&](int At, quint32 V) {
    for (int i = 0; i < 4; ++i) b[At + i] = static_cast<char>(V >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, 54 + 1000);
  put32(10, 54);
  put32(14, 40);
  put32(18, 60000);
  put32(22, 60000);
  b[26] = 1;
  b[28] = 24;
  return b + QByteArray(1000, '\x7F');
}

class PreviewWindow : public ::testing::Test {
 protected:
  PreviewWindow() : Window(std::make_unique<TfrmPreview>(English)) {}

  bool Show(const QByteArray& Data, const QString& Name, bool* Destroyed = nullptr) {
    return Window->ShowFile(std::make_unique<TMemoryStream>(Data, Destroyed), Name);
  }
  template <typename T>
  T* Child(const char* Name) {
    T* child = Window->findChild<T*>(QString::fromLatin1(Name));
    EXPECT_NE(child, nullptr) << Name;
    return child;
  }
  QString Page() { return Child<QStackedWidget>("pcPreview")->currentWidget()->objectName(); }
  QStringList Checked() {
    QStringList names;
    for (const char* name : {"AsHex1", "AsBinary1", "AsText1", "AsUnicode1", "AsBitmap1", "AsWebpage1"})
      if (Child<QAction>(name)->isChecked()) names << QString::fromLatin1(name);
    return names;
  }
  void Trigger(const char* Action) { Child<QAction>(Action)->trigger(); }
  TDumpViewer* Viewer() { return Child<TDumpViewer>("ATBinHexPreview"); }
  TPreviewBrowser* Browser() { return dynamic_cast<TPreviewBrowser*>(Child<QTextBrowser>("brwPreview")); }
  QPixmap Picture() { return Child<QLabel>("imgPreview")->pixmap(); }
  void WaitForFind() {
    QElapsedTimer timer;
    timer.start();
    while (Viewer()->Finding() && timer.elapsed() < 20000) QCoreApplication::processEvents();
    ASSERT_FALSE(Viewer()->Finding());
  }

  TLanguageDocument English;
  std::unique_ptr<TfrmPreview> Window;
};

TEST_F(PreviewWindow, PagesOpenAsWebPagesByTheirExtensionInAnyCase) {
  ASSERT_TRUE(Show("<html><body><h1>Quarterly report</h1></body></html>", "REPORT.HTML"));
  EXPECT_EQ(Window->windowTitle(), u"Preview [REPORT.HTML]");
  EXPECT_EQ(Page(), u"tsBrowser");
  EXPECT_EQ(Checked(), QStringList{"AsWebpage1"});
  EXPECT_TRUE(Browser()->toPlainText().contains(u"Quarterly report"));

  // ".h" is part of ".htm;.html", so a C header is a web page too.
  ASSERT_TRUE(Show("#include <stdio.h>\nint main(void);\n", "types.h"));
  EXPECT_EQ(Page(), u"tsBrowser");
  EXPECT_TRUE(Browser()->toPlainText().contains(u"int main"));

  // Other text is no picture: it stays in the hex dump.
  ASSERT_TRUE(Show("<html>not by this name</html>", "notes.txt"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_EQ(Checked(), QStringList{"AsHex1"});
  EXPECT_EQ(Viewer()->Mode(), TViewerMode::vbmodeHex);
  EXPECT_TRUE(Browser()->toPlainText().isEmpty());
  EXPECT_FALSE(Window->ShowFile(nullptr, "none"));
}

TEST_F(PreviewWindow, ABitmapOpensInTheDumpAndAsBitmapShowsIt) {
  ASSERT_TRUE(Show(PictureBytes("BMP"), "Photo.BMP"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_EQ(Checked(), QStringList{"AsHex1"});
  EXPECT_TRUE(Viewer()->VisibleLines().value(0).startsWith(u"00000000  42 4D"));

  Trigger("AsBitmap1");
  EXPECT_EQ(Page(), u"tsImage");
  EXPECT_EQ(Checked(), QStringList{"AsBitmap1"});
  EXPECT_EQ(Picture().size(), QSize(40, 30));

  // A view that was not loaded shows a blank page; the dump modes switch without reloading.
  Trigger("AsWebpage1");
  EXPECT_EQ(Page(), u"tsBrowser");
  EXPECT_TRUE(Browser()->toPlainText().isEmpty());
  Trigger("AsBinary1");
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_EQ(Checked(), QStringList{"AsBinary1"});
  EXPECT_TRUE(Viewer()->VisibleLines().value(0).startsWith(u"00000000  01000010 01001101"));
  Trigger("AsText1");
  EXPECT_EQ(Viewer()->Mode(), TViewerMode::vbmodeText);
  EXPECT_TRUE(Viewer()->VisibleLines().value(0).startsWith(u"BM"));
  Trigger("AsUnicode1");
  EXPECT_EQ(Viewer()->Mode(), TViewerMode::vbmodeUnicode);
  EXPECT_EQ(Checked(), QStringList{"AsUnicode1"});
}

TEST_F(PreviewWindow, BadPictureDataFallsBackToTheDump) {
  QByteArray gif = TinyGif.left(20);
  gif.append(QByteArray(100, '\xEE'));
  ASSERT_TRUE(Show(gif, "broken.gif"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_EQ(Checked(), QStringList{"AsHex1"});
  Trigger("AsBitmap1");
  EXPECT_TRUE(Picture().isNull());

  // A named format is that format: a PNG called .gif is bad GIF data.
  ASSERT_TRUE(Show(PictureBytes("PNG"), "renamed.gif"));
  EXPECT_EQ(Page(), u"tsDump");
  ASSERT_TRUE(Show(QByteArray("\xFF\xD8\xFF\xE0 not really", 15), "broken.jpg"));
  EXPECT_EQ(Page(), u"tsDump");

  // A header that asks for gigabytes is refused, by extension or by content.
  ASSERT_TRUE(Show(CraftedHugeBmp(), "huge.bmp"));
  EXPECT_EQ(Page(), u"tsDump");
  Trigger("AsBitmap1");
  EXPECT_TRUE(Picture().isNull());
  ASSERT_TRUE(Show(CraftedHugeBmp(), "huge.bin"));
  EXPECT_EQ(Page(), u"tsDump");
}

TEST_F(PreviewWindow, PicturesOpenByExtensionOrByTheirContent) {
  ASSERT_TRUE(Show(PictureBytes("JPEG"), "holiday.jpe"));
  EXPECT_EQ(Page(), u"tsImage");
  EXPECT_EQ(Checked(), QStringList{"AsBitmap1"});
  EXPECT_EQ(Picture().size(), QSize(40, 30));

  ASSERT_TRUE(Show(TinyGif, "anim.gif"));
  EXPECT_EQ(Page(), u"tsImage");
  EXPECT_EQ(Picture().size(), QSize(1, 1));

  ASSERT_TRUE(Show(PictureBytes("PNG", {33, 21}), "FILE0001.CHK"));
  EXPECT_EQ(Page(), u"tsImage");
  EXPECT_EQ(Checked(), QStringList{"AsBitmap1"});
  EXPECT_EQ(Picture().size(), QSize(33, 21));

  // Each new file starts from an empty picture and the hex dump.
  ASSERT_TRUE(Show("plain bytes", "noext"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_TRUE(Picture().isNull());

  if (!QImageWriter::supportedImageFormats().contains("tiff")) GTEST_SKIP() << "no TIFF plug-in installed";
  ASSERT_TRUE(Show(PictureBytes("TIFF", {9, 8}), "scan"));
  EXPECT_EQ(Page(), u"tsImage");
  EXPECT_EQ(Picture().size(), QSize(9, 8));
}

TEST_F(PreviewWindow, TheWindowHoldsOneStreamUntilTheNextFileOrItsEnd) {
  bool firstGone = false;
  bool secondGone = false;
  ASSERT_TRUE(Show("first", "a.txt", &firstGone));
  EXPECT_FALSE(firstGone);
  ASSERT_TRUE(Show("second", "b.txt", &secondGone));
  EXPECT_TRUE(firstGone);
  EXPECT_FALSE(secondGone);

  // Closing only hides: the stream stays for a second look.
  Window->show();
  QTest::mouseClick(Child<QPushButton>("btnClose"), Qt::LeftButton);
  EXPECT_FALSE(Window->isVisible());
  EXPECT_FALSE(secondGone);
  EXPECT_TRUE(Viewer()->VisibleLines().value(0).contains(u"second"));

  Window.reset();
  EXPECT_TRUE(secondGone);
}

TEST_F(PreviewWindow, NoViewWritesToTheStream) {
  for (const auto& [data, name] : {std::pair{PictureBytes("BMP"), QStringLiteral("a.bmp")},
                                   std::pair{PictureBytes("PNG"), QStringLiteral("a.dat")},
                                   std::pair{QByteArray("<p>page</p>"), QStringLiteral("a.html")}}) {
    auto stream = std::make_unique<TMemoryStream>(data);
    const TMemoryStream* seen = stream.get();
    ASSERT_TRUE(Window->ShowFile(std::move(stream), name));
    for (const char* action : {"AsBinary1", "AsText1", "AsUnicode1", "AsBitmap1", "AsWebpage1", "AsHex1"}) Trigger(action);
    Viewer()->SetSelection(0, 4);
    Viewer()->Copy();
    EXPECT_EQ(seen->Writes, 0) << name.toStdString();
  }
}

TEST_F(PreviewWindow, AFourGigabyteFileShowsItsFirstAndLastPageReadingLittle) {
  std::int64_t bytesRead = 0;
  const std::int64_t size = std::int64_t{4} << 30;
  auto byteAt = [](std::int64_t P) { return static_cast<std::uint8_t>('A' + (P / 16) % 26); };
  Window->show();
  ASSERT_TRUE(Window->ShowFile(std::make_unique<TCountingStream>(size, byteAt, &bytesRead), "disk.dat"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_EQ(Viewer()->VisibleLines().value(0), u"00000000  41 41 41 41 41 41 41 41  41 41 41 41 41 41 41 41  AAAAAAAAAAAAAAAA");
  EXPECT_LT(bytesRead, MiB);

  QTest::keyClick(Viewer(), Qt::Key_End);
  const QStringList lines = Viewer()->VisibleLines();
  ASSERT_FALSE(lines.isEmpty());
  const QChar last(static_cast<char16_t>(byteAt(size - 1)));
  EXPECT_TRUE(lines.last().startsWith(u"FFFFFFF0  ")) << lines.last().toStdString();
  EXPECT_TRUE(lines.last().endsWith(QString(16, last)));
  EXPECT_EQ(lines.size(), Viewer()->PageRows());
  EXPECT_LT(bytesRead, MiB);

  // The text view counts bytes, not lines, on its scroll bar, scaled into an int.
  Trigger("AsText1");
  QScrollBar* bar = Viewer()->verticalScrollBar();
  EXPECT_LE(bar->maximum(), 1 << 30);
  EXPECT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  ASSERT_FALSE(Viewer()->VisibleLines().isEmpty());
  EXPECT_TRUE(Viewer()->VisibleLines().last().endsWith(last));
  QTest::keyClick(Viewer(), Qt::Key_Home);
  EXPECT_EQ(Viewer()->TopOffset(), 0);
  EXPECT_LT(bytesRead, MiB);
}

TEST_F(PreviewWindow, ScrollingATerabyteScalesTheScrollBar) {
  std::int64_t bytesRead = 0;
  const std::int64_t size = std::int64_t{1} << 40;
  Window->show();
  ASSERT_TRUE(Window->ShowFile(std::make_unique<TCountingStream>(size, [](std::int64_t) { return 'z'; }, &bytesRead),
                               "image.raw"));
  QScrollBar* bar = Viewer()->verticalScrollBar();
  EXPECT_LE(bar->maximum(), 1 << 30);
  bar->setValue(bar->maximum() / 2);
  EXPECT_NEAR(static_cast<double>(Viewer()->TopOffset()) / size, 0.5, 0.001);
  bar->setValue(bar->maximum());
  EXPECT_TRUE(Viewer()->VisibleLines().last().startsWith(u"FFFFFFFFF0  "));
  QTest::keyClick(Viewer(), Qt::Key_Up);
  EXPECT_EQ(Viewer()->VisibleLines().last().left(10), u"FFFFFFFFE0");

  // A sideways scroll leaves the rows where they are, although the vertical bar's value stands
  // for many rows. A big font makes the rows wider than the window.
  QFont big = Viewer()->font();
  big.setPointSizeF(big.pointSizeF() * 4);
  Viewer()->setFont(big);
  QTest::keyClick(Viewer(), Qt::Key_Home);
  Viewer()->ScrollRows(12345);
  const std::int64_t top = Viewer()->TopOffset();
  EXPECT_EQ(top, 12345 * 16);
  ASSERT_GT(Viewer()->horizontalScrollBar()->maximum(), 0);
  Viewer()->horizontalScrollBar()->setValue(3);
  EXPECT_EQ(Viewer()->TopOffset(), top);
  EXPECT_TRUE(Viewer()->VisibleLines().value(0).startsWith(u"0000030390"));
  EXPECT_LT(bytesRead, MiB);
}

TEST_F(PreviewWindow, UnreadableBytesShowAsQuestionMarks) {
  std::int64_t bytesRead = 0;
  auto stream = std::make_unique<TCountingStream>(4096, [](std::int64_t) { return 'k'; }, &bytesRead);
  stream->BadFrom = 16;
  stream->BadTo = 32;
  Window->show();
  ASSERT_TRUE(Window->ShowFile(std::move(stream), "partial.bin"));
  const QStringList lines = Viewer()->VisibleLines();
  ASSERT_GE(lines.size(), 3);
  EXPECT_TRUE(lines[0].endsWith(u"kkkkkkkkkkkkkkkk"));
  EXPECT_TRUE(lines[1].contains(u"?? ?? ??")) << lines[1].toStdString();

  // A stream that delivers nothing says why, in the status line.
  auto failed = std::make_unique<TMemoryStream>(QByteArray());
  failed->FailureReason = TReason{TReasonId::RecordReused, {"41"}};
  ASSERT_TRUE(Window->ShowFile(std::move(failed), "lost.doc"));
  EXPECT_EQ(Page(), u"tsDump");
  EXPECT_TRUE(Viewer()->VisibleLines().isEmpty());
  EXPECT_TRUE(Child<QLabel>("lblStatus")->text().contains(u"MFT record 41 belongs to another file since the scan"));
}

TEST_F(PreviewWindow, APageIsShownWithoutFetchingAnythingItNames) {
  QTemporaryDir dir;
  const QString picture = dir.filePath(QStringLiteral("secret.png"));
  const QString style = dir.filePath(QStringLiteral("style.css"));
  {
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(PictureBytes("PNG"));
    QFile css(style);
    ASSERT_TRUE(css.open(QIODevice::WriteOnly));
    css.write("p { color: red }");
  }
  const QUrl local = QUrl::fromLocalFile(picture);
  const QUrl remote(QStringLiteral("http://127.0.0.1:9/tracker.png"));
  const QByteArray page = "<html><head><link rel=stylesheet href=\"" + QUrl::fromLocalFile(style).toEncoded() +
                          "\"></head><body><p>Hello</p><img src=\"" + local.toEncoded() + "\"><img src=\"" +
                          remote.toEncoded() + "\"><img src=\"secret.png\"><img src=\"" + picture.toUtf8() +
                          "\"><img src=\"data:image/png;base64," + PictureBytes("PNG", {3, 2}).toBase64() +
                          "\"><a href=\"http://example.com/\">link</a></body></html>";
  QDir::setCurrent(dir.path());  // a relative name must not be found beside us either
  Window->show();
  ASSERT_TRUE(Show(page, "page.htm"));
  Window->grab();  // lays the page out, which is when pictures are asked for

  TPreviewBrowser* browser = Browser();
  EXPECT_GT(browser->ResourceRequests(), 0);
  QTextDocument* document = browser->document();
  // What the document holds for a name is a placeholder or nothing, never the file's picture.
  auto notLoaded = [&](int Type, const QUrl& Url) {
    const QVariant value = document->resource(Type, Url);
    return value.toByteArray().isEmpty() && value.value<QImage>().size() != QSize(40, 30) &&
           !value.toString().contains(u"color");
  };
  EXPECT_TRUE(notLoaded(QTextDocument::ImageResource, local));
  EXPECT_TRUE(notLoaded(QTextDocument::ImageResource, remote));
  EXPECT_TRUE(notLoaded(QTextDocument::ImageResource, QUrl("secret.png")));
  EXPECT_TRUE(notLoaded(QTextDocument::ImageResource, QUrl(picture)));
  EXPECT_TRUE(notLoaded(QTextDocument::StyleSheetResource, QUrl::fromLocalFile(style)));
  // A picture inside the page itself is shown.
  const QUrl inlined(QStringLiteral("data:image/png;base64,") + PictureBytes("PNG", {3, 2}).toBase64());
  EXPECT_EQ(document->resource(QTextDocument::ImageResource, inlined).value<QImage>().size(), QSize(3, 2));
  EXPECT_TRUE(browser->toPlainText().contains(u"Hello"));

  // A click on a link goes nowhere.
  EXPECT_FALSE(browser->openLinks());
  EXPECT_FALSE(browser->openExternalLinks());
  browser->setFocus();
  QTest::keyClick(browser, Qt::Key_Tab);
  QTest::keyClick(browser, Qt::Key_Return);
  EXPECT_TRUE(browser->source().isEmpty());
  EXPECT_TRUE(browser->toPlainText().contains(u"Hello"));
  QDir::setCurrent(QDir::tempPath());
}

TEST_F(PreviewWindow, APageIsReadInTheCharsetItDeclaresOrElseByItsBytes) {
  ASSERT_TRUE(Show("<meta charset=windows-1252><p>caf\xE9 \x80</p>", "a.html"));
  EXPECT_TRUE(Browser()->toPlainText().contains(QString::fromUtf8("caf\u00E9 \u20AC")));
  ASSERT_TRUE(Show("<p>caf\xC3\xA9</p>", "b.html"));
  EXPECT_TRUE(Browser()->toPlainText().contains(QString::fromUtf8("caf\u00E9")));
  ASSERT_TRUE(Show("<meta charset=utf-8><p>caf\xC3\xA9</p>", "c.html"));
  EXPECT_TRUE(Browser()->toPlainText().contains(QString::fromUtf8("caf\u00E9")));
  ASSERT_TRUE(Show("<p>caf\xE9</p>", "d.html"));
  EXPECT_TRUE(Browser()->toPlainText().contains(QString::fromUtf8("caf\u00E9")));
  EXPECT_FALSE(Child<QLabel>("lblBrowserNote")->isVisibleTo(Window.get()));

  // A huge page shows its beginning, and says so.
  QByteArray big = "<p>start</p>" + QByteArray(6 * MiB, 'x') + "<p>end</p>";
  ASSERT_TRUE(Show(big, "huge.html"));
  EXPECT_TRUE(Child<QLabel>("lblBrowserNote")->isVisibleTo(Window.get()));
  const QString text = Browser()->toPlainText();
  EXPECT_TRUE(text.startsWith(u"start"));
  EXPECT_FALSE(text.contains(u"end"));
  EXPECT_LE(text.size(), BrowserByteLimit + BrowserByteLimit / 100);
}

TEST_F(PreviewWindow, GoToOffsetFindAndCopyInTheDump) {
  QByteArray data(64 * 1024, '.');
  data.replace(40000, 6, "Needle");
  data.replace(50000, 6, "NEEDLE");
  Window->show();
  ASSERT_TRUE(Show(data, "blob.bin"));

  Child<QLineEdit>("edtGoTo")->setText("0x9C40");
  QTest::mouseClick(Child<QPushButton>("btnGoTo"), Qt::LeftButton);
  EXPECT_EQ(Viewer()->SelectionStart(), 40000);
  EXPECT_LE(Viewer()->TopOffset(), 40000);
  EXPECT_GT(Viewer()->TopOffset() + 16 * Viewer()->PageRows(), 40000);
  Child<QLineEdit>("edtGoTo")->setText("nonsense");
  QTest::mouseClick(Child<QPushButton>("btnGoTo"), Qt::LeftButton);
  EXPECT_TRUE(Child<QLabel>("lblStatus")->text().contains(u"Not an offset"));

  // From the selection on: the first match is the selected one's successor.
  Viewer()->SetSelection(0, 0);
  Viewer()->ScrollToTop();
  Child<QLineEdit>("edtFind")->setText("needle");
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  WaitForFind();
  EXPECT_EQ(Viewer()->SelectionStart(), 40000);
  EXPECT_EQ(Viewer()->SelectionLength(), 6);
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  WaitForFind();
  EXPECT_EQ(Viewer()->SelectionStart(), 50000);
  Child<QCheckBox>("chkMatchCase")->setChecked(true);
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  WaitForFind();
  EXPECT_TRUE(Child<QLabel>("lblStatus")->text().contains(u"Not found"));

  // Text outside ASCII is looked for in Latin-1 and in UTF-8, whichever comes first.
  Child<QCheckBox>("chkMatchCase")->setChecked(false);
  data.replace(20000, 8, "R\xC3\xA9sum\xC3\xA9");
  ASSERT_TRUE(Show(data, "blob.bin"));
  Child<QLineEdit>("edtFind")->setText(QString::fromUtf8("r\u00E9sum\u00E9"));
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  WaitForFind();
  EXPECT_EQ(Viewer()->SelectionStart(), 20000);
  EXPECT_EQ(Viewer()->SelectionLength(), 8);

  Child<QCheckBox>("chkFindHex")->setChecked(true);
  Child<QLineEdit>("edtFind")->setText("4E 45 45");
  Viewer()->SetSelection(0, 0);
  Viewer()->ScrollToTop();
  Window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
  QTest::keyClick(Viewer(), Qt::Key_F3);
  WaitForFind();
  EXPECT_EQ(Viewer()->SelectionStart(), 50000);
  EXPECT_EQ(Viewer()->SelectedText(), u"4E 45 45");
}

TEST_F(PreviewWindow, ALongFindRunsInSlicesAndCanBeStopped) {
  QByteArray data(40 * MiB, '-');
  data.replace(data.size() - 10, 4, "LAST");
  Window->show();
  ASSERT_TRUE(Show(data, "big.bin"));
  Child<QLineEdit>("edtFind")->setText("LAST");
  Child<QCheckBox>("chkMatchCase")->setChecked(true);
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  EXPECT_TRUE(Viewer()->Finding());  // nothing is searched before the event loop runs
  QCoreApplication::processEvents();
  EXPECT_TRUE(Viewer()->Finding());
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  EXPECT_FALSE(Viewer()->Finding());
  EXPECT_TRUE(Child<QLabel>("lblStatus")->text().contains(u"stopped"));

  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  WaitForFind();
  EXPECT_EQ(Viewer()->SelectionStart(), data.size() - 10);
  EXPECT_TRUE(Viewer()->VisibleLines().join(u'\n').contains(u"LAST"));

  // The next file ends a find still running.
  Viewer()->SetSelection(0, 0);
  QTest::mouseClick(Child<QPushButton>("btnFindNext"), Qt::LeftButton);
  ASSERT_TRUE(Viewer()->Finding());
  ASSERT_TRUE(Show("other", "other.bin"));
  EXPECT_FALSE(Viewer()->Finding());
  EXPECT_EQ(Child<QPushButton>("btnFindNext")->text(), u"Find &next");
}

TEST_F(PreviewWindow, DraggingSelectsBytesAndCopyTakesThem) {
  Window->show();
  ASSERT_TRUE(Show("Hello, world!\nSecond line\n", "hello.bin"));
  TDumpViewer* viewer = Viewer();
  const qreal cw = QFontMetricsF(viewer->font()).horizontalAdvance(QLatin1Char('0'));
  const int y = viewer->fontMetrics().height() / 2;
  // Hex cells of row 0 begin at column 10, three columns apart.
  auto hexCell = [&](int I) { return QPointF(cw / 2 + (10 + 3 * I) * cw + cw / 2, y).toPoint(); };
  QTest::mousePress(viewer->viewport(), Qt::LeftButton, {}, hexCell(0));
  QTest::mouseMove(viewer->viewport(), hexCell(3));
  QTest::mouseRelease(viewer->viewport(), Qt::LeftButton, {}, hexCell(3));
  EXPECT_EQ(viewer->SelectionStart(), 0);
  EXPECT_EQ(viewer->SelectionLength(), 4);
  EXPECT_EQ(viewer->SelectedText(), u"48 65 6C 6C");
  QTest::keyClick(viewer, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), u"48 65 6C 6C");

  // In the text view the same drag takes characters; a click past a line's end takes its last one.
  Trigger("AsText1");
  auto textCell = [&](int Column, int Row) {
    return QPointF(cw / 2 + Column * cw + cw / 2, Row * viewer->fontMetrics().height() + y).toPoint();
  };
  QTest::mousePress(viewer->viewport(), Qt::LeftButton, {}, textCell(7, 0));
  QTest::mouseMove(viewer->viewport(), textCell(60, 1));
  QTest::mouseRelease(viewer->viewport(), Qt::LeftButton, {}, textCell(60, 1));
  EXPECT_EQ(viewer->SelectedText(), u"world!\nSecond line\n");
  QTest::keyClick(viewer, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(viewer->SelectionLength(), 26);
}

}  // namespace
}  // namespace kestrine::ui
