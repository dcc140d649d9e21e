// The main window driven through its real widgets: start, pages, scans, closing, settings.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QCheckBox>
#include <QDomDocument>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <unistd.h>
#include <fstream>
#include <sys/wait.h>

#include "engine/volume/disk_object.h"
#include "tests/ui/main/window_fixture.h"
#include "ui/cleanup/disk_cleanup_page.h"
#include "ui/main/single_instance.h"
#include "ui/main/wizard_page.h"

namespace kestrine::test {
namespace {

QDomElement ConfigRoot(const TTempDir& Dir) {
  QFile file(QString::fromStdString((Dir / "Config.txt").string()));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  QDomDocument document;
  EXPECT_TRUE(document.setContent(&file));
  return document.documentElement();
}

// Selects the drive row of Letter and presses Start.
void StartScan(TWindowFixture& F, char Letter) {
  auto* drives = F.Find<QTreeWidget>("lvWizardDrives");
  for (int i = 0; i < drives->topLevelItemCount(); ++i)
    if (drives->topLevelItem(i)->data(0, Qt::UserRole).toChar() == QChar::fromLatin1(Letter))
      drives->setCurrentItem(drives->topLevelItem(i));
  F.Find<QPushButton>("btnStartScan")->click();
}

TEST(SingleInstance, SecondHolderRefusedAndDeadHolderTakenOver) {
  TTempDir dir;
  const QString folder = QString::fromStdString(dir.Path().string());
  {
    ui::TSingleInstance first(folder);
    ASSERT_TRUE(first.Acquired());
    ui::TSingleInstance second(folder);
    EXPECT_FALSE(second.Acquired());
  }
  // A lock left by a process that died is taken over at once.
  const pid_t child = fork();
  if (child == 0) {
    ui::TSingleInstance held(folder);
    _exit(held.Acquired() ? 0 : 1);  // ends without unlocking
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(QFile::exists(folder + QStringLiteral("/KestrinePro.lock")));
  ui::TSingleInstance again(folder);
  EXPECT_TRUE(again.Acquired());
}

TEST(MainWindow, ShowsCaptionPagesAndMappedDrives) {
  TWindowFixture f;
  ui::TfrmOrvik& window = f.Open();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Kestrine Pro 3.0"));
  auto* pages = f.Find<QStackedWidget>("pcMain");
  EXPECT_EQ(pages->currentWidget()->objectName(), QStringLiteral("tsWizard"));
  for (const char* name : {"tsWizard", "tsAbout", "tsOptions", "tsDiskCleanup", "btnWizard", "btnAbout",
                           "btnOptions", "btnHelp", "btnDiskCleanup", "scrpnlToolbars", "lvWizardDrives",
                           "btnStartScan", "btnStopScan", "btnNextDrives", "btnRefreshDrives", "prgScanFiles",
                           "lblFilesFound", "tvFolders", "lvFiles", "splScanResults", "cboxLanguages", "cboxSkins",
                           "chkSaveFormPosition", "btnSaveOptions"})
    EXPECT_NE(window.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

  auto* drives = f.Find<QTreeWidget>("lvWizardDrives");
  ASSERT_GE(drives->topLevelItemCount(), 2);
  EXPECT_TRUE(drives->topLevelItem(0)->text(0).startsWith(QStringLiteral("D:\\ (")));
  EXPECT_EQ(drives->topLevelItem(1)->text(3), QStringLiteral("NTFS"));

  // Each page button shows its page and is the one drawn pressed; Help changes neither.
  f.Find<QPushButton>("btnAbout")->click();
  EXPECT_EQ(pages->currentWidget()->objectName(), QStringLiteral("tsAbout"));
  EXPECT_TRUE(f.Find<QPushButton>("btnAbout")->isChecked());
  EXPECT_FALSE(f.Find<QPushButton>("btnWizard")->isChecked());
  f.Find<QPushButton>("btnOptions")->click();
  EXPECT_EQ(pages->currentWidget()->objectName(), QStringLiteral("tsOptions"));
  f.Find<QPushButton>("btnDiskCleanup")->click();
  EXPECT_EQ(pages->currentWidget()->objectName(), QStringLiteral("tsDiskCleanup"));
  EXPECT_TRUE(f.Find<QPushButton>("btnDiskCleanup")->isChecked());
}

TEST(MainWindow, CloseRefusedWhileScanningThenAllowed) {
  TWindowFixture f;
  f.Open();
  // Models are checked for consistency while a scan fills them.
  QAbstractItemModelTester treeTester(f.Find<QTreeView>("tvFolders")->model());
  QAbstractItemModelTester listTester(f.Find<QTreeView>("lvFiles")->model());
  StartScan(f, 'e');
  // The scan's end waits for the window, so it is still running here.
  ASSERT_TRUE(f.Window().Wizard().Scanning());
  EXPECT_FALSE(f.Find<QWidget>("scrpnlToolbars")->isEnabled());
  EXPECT_FALSE(f.Close());
  ASSERT_FALSE(f.Dialogs.Shown.isEmpty());
  EXPECT_EQ(f.Dialogs.Shown.last(), QStringLiteral("info: Please press Stop button to Stop the Scanning Process"));
  EXPECT_TRUE(f.Window().isVisible());

  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().Wizard().Scanning(); }));
  EXPECT_TRUE(f.Find<QWidget>("scrpnlToolbars")->isEnabled());
  auto* found = f.Find<QLabel>("lblFilesFound");
  EXPECT_TRUE(found->isVisible());
  const int files = f.Core->Manager().FindDisk('e')->Files.Count();
  EXPECT_GT(files, 0);
  EXPECT_EQ(found->text(), QStringLiteral("Found: %1 file(s)").arg(QLocale::system().toString(files)));
  EXPECT_TRUE(f.Close());
}

TEST(MainWindow, ClosingWhileAWipeRunsAsksThenCancelsItAndWaits) {
  TTempDir tree;
  // Large enough to be still wiping when the window is closed; only its first MiB takes room.
  const std::filesystem::path big = tree / "big.tmp";
  WriteFile(big, std::vector<std::uint8_t>(1u << 20, 0x41));
  ASSERT_EQ(::truncate(big.c_str(), 2048LL << 20), 0);
  TWindowFixture f({"fat16.img.xz"}, {tree.Path().string()});
  f.Open();
  f.Find<QPushButton>("btnDiskCleanup")->click();
  f.Find<QTreeWidget>("lvDiskCleanupDrives")->topLevelItem(0)->setCheckState(0, Qt::Checked);
  f.Find<QPushButton>("btnNextDiskCleanupDrives")->click();
  f.Find<QPushButton>("btnDiskCleanupStart")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().DiskCleanup().Searching(); }));
  QAbstractItemModel* results = f.Find<QTreeView>("lvDiskCleanupScanResults")->model();
  ASSERT_EQ(results->rowCount(), 1);
  results->setData(results->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  f.Find<QPushButton>("btnDiskCleanupScanResultsWipe")->click();
  const auto firstByte = [&] {
    std::ifstream in(big, std::ios::binary);
    return in.get();
  };
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return firstByte() != 0x41; }));
  ASSERT_TRUE(f.Window().DiskCleanup().Wiping());

  f.Dialogs.Answer = false;
  EXPECT_FALSE(f.Close());
  EXPECT_EQ(f.Dialogs.Shown.last(), QStringLiteral("confirm: A wipe is still running. Cancel it and close? The file being "
                                                   "wiped is kept, partly overwritten and not deleted."));
  EXPECT_TRUE(f.Window().DiskCleanup().Wiping());
  f.Dialogs.Answer = true;
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(f.Window().DiskCleanup().Wiping());
  EXPECT_EQ(std::filesystem::file_size(big), 2048u << 20);
}

TEST(MainWindow, StopRightAfterStartStillEndsTheScan) {
  TWindowFixture f;
  f.Open();
  StartScan(f, 'd');
  f.Find<QPushButton>("btnStopScan")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().Wizard().Scanning(); }));
  EXPECT_TRUE(f.Find<QLabel>("lblFilesFound")->isVisible());
  EXPECT_TRUE(f.Find<QPushButton>("btnNextDrives")->isEnabled());
  EXPECT_FALSE(f.Find<QPushButton>("btnStopScan")->isEnabled());
  EXPECT_TRUE(f.Dialogs.Shown.last().startsWith(QStringLiteral("info: ")));
}

TEST(MainWindow, ADriveWithoutAFileSystemEndsItsScanAtOnce) {
  TTempDir blank;
  WriteFile(blank / "zeros.img", std::vector<std::uint8_t>(1 << 20));
  TWindowFixture f({(blank / "zeros.img").string()});
  f.Open();
  StartScan(f, 'd');
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !f.Window().Wizard().Scanning(); }));
  EXPECT_EQ(f.Find<QLabel>("lblFilesFound")->text(), QStringLiteral("Found: 0 file(s)"));
  EXPECT_EQ(f.Dialogs.Shown.last(), QStringLiteral("error: D:\\ holds no FAT, exFAT or NTFS file system: there is nothing to scan."));
  EXPECT_TRUE(f.Find<QPushButton>("btnStartScan")->isEnabled());
  EXPECT_TRUE(f.Find<QWidget>("scrpnlToolbars")->isEnabled());
}

TEST(MainWindow, AWindowDestroyedWhileItsScanRunsEndsTheScanFirst) {
  TWindowFixture f;
  f.Open();
  StartScan(f, 'e');
  ASSERT_TRUE(f.Window().Wizard().Scanning());
  // The fixture destroys the window before the core: the scan's end must not reach a page that is gone.
}

TEST(MainWindow, StartWithoutDriveSaysSoAndStaysIdle) {
  TWindowFixture f;
  f.Open();
  f.Find<QTreeWidget>("lvWizardDrives")->setCurrentItem(nullptr);
  f.Find<QPushButton>("btnStartScan")->click();
  ASSERT_EQ(f.Dialogs.Shown.size(), 1);
  EXPECT_TRUE(f.Dialogs.Shown[0].startsWith(QStringLiteral("error: ")));
  EXPECT_FALSE(f.Window().Wizard().Scanning());
}

TEST(MainWindowSettings, FirstCloseWritesOnlyTheMasksAndNoPosition) {
  TWindowFixture f;
  f.Open();
  f.Window().move(40, 30);
  ASSERT_TRUE(f.Close());
  const QDomElement root = ConfigRoot(f.Dir);
  EXPECT_EQ(root.tagName(), QStringLiteral("Duskfern"));
  EXPECT_TRUE(root.hasAttribute(QStringLiteral("SaveFileExtensions")));
  EXPECT_FALSE(root.hasAttribute(QStringLiteral("SaveFormPosition")));
  EXPECT_FALSE(f.Settings->contains(QStringLiteral("frmOrvik_Left")));
}

TEST(MainWindowSettings, PositionSavedOnlyAfterSave) {
  TWindowFixture f;
  f.Open();
  // Ticking the box is not enough: only a stored value counts at close.
  f.Find<QCheckBox>("chkSaveFormPosition")->setChecked(true);
  ASSERT_TRUE(f.Close());
  EXPECT_FALSE(f.Settings->contains(QStringLiteral("frmOrvik_Left")));

  f.Open();
  EXPECT_TRUE(f.Find<QCheckBox>("chkSaveFormPosition")->isChecked() == false);
  f.Find<QCheckBox>("chkSaveFormPosition")->setChecked(true);
  f.Find<QPushButton>("btnSaveOptions")->click();
  EXPECT_EQ(ConfigRoot(f.Dir).attribute(QStringLiteral("SaveFormPosition")), QStringLiteral("True"));
  ASSERT_TRUE(f.Close());
  EXPECT_TRUE(f.Settings->contains(QStringLiteral("frmOrvik_Left")));
  EXPECT_TRUE(f.Settings->contains(QStringLiteral("frmOrvik_Top")));
  // The next start finds the box ticked.
  f.Open();
  EXPECT_TRUE(f.Find<QCheckBox>("chkSaveFormPosition")->isChecked());
}

}  // namespace
}  // namespace kestrine::test

namespace kestrine::test {
namespace {

// Screen readers, UI automation and our own checks find controls by their accessible names.
TEST(MainWindow, EveryControlHasAnAccessibleName) {
  TWindowFixture f;
  f.Open();
  QStringList unnamed;
  for (QWidget* w : f.Window().findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                         qobject_cast<QAbstractItemView*>(w) || qobject_cast<QProgressBar*>(w) ||
                         qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w);
    // Unnamed widgets are the inner parts of a control (a combo box's list, a view's header).
    if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QStringLiteral("qt_"))) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
      unnamed << w->metaObject()->className() + QStringLiteral(" ") + w->objectName();
  }
  EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(QStringLiteral(", ")).toStdString();
}

// Every caption the window shows in words comes from the language files, in every language shipped.
TEST(MainWindow, EveryCaptionHasALanguageKey) {
  TWindowFixture f;
  f.Open();
  for (const char* language : {"English", "German", "French"}) {
    QFile file(QString::fromStdString((TestDataDir() / "../../data/Langs").string()) + QStringLiteral("/") +
               QString::fromLatin1(language) + QStringLiteral(".txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QDomDocument document;
    ASSERT_TRUE(document.setContent(&file));
    const QDomElement root = document.documentElement();
    QStringList missing;
    const auto need = [&](const QObject* Object, const QString& Text) {
      if (Text.isEmpty() || Object->objectName().isEmpty() || Object->objectName().startsWith(QStringLiteral("qt_")))
        return;
      if (root.firstChildElement(Object->objectName()).isNull()) missing << Object->objectName();
    };
    for (const QAbstractButton* b : f.Window().findChildren<QAbstractButton*>()) need(b, b->text());
    for (const QGroupBox* g : f.Window().findChildren<QGroupBox*>()) need(g, g->title());
    for (const QAction* a : f.Window().findChildren<QAction*>()) need(a, a->text());
    // Labels too, but for the fixed texts and the values the window fills in itself.
    static const QStringList kOwnTexts = {
        QStringLiteral("lblBannerTitle"), QStringLiteral("imgWizardLogo"),    QStringLiteral("lblFilesFound"),
        QStringLiteral("lblGauge0"),      QStringLiteral("lblGauge100"),      QStringLiteral("lblProductName"),
        QStringLiteral("lblProductVersion"), QStringLiteral("lblSupport"),    QStringLiteral("lblHomepage"),
        QStringLiteral("lblDiskCleanupFoundFile"), QStringLiteral("lblDiskCleanupScanningFolder"),
        QStringLiteral("lblRecoveryProgress")};
    for (const QLabel* l : f.Window().findChildren<QLabel*>())
      if (!kOwnTexts.contains(l->objectName())) need(l, l->text());
    EXPECT_TRUE(missing.isEmpty()) << language << ": " << missing.join(QStringLiteral(", ")).toStdString();
  }
}

}  // namespace
}  // namespace kestrine::test
