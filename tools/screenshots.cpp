// Grabs every page of the window under every shipped language and skin, for a person to look at.
//   kestrine-screenshots OUTDIR   (from any folder: Langs/ and Skins/ lie beside it; drives from
//                                  KESTRINE_DRIVES; the first mapped drive is scanned for the results)
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <functional>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

#include "engine/volume/disk_list.h"
#include "settings/language_files.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"
#include "ui/main/main_window.h"
#include "ui/main/wizard_page.h"
#include "engine/volume/disk_object.h"
#include "ui/adapters/folder_tree_model.h"
#include "ui/adapters/result_list_model.h"
#include "ui/cleanup/disk_cleanup_page.h"

namespace {

using namespace kestrine::ui;

void Settle(int Milliseconds = 150);

// Boxes would stop the run; they are printed instead, and our own windows are grabbed.
class TPrintedDialogs final : public TDialogs {
 public:
  QString NextShot;  // where ShowModal saves the window it is given
  bool Answer = false;
  void ShowModal(QDialog& Dialog) override {
    Dialog.show();
    Settle(400);
    if (!NextShot.isEmpty()) Dialog.grab().save(NextShot);
    std::printf("%s\n", qPrintable(NextShot));
    Dialog.hide();
  }
  void Information(QWidget*, const QString& Text) override { std::printf("  box: %s\n", qPrintable(Text)); }
  void Error(QWidget*, const QString& Text) override { std::printf("  error box: %s\n", qPrintable(Text)); }
  bool Confirm(QWidget*, const QString&, const QString&) override { return Answer; }
  QString SelectFolder(QWidget*, const QString&) override { return {}; }
  QString OpenFile(QWidget*, const QString&, const QString&) override { return {}; }
};

void Settle(int Milliseconds) {
  // An event loop, not a sleep: a scan's steps are run the moment they are posted.
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

class TShooter {
 public:
  TShooter(TfrmOrvik& Window, QString Prefix) : FWindow(Window), FPrefix(std::move(Prefix)) {}

  void Shoot(const QString& Page) {
    Settle();
    const QString file = FPrefix + QStringLiteral("-") + Page + QStringLiteral(".png");
    FWindow.grab().save(file);
    std::printf("%s\n", qPrintable(file));
  }
  void Click(const char* Name) {
    if (auto* button = FWindow.findChild<QAbstractButton*>(QString::fromLatin1(Name))) button->click();
  }
  void ShowStep(const char* Pages, const char* Descriptions, int Index) {
    for (const char* name : {Pages, Descriptions})
      if (auto* stack = FWindow.findChild<QStackedWidget*>(QString::fromLatin1(name))) stack->setCurrentIndex(Index);
  }
  // The first drive with a file system, or the drive Wanted; Progress, when given, is shot once while
  // the scan runs.
  void ScanFirstDrive(TDesktopCore& Core, char Wanted = 0, const QString& Progress = {}) {
    auto* drives = FWindow.findChild<QTreeWidget*>(QStringLiteral("lvWizardDrives"));
    for (int i = 0; i < drives->topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = drives->topLevelItem(i);
      const QVariant letter = row->data(0, Qt::UserRole);
      const kestrine::TDiskObject* disk = letter.isValid() ? Core.Manager().FindDisk(letter.toChar().toLatin1()) : nullptr;
      if (!disk || (Wanted ? disk->Letter != Wanted : !disk->Scanner)) continue;
      drives->setCurrentItem(row);
      break;
    }
    Click("btnStartScan");
    QElapsedTimer timer;
    timer.start();
    auto* gauge = FWindow.findChild<QProgressBar*>(QStringLiteral("prgScanFiles"));
    QString pending = Progress;
    while (FWindow.Wizard().Scanning() && timer.elapsed() < 300000) {
      QApplication::processEvents();
      if (!pending.isEmpty() && gauge->value() > 30) {
        FWindow.grab().save(FPrefix + QStringLiteral("-") + pending + QStringLiteral(".png"));
        pending.clear();
      }
      Settle(10);
    }
    std::printf("  scan: %.2f s\n", timer.elapsed() / 1000.0);
  }
  // Previews the first file of each kind the scanned disk holds, one shot per view.
  void PreviewKinds(TPrintedDialogs& Dialogs, TDesktopCore& Core) {
    auto* tree = FWindow.findChild<QTreeView*>(QStringLiteral("tvFolders"));
    auto* list = FWindow.findChild<QTreeView*>(QStringLiteral("lvFiles"));
    auto* model = static_cast<TResultListModel*>(list->model());
    const kestrine::TDiskObject* disk = Core.Manager().FindDisk(FWindow.Wizard().DriveLetter());
    if (!disk) return;
    for (const char* kind : {".html", ".jpg", ".png", ".txt", ".pdf"}) {
      for (const kestrine::PFileInfo file : disk->Files.Snapshot()) {
        if (!QString::fromStdString(file->Name).endsWith(QLatin1String(kind), Qt::CaseInsensitive)) continue;
        const QModelIndex folder = FindFolder(tree->model(), {}, file->Parent);
        if (!folder.isValid()) break;
        tree->setCurrentIndex(folder);
        Settle(300);
        for (int row = 0; row < model->rowCount(); ++row)
          if (model->ItemAt(row) == file) list->setCurrentIndex(model->index(row, 0));
        Dialogs.NextShot = FPrefix + QStringLiteral("-9-preview") + QString::fromLatin1(kind) + QStringLiteral(".png");
        Click("btnPreview");
        Dialogs.NextShot.clear();
        break;
      }
    }
  }
  static QModelIndex FindFolder(QAbstractItemModel* Model, const QModelIndex& Parent, kestrine::PFileInfo Folder) {
    auto* tree = static_cast<TFolderTreeModel*>(Model);
    for (int i = 0; i < tree->rowCount(Parent); ++i) {
      const QModelIndex index = tree->index(i, 0, Parent);
      if (tree->FolderAt(index) == Folder) return index;
      if (const QModelIndex below = FindFolder(Model, index, Folder); below.isValid()) return below;
    }
    return {};
  }

  // A dialog of the window, shown without its own event loop, with Prepare run on it first.
  void ShootDialog(const char* Name, const QString& Page, const std::function<void(QDialog&)>& Prepare = {}) {
    auto* dialog = FWindow.findChild<QDialog*>(QString::fromLatin1(Name));
    if (!dialog) return;
    dialog->show();
    if (Prepare) Prepare(*dialog);
    Settle(300);
    const QString file = FPrefix + QStringLiteral("-") + Page + QStringLiteral(".png");
    dialog->grab().save(file);
    std::printf("%s\n", qPrintable(file));
    dialog->hide();
  }

  // Every folder open, and the first one whose name starts with Name chosen.
  void SelectFolderNamed(const QString& Name) {
    auto* tree = FWindow.findChild<QTreeView*>(QStringLiteral("tvFolders"));
    Settle(300);
    tree->expandAll();
    std::function<QModelIndex(const QModelIndex&)> find = [&](const QModelIndex& Parent) -> QModelIndex {
      for (int i = 0; i < tree->model()->rowCount(Parent); ++i) {
        const QModelIndex index = tree->model()->index(i, 0, Parent);
        if (index.data().toString().startsWith(Name)) return index;
        if (const QModelIndex below = find(index); below.isValid()) return below;
      }
      return {};
    };
    if (const QModelIndex found = find({}); found.isValid()) tree->setCurrentIndex(found);
  }

  void SelectFirstFolder() {
    auto* tree = FWindow.findChild<QTreeView*>(QStringLiteral("tvFolders"));
    Settle(300);
    tree->expandToDepth(1);
    const QModelIndex root = tree->model()->index(0, 0);
    const QModelIndex child = tree->model()->index(0, 0, root);
    tree->setCurrentIndex(child.isValid() ? child : root);
  }

 private:
  TfrmOrvik& FWindow;
  QString FPrefix;
};

void ShootAll(TDesktopCore& Core, const QString& Out, const QString& Language, const QString& Skin) {
  QTemporaryDir user;
  QSettings settings(user.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
  settings.setValue(QStringLiteral("Lang"), Language);
  settings.setValue(QStringLiteral("Skin"), Skin);
  TPrintedDialogs dialogs;
  TfrmOrvik window(Core, settings, dialogs);
  window.show();
  TShooter shoot(window, QDir(Out).filePath(Language + QStringLiteral("-") + Skin));
  shoot.Shoot(QStringLiteral("1-wizard-drives"));
  shoot.ScanFirstDrive(Core);
  shoot.Shoot(QStringLiteral("2-wizard-scanned"));
  shoot.Click("btnNextDrives");
  shoot.SelectFirstFolder();
  shoot.Shoot(QStringLiteral("3-wizard-results"));
  shoot.ShootDialog("frmSearchFilters", QStringLiteral("3-filter"));
  shoot.ShootDialog("frmSearchFilters", QStringLiteral("3-filter-advanced"), [](QDialog& Dialog) {
    if (auto* advanced = Dialog.findChild<QPushButton*>(QStringLiteral("btnAdvanced"))) advanced->click();
  });
  if (Language == QStringLiteral("English")) shoot.PreviewKinds(dialogs, Core);
  shoot.Click("btnAbout");
  shoot.Shoot(QStringLiteral("4-about"));
  shoot.Click("btnOptions");
  shoot.Shoot(QStringLiteral("5-options"));
  shoot.Click("btnDiskCleanup");
  shoot.Shoot(QStringLiteral("6-cleanup-drives"));
  shoot.ShowStep("pcDiskCleanup", "pcDiskCleanupDescription", 1);
  shoot.Shoot(QStringLiteral("7-cleanup-options"));
  shoot.ShowStep("pcDiskCleanup", "pcDiskCleanupDescription", 2);
  shoot.Shoot(QStringLiteral("8-cleanup-results"));
  // Nothing of the run is kept: the window's settings file stays in the scratch folder.
  window.Config().Save();
}

// A deep scan of a card whose first MiB was zeroed (no file system left): its progress, then the
// lost folders and the files found by their contents in the tree.
void ShootDeepScan(TDesktopCore& Core, const QString& Out) {
  QTemporaryDir user;
  QSettings settings(user.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
  settings.setValue(QStringLiteral("Lang"), QStringLiteral("English"));
  settings.setValue(QStringLiteral("DeepScan"), true);
  TPrintedDialogs dialogs;
  TfrmOrvik window(Core, settings, dialogs);
  window.show();
  TShooter shoot(window, QDir(Out).filePath(QStringLiteral("English-deep")));
  shoot.ScanFirstDrive(Core, 'g', QStringLiteral("1-scanning"));
  shoot.Shoot(QStringLiteral("2-scanned"));
  shoot.Click("btnNextDrives");
  shoot.SelectFolderNamed(QStringLiteral("JPEG"));
  shoot.Shoot(QStringLiteral("3-results"));
  shoot.SelectFolderNamed(QStringLiteral("$Lost folders"));
  shoot.SelectFolderNamed(QStringLiteral("1"));
  shoot.Shoot(QStringLiteral("4-lost-folder"));
  window.Config().Save();
}

// A wipe of a large file caught while it runs, then cancelled. The drive is a scratch folder on a
// memory file system standing in for a mounted volume, so nothing of the machine is wiped.
void ShootWipe(const QString& Out, const QString& Language, const QString& Skin) {
  QTemporaryDir folder(QStringLiteral("/dev/shm/kestrine-wipe-XXXXXX"));
  const QString source = folder.filePath(QStringLiteral("volume.bin"));
  const QString big = folder.filePath(QStringLiteral("files/holiday-video-backup.tmp"));
  QDir().mkpath(folder.filePath(QStringLiteral("files")));
  for (const QString& name : {source, folder.filePath(QStringLiteral("files/setup.log")), big}) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(name == big ? (2LL << 30) : 65536)) return;
  }
  kestrine::TDriveListing listing;
  listing.Drives.push_back(kestrine::platform::TDriveSpec{'w', source.toStdString(),
                                                          folder.filePath(QStringLiteral("files")).toStdString(),
                                                          kestrine::platform::TDriveType::Fixed});
  TDesktopCore core(listing);
  QTemporaryDir user;
  QSettings settings(user.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
  settings.setValue(QStringLiteral("Lang"), Language);
  settings.setValue(QStringLiteral("Skin"), Skin);
  TPrintedDialogs dialogs;
  dialogs.Answer = true;
  TfrmOrvik window(core, settings, dialogs);
  window.show();
  TShooter shoot(window, QDir(Out).filePath(Language + QStringLiteral("-") + Skin));
  shoot.Click("btnDiskCleanup");
  auto* drives = window.findChild<QTreeWidget*>(QStringLiteral("lvDiskCleanupDrives"));
  if (!drives || drives->topLevelItemCount() == 0) return;
  drives->topLevelItem(0)->setCheckState(0, Qt::Checked);
  shoot.Click("btnNextDiskCleanupDrives");
  shoot.Click("btnDiskCleanupStart");
  while (window.DiskCleanup().Searching()) Settle(50);
  shoot.Click("btnDiskCleanupNext");
  auto* results = window.findChild<QTreeView*>(QStringLiteral("lvDiskCleanupScanResults"));
  for (int row = 0; row < results->model()->rowCount(); ++row)
    results->model()->setData(results->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
  shoot.Click("btnDiskCleanupScanResultsWipe");
  Settle(1200);
  shoot.Shoot(QStringLiteral("10-cleanup-wiping"));
  shoot.Click("btnDiskCleanupWipeCancel");
  while (window.DiskCleanup().Wiping()) Settle(50);
  shoot.Shoot(QStringLiteral("11-cleanup-wipe-cancelled"));
  window.Config().Save();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrine-screenshots OUTDIR\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(out);
  const QString langs = QDir(kestrine::LangsFolder()).absolutePath();
  const QString skins = QDir(kestrine::SkinsFolder()).absolutePath();
  const QStringList languages = kestrine::ListLanguages();
  QStringList skinNames = kestrine::ListSkins();
  // The settings file the window writes goes to a scratch folder, not beside the program.
  QTemporaryDir scratch;
  for (const QString& name : {QStringLiteral("Langs"), QStringLiteral("Skins")})
    QFile::link(name == QStringLiteral("Langs") ? langs : skins, scratch.filePath(name));
  QDir::setCurrent(scratch.path());
  TDesktopCore core(kestrine::ListLocalDrives());
  for (const QString& language : languages)
    for (const QString& skin : skinNames) {
      ShootAll(core, out, language, skin);
      ShootWipe(out, language, skin);
    }
  ShootDeepScan(core, out);
  return 0;
}
