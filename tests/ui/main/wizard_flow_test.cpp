// The recovery wizard end to end in the real window, over the demo volumes: scan, browse, filter,
// recover, and the files written equal what the command line reads.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <set>

#include "engine/volume/disk_object.h"
#include "tests/ui/main/window_fixture.h"
#include "ui/adapters/folder_tree_model.h"
#include "ui/adapters/result_list_model.h"
#include "ui/main/wizard_page.h"
#include "filter/filter_builder.h"
#include "workflow/item_selection.h"

namespace kestrine::test {
namespace {

class WizardFlow : public ::testing::TestWithParam<const char*> {
 protected:
  WizardFlow() : F({std::string("../../data/demo/") + GetParam()}) { F.Open(); }

  void Scan() {
    auto* drives = F.Find<QTreeWidget>("lvWizardDrives");
    drives->setCurrentItem(drives->topLevelItem(0));
    F.Find<QPushButton>("btnStartScan")->click();
    ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !F.Window().Wizard().Scanning(); }));
  }
  QTreeView* Tree() { return F.Find<QTreeView>("tvFolders"); }
  QTreeView* List() { return F.Find<QTreeView>("lvFiles"); }
  auto* TreeModel() { return static_cast<ui::TFolderTreeModel*>(Tree()->model()); }
  auto* ListModel() { return static_cast<ui::TResultListModel*>(List()->model()); }
  // Lets the views take the rows the workers counted.
  void Settle() { TWindowFixture::WaitUntil([] { return false; }, 300); }
  std::vector<PFileInfo> Rows() {
    std::vector<PFileInfo> rows;
    for (int i = 0; i < ListModel()->rowCount(); ++i) rows.push_back(ListModel()->ItemAt(i));
    return rows;
  }
  // Every folder the tree holds, depth first.
  void TreeFolders(const QModelIndex& Parent, std::set<PFileInfo>& Out) {
    for (int i = 0; i < TreeModel()->rowCount(Parent); ++i) {
      const QModelIndex index = TreeModel()->index(i, 0, Parent);
      Out.insert(TreeModel()->FolderAt(index));
      TreeFolders(index, Out);
    }
  }
  // The first folder of the tree, depth first, that Wanted accepts.
  QModelIndex FindFolder(const QModelIndex& Parent, const std::function<bool(PFileInfo)>& Wanted) {
    for (int i = 0; i < TreeModel()->rowCount(Parent); ++i) {
      const QModelIndex index = TreeModel()->index(i, 0, Parent);
      if (Wanted(TreeModel()->FolderAt(index))) return index;
      if (const QModelIndex below = FindFolder(index, Wanted); below.isValid()) return below;
    }
    return {};
  }
  std::string Sha256Of(const std::string& Command) { return RunCommand(Command + " | sha256sum").Output; }

  TWindowFixture F;
};

TEST_P(WizardFlow, ScanBrowseFilterAndRecover) {
  Scan();
  TDiskObject* disk = F.Core->Manager().FindDisk('d');
  const int found = disk->Files.Count();
  ASSERT_GT(found, 0);
  EXPECT_EQ(F.Find<QLabel>("lblFilesFound")->text(), QStringLiteral("Found: %1 file(s)").arg(QLocale::system().toString(found)));
  EXPECT_EQ(F.Dialogs.Shown.last(), QStringLiteral("info: ") + F.Window().LookupText(QStringLiteral("strPressNextToRecover")));
  EXPECT_FALSE(F.Window().LookupText(QStringLiteral("strPressNextToRecover")).isEmpty());

  F.Find<QPushButton>("btnNextDrives")->click();
  Settle();
  // A chosen folder lists its subfolders first, then its files, all of them its own.
  const QModelIndex root = TreeModel()->index(0, 0);
  Tree()->setCurrentIndex(root);
  Settle();
  const PFileInfo rootFolder = TreeModel()->FolderAt(root);
  const std::vector<PFileInfo> rows = Rows();
  ASSERT_FALSE(rows.empty());
  bool seenFile = false;
  for (PFileInfo row : rows) {
    EXPECT_EQ(row->Parent, rootFolder) << row->Name;
    EXPECT_FALSE(seenFile && row->IsFolder) << "folder after a file: " << row->Name;
    seenFile = seenFile || !row->IsFolder;
  }

  // A file row previews under its own name, by button or double click; a folder row does nothing.
  const QModelIndex withFiles = FindFolder({}, [&](PFileInfo Folder) {
    for (PFileInfo file : disk->Files.Snapshot())
      if (file->Parent == Folder) return true;
    return false;
  });
  ASSERT_TRUE(withFiles.isValid());
  Tree()->setCurrentIndex(withFiles);
  Settle();
  const std::vector<PFileInfo> inFolder = Rows();
  const auto rowOf = [&](bool Folder) {
    for (std::size_t i = 0; i < inFolder.size(); ++i)
      if (inFolder[i]->IsFolder == Folder) return static_cast<int>(i);
    return -1;
  };
  const int fileRow = rowOf(false), folderRow = rowOf(true);
  ASSERT_GE(fileRow, 0);
  List()->setCurrentIndex(ListModel()->index(fileRow, 0));
  F.Find<QPushButton>("btnPreview")->click();
  EXPECT_TRUE(F.Dialogs.Shown.last().startsWith(
      QStringLiteral("modal: Preview [%1]").arg(QString::fromStdString(inFolder[fileRow]->Name))));
  if (folderRow >= 0) {
    const int shown = F.Dialogs.Shown.size();
    emit List()->doubleClicked(ListModel()->index(folderRow, 1));
    EXPECT_EQ(F.Dialogs.Shown.size(), shown);
  }

  // The Size header sorts the rows, folders first; clicking it again reverses them.
  List()->sortByColumn(2, Qt::AscendingOrder);
  Settle();
  std::vector<PFileInfo> bySize = Rows();
  EXPECT_TRUE(std::is_sorted(bySize.begin(), bySize.end(), [](PFileInfo A, PFileInfo B) {
    return A->IsFolder != B->IsFolder ? A->IsFolder : A->Size < B->Size;
  }));
  List()->sortByColumn(2, Qt::DescendingOrder);
  Settle();
  bySize = Rows();
  EXPECT_TRUE(std::is_sorted(bySize.begin(), bySize.end(), [](PFileInfo A, PFileInfo B) {
    return A->IsFolder != B->IsFolder ? A->IsFolder : A->Size > B->Size;
  }));
  List()->sortByColumn(-1, Qt::AscendingOrder);

  // "*.txt" keeps only the folders that lead to a text file.
  TFilter text;
  text.NameMask = BuildNameMask("*.txt");
  text.Flags = qfName;
  F.Window().Wizard().ApplyFilter(text);
  Settle();
  std::set<PFileInfo> shown, wanted;
  TreeFolders({}, shown);
  int passing = 0;
  for (PFileInfo file : disk->Files.Snapshot())
    if (file->Name.ends_with(".txt") || file->Name.ends_with(".TXT")) {
      ++passing;
      for (PFileInfo f = file->Parent; f; f = f->Parent) wanted.insert(f);
    }
  EXPECT_EQ(shown, wanted);

  const QString passText = QLocale::system().toString(passing) + QStringLiteral(" pass the filter");
  EXPECT_NE(F.Find<QLabel>("lblFilesFound")->text().indexOf(passText), -1) << F.Find<QLabel>("lblFilesFound")->text().toStdString();

  // Everything found, recovered through the selection, equals what the command line reads.
  F.Window().Wizard().ApplyFilter(TFilter{});
  Settle();
  Tree()->setCurrentIndex(TreeModel()->index(0, 0));
  Settle();
  List()->selectAll();
  TTempDir out;
  F.Dialogs.Folder = QString::fromStdString(out.Path().string());
  F.Find<QPushButton>("btnRecover")->click();
  ASSERT_TRUE(TWindowFixture::WaitUntil([&] { return !F.Window().Wizard().Recovering(); }));
  ASSERT_TRUE(F.Dialogs.Shown.last().startsWith(QStringLiteral("report: ")));
  EXPECT_NE(F.Dialogs.Shown.last().indexOf(QStringLiteral("partial: 0, skipped: 0")), -1) << F.Dialogs.ReportDetails.toStdString();
  const std::string cli = std::getenv("KESTRINE_CLI");
  const std::string image = F.Core->Manager().FindDisk('d')->SourcePath;
  int compared = 0;
  for (PFileInfo file : disk->Files.Snapshot()) {
    const std::string path = ItemPath(*file);
    // Everything was chosen in the root, so each lands at its path below the destination.
    const std::filesystem::path written = out.Path() / std::filesystem::path(path).relative_path();
    if (!std::filesystem::is_regular_file(written)) continue;  // a name taken twice got " (2)"
    EXPECT_EQ(Sha256Of("cat " + ShellQuote(written.string())),
              Sha256Of(ShellQuote(cli) + " cat " + ShellQuote(image) + " " + ShellQuote(path)))
        << path;
    ++compared;
  }
  EXPECT_GT(compared, found / 2);
}

// Every file of the demo volume, found through the wizard, previews in the view its kind calls for.
TEST_P(WizardFlow, EachFilePreviewsInItsView) {
  Scan();
  F.Find<QPushButton>("btnNextDrives")->click();
  Settle();
  TDiskObject* disk = F.Core->Manager().FindDisk('d');
  int previewed = 0;
  for (PFileInfo file : disk->Files.Snapshot()) {
    const QModelIndex folder = FindFolder({}, [&](PFileInfo Folder) { return Folder == file->Parent; });
    ASSERT_TRUE(folder.isValid()) << file->Name;
    Tree()->setCurrentIndex(folder);
    Settle();
    const std::vector<PFileInfo> rows = Rows();
    const auto row = std::find(rows.begin(), rows.end(), file);
    ASSERT_NE(row, rows.end()) << file->Name;
    List()->setCurrentIndex(ListModel()->index(static_cast<int>(row - rows.begin()), 0));
    F.Find<QPushButton>("btnPreview")->click();
    const QString name = QString::fromStdString(file->Name);
    const QString lower = name.toLower();  // cameras write ".JPG"
    const QString view = lower.endsWith(QLatin1String(".html")) ? QStringLiteral("tsBrowser")
                         : lower.endsWith(QLatin1String(".jpg")) || lower.endsWith(QLatin1String(".png"))
                             ? QStringLiteral("tsImage")
                             : QStringLiteral("tsDump");
    EXPECT_EQ(F.Dialogs.Shown.last(), QStringLiteral("modal: Preview [%1] / %2").arg(name, view));
    ++previewed;
  }
  EXPECT_EQ(previewed, disk->Files.Count());
}

INSTANTIATE_TEST_SUITE_P(DemoVolumes, WizardFlow,
                         ::testing::Values("demo-fat32.img.xz", "demo-ntfs.img.xz", "demo-exfat.img.xz"),
                         [](const auto& Info) {
                           const std::string kind = std::string(Info.param).substr(5, 4);
                           return kind == "fat3" ? "Fat32" : kind == "ntfs" ? "Ntfs" : "ExFat";
                         });

}  // namespace
}  // namespace kestrine::test
