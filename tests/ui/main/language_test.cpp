// The window as a newcomer meets it: started from any folder it finds its languages and skins,
// and a screen reader hears the language on screen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <fstream>
#include <iterator>

#include "settings/language_files.h"
#include "settings/settings_store.h"
#include "tests/ui/main/window_fixture.h"
#include "ui/main/wizard_page.h"

namespace kestrine::test {
namespace {

QStringList Items(const QComboBox* Box) {
  QStringList items;
  for (int i = 0; i < Box->count(); ++i) items << Box->itemText(i);
  return items;
}

QStringList Captions(const QAbstractItemModel& Model) {
  QStringList captions;
  for (int c = 0; c < Model.columnCount(); ++c) captions << Model.headerData(c, Qt::Horizontal).toString();
  return captions;
}

QString SpokenName(QWidget* Widget) {
  QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(Widget);
  return spoken ? spoken->text(QAccessible::Name) : QString();
}

TEST(Newcomer, AWindowStartedWhereNoLanguageOrSkinIsFindsThemBesideTheProgram) {
  TWindowFixture f({"fat16.img.xz"});
  std::filesystem::remove(f.Dir / "Langs");  // the fixture's own languages: none here now
  f.Open();
  EXPECT_EQ(QDir(LangsFolder()).canonicalPath(), QDir(QCoreApplication::applicationDirPath() + "/Langs").canonicalPath());

  auto* drives = f.Find<QTreeWidget>("lvWizardDrives");
  auto* files = f.Find<QTreeView>("lvFiles");
  EXPECT_EQ(Captions(*drives->model()),
            (QStringList{QStringLiteral("Name"), QStringLiteral("Total Size"), QStringLiteral("Free Space"),
                         QStringLiteral("Type")}));
  ASSERT_EQ(files->model()->columnCount(), 6);
  for (const QString& caption : Captions(*files->model())) EXPECT_FALSE(caption.isEmpty());

  drives->setCurrentItem(drives->topLevelItem(0));
  f.Find<QPushButton>("btnStartScan")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().Wizard().Scanning(); }));
  ASSERT_FALSE(f.Dialogs.Shown.isEmpty());
  EXPECT_GT(f.Dialogs.Shown.last().size(), QStringLiteral("info: ").size()) << f.Dialogs.Shown.last().toStdString();

  f.Find<QPushButton>("btnOptions")->click();
  auto* languages = f.Find<QComboBox>("cboxLanguages");
  auto* skins = f.Find<QComboBox>("cboxSkins");
  EXPECT_EQ(Items(languages), (QStringList{QStringLiteral("English"), QStringLiteral("French"), QStringLiteral("German")}));
  EXPECT_EQ(languages->currentText(), QStringLiteral("English"));
  EXPECT_EQ(Items(skins), (QStringList{QStringLiteral("Dark"), QStringLiteral("HighContrast"), QStringLiteral("Light")}));
  // Nothing chosen yet: the built-in skin is in force, and it is the light one.
  EXPECT_EQ(skins->currentText(), QStringLiteral("Light"));
}

TEST(Newcomer, AfterChoosingGermanAScreenReaderHearsTheGermanCaptions) {
  TWindowFixture f({"fat16.img.xz"});
  f.Open();
  f.Find<QPushButton>("btnOptions")->click();
  auto* languages = f.Find<QComboBox>("cboxLanguages");
  languages->setCurrentIndex(languages->findText(QStringLiteral("German")));
  auto* skins = f.Find<QComboBox>("cboxSkins");
  skins->setCurrentIndex(skins->findText(QStringLiteral("Dark")));
  f.Find<QPushButton>("btnSaveOptions")->click();

  f.Open();
  const TLanguageDocument& german = f.Window().Language();
  for (const char* name : {"btnWizard", "btnDiskCleanup", "btnOptions", "btnAbout", "btnHelp"}) {
    auto* button = f.Find<QAbstractButton>(name);
    const QString caption = german.LookupText(QString::fromLatin1(name));
    EXPECT_EQ(button->text(), caption) << name;
    EXPECT_EQ(SpokenName(button), QString(caption).remove(QLatin1Char('&'))) << name;
  }
  EXPECT_EQ(SpokenName(f.Find<QAbstractButton>("btnDiskCleanup")), QStringLiteral("Datenträgerbereinigung"));
  // Controls without words of their own are named in German too.
  EXPECT_EQ(SpokenName(f.Find<QTreeView>("lvFiles")), QStringLiteral("Dateien"));
  EXPECT_EQ(SpokenName(f.Find<QWidget>("prgScanFiles")), QStringLiteral("Suchfortschritt"));

  // Qt's own words (the buttons of a question) follow, from the translations installed with Qt.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));

  f.Find<QPushButton>("btnOptions")->click();
  EXPECT_EQ(f.Find<QComboBox>("cboxSkins")->currentText(), QStringLiteral("Dark"));
}

// A deleted file of the image whose short entry is Name gets a recorded size of 2 GiB, more than the
// volume holds: it is recovered cut, as a partial file.
void InflateRecordedSize(const std::filesystem::path& Image, const std::string& Name) {
  std::fstream file(Image, std::ios::in | std::ios::out | std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  const std::size_t entry = bytes.find(Name);
  ASSERT_NE(entry, std::string::npos) << Name;
  file.clear();
  file.seekp(static_cast<std::streamoff>(entry + 28));
  file.write("\0\0\0\x80", 4);
}

void ScanFirstDrive(TWindowFixture& F) {
  auto* drives = F.Find<QTreeWidget>("lvWizardDrives");
  drives->setCurrentItem(drives->topLevelItem(0));
  F.Find<QPushButton>("btnStartScan")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !F.Window().Wizard().Scanning(); }));
}

TEST(Newcomer, APartialFilesReasonReadsInTheWindowsLanguage) {
  TTempDir images;
  const auto image = UnpackImage(TestDataDir() / "fat16.img.xz", images.Path());
  InflateRecordedSize(image, "\xE5" "ELETED TXT");
  TWindowFixture f({image.string()});
  WriteLanguageSetting(*f.Settings, QStringLiteral("German"));
  f.Open();
  ASSERT_NO_FATAL_FAILURE(ScanFirstDrive(f));
  const auto settle = [] { TWindowFixture::WaitUntil([] { return false; }, 300); };
  f.Find<QPushButton>("btnNextDrives")->click();
  settle();
  auto* tree = f.Find<QTreeView>("tvFolders");
  tree->setCurrentIndex(tree->model()->index(0, 0));
  settle();
  f.Find<QTreeView>("lvFiles")->selectAll();

  TTempDir out;
  f.Dialogs.Folder = QString::fromStdString(out.Path().string());
  f.Find<QPushButton>("btnRecover")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().Wizard().Recovering(); }));
  const QString& details = f.Dialogs.ReportDetails;
  EXPECT_NE(details.indexOf(QStringLiteral("seine aufgezeichnete Größe von 2147483648 Bytes übersteigt die ")), -1)
      << details.toStdString() << f.Dialogs.Shown.join(QStringLiteral("|")).toStdString();
  EXPECT_EQ(details.indexOf(QStringLiteral("its recorded size")), -1) << details.toStdString();
}

TEST(Newcomer, AScanFailuresReasonReadsInTheWindowsLanguage) {
  TTempDir images;
  const auto image = UnpackImage(TestDataDir() / "ntfs.img.xz", images.Path());
  {
    // The boot sector's MFT cluster, far past the end of the volume: the reason nests the geometry's.
    std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(0x30);
    file.write("\0\0\0\0\0\x01\0\0", 8);
  }
  TWindowFixture f({image.string()});
  WriteLanguageSetting(*f.Settings, QStringLiteral("German"));
  f.Open();
  ASSERT_NO_FATAL_FAILURE(ScanFirstDrive(f));
  const QString shown = f.Dialogs.Shown.join(QStringLiteral("|"));
  EXPECT_NE(shown.indexOf(QStringLiteral("konnte nicht durchsucht werden: die Geometrie des Bootsektors ist nicht NTFS: "
                                         "der erste Cluster 1099511627776 der MFT liegt jenseits der ")),
            -1)
      << shown.toStdString();
  EXPECT_EQ(shown.indexOf(QStringLiteral("geometry")), -1) << shown.toStdString();
}

}  // namespace
}  // namespace kestrine::test
