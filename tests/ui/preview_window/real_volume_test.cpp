// The preview window over the engine's own FAT stream, on a volume made by mkfs.fat.
#include <gtest/gtest.h>

#include <QAction>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

#include "engine/volume/disk_object.h"
#include "engine/volume/recovery_stream.h"
#include "engine/volume/scanner_factory.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"
#include "ui/preview/dump_viewer.h"
#include "ui/preview/html_charset.h"
#include "ui/preview/preview_window.h"

namespace kestrine::ui {
namespace {

class PreviewOfAVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    Image = test::UnpackImage(test::TestDataDir() / "fat12.img.xz", Dir.Path());
    ASSERT_FALSE(Image.empty());
    Scan = test::ScanImage(Image);
    ASSERT_TRUE(Scan && Scan->Disk);
  }
  std::unique_ptr<TRecoveryStream> Open(const std::string& Name) {
    for (PFileInfo f : Scan->Disk->Files.Snapshot())
      if (f->Name == Name) return CreateStreamForKind(Scan->Disk.get(), Scan->Disk->FileSystem, f, {});
    ADD_FAILURE() << Name << " not found";
    return nullptr;
  }
  QByteArray ReadAll(const std::string& Name) {
    auto stream = Open(Name);
    QByteArray bytes(static_cast<qsizetype>(stream->GetSize()), '\0');
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size())), static_cast<std::uint32_t>(bytes.size()));
    return bytes;
  }

  test::TTempDir Dir;
  std::filesystem::path Image;
  std::unique_ptr<test::TScannedDisk> Scan;
};

TEST_F(PreviewOfAVolume, APageAndALogAreShownFromTheirClusters) {
  const TLanguageDocument english;
  TfrmPreview window(english);
  window.show();
  auto* pages = window.findChild<QStackedWidget*>("pcPreview");
  auto* viewer = window.findChild<TDumpViewer*>("ATBinHexPreview");

  const QByteArray page = ReadAll("Report.html");
  ASSERT_TRUE(window.ShowFile(Open("Report.html"), "Report.html"));
  EXPECT_EQ(pages->currentWidget()->objectName(), u"tsBrowser");
  QTextDocument expected;
  expected.setHtml(DecodeHtml(page).Html);
  EXPECT_FALSE(expected.toPlainText().isEmpty());
  EXPECT_EQ(window.findChild<QTextBrowser*>("brwPreview")->toPlainText(), expected.toPlainText());

  // The log: its first row in hex, its last line at the end of the text view.
  const QByteArray log = ReadAll("Big text.log");
  ASSERT_EQ(log.size(), 200000);
  ASSERT_TRUE(window.ShowFile(Open("Big text.log"), "Big text.log"));
  EXPECT_EQ(pages->currentWidget()->objectName(), u"tsDump");
  EXPECT_TRUE(viewer->VisibleLines().value(0).startsWith(QStringLiteral("00000000  ") + QString::fromLatin1(log.left(8).toHex(' ').toUpper())));
  window.findChild<QAction*>("AsText1")->trigger();
  QTest::keyClick(viewer, Qt::Key_End);
  const QList<QByteArray> lines = log.trimmed().split('\n');
  ASSERT_FALSE(viewer->VisibleLines().isEmpty());
  EXPECT_EQ(viewer->VisibleLines().last(), QString::fromLatin1(lines.last()).left(viewer->VisibleLines().last().size()));
  EXPECT_TRUE(QString::fromLatin1(lines.last()).startsWith(viewer->VisibleLines().last()));
}

}  // namespace
}  // namespace kestrine::ui
