// The Disk Cleanup page driven through its widgets over a generated folder tree, with the modal boxes
// answered by a fake.

#include "ui/cleanup/disk_cleanup_page.h"

#include <unistd.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "cleanup/disk_cleanup.h"
#include "cleanup/findfile/find_file.h"
#include "tests/support/test_support.h"
#include "ui/cleanup/cleanup_result_model.h"
#include "ui/shell/desktop_core.h"
#include "ui/shell/dialogs.h"

namespace kestrine::ui {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

const QString kSearchDone = QStringLiteral("Search done ! Please press Next to see the Results.");

class TFakeDialogs final : public TDialogs {
 public:
  void Information(QWidget*, const QString& Text) override { Infos << Text; }
  void Error(QWidget*, const QString& Text) override { Errors << Text; }
  bool Confirm(QWidget*, const QString&, const QString& Text) override {
    Questions << Text;
    return Answer;
  }
  bool InputText(QWidget*, const QString& Caption, const QString& Prompt, QString& Text) override {
    Inputs << (Caption + QLatin1Char('|') + Prompt + QLatin1Char('|') + Text);
    if (!Entered) return false;
    Text = *Entered;
    return true;
  }
  void OpenFolder(const QString& Path) override { Opened << Path; }

  QStringList Infos, Errors, Questions, Inputs, Opened;
  bool Answer = true;
  std::optional<QString> Entered;  // nullopt: the user cancels
};

class TFakeHost final : public TPageHost {
 public:
  const TLanguageDocument& Language() const override { return English; }
  TLanguageDocument English;
  void SetToolbarEnabled(bool Enabled) override { Toolbar.push_back(Enabled); }
  std::vector<bool> Toolbar;
};

class DiskCleanupPage : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path source = Scratch / "volume.bin";
    test::WriteFile(source, std::vector<std::uint8_t>(65536, 0));
    // Drive d is mounted on the tree; drive e has no mount point.
    Core = std::make_unique<TDesktopCore>(
        TDriveListing{{platform::TDriveSpec{'d', source.string(), Tree.Path().string(), platform::TDriveType::Fixed},
                       platform::TDriveSpec{'e', source.string(), "", platform::TDriveType::Fixed}},
                      {}});
    Page = std::make_unique<TDiskCleanupPage>(*Core, Dialogs, Host);
    Page->ShowFirstSteps();
    Model = static_cast<TCleanupResultModel*>(Widget<QTreeView>("lvDiskCleanupScanResults")->model());
    Tester = std::make_unique<QAbstractItemModelTester>(Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  }
  void TearDown() override {
    Tester.reset();
    Page.reset();
    Core.reset();
  }

  template <class T>
  T* Widget(const char* Name) const {
    T* w = Page->findChild<T*>(QString::fromLatin1(Name));
    if (!w) ADD_FAILURE() << "no widget " << Name;
    return w;
  }
  void Click(const char* Name) { Widget<QPushButton>(Name)->click(); }
  QAction* Action(const char* Name) const { return Widget<QAction>(Name); }
  bool Enabled(const char* Name) const { return Widget<QWidget>(Name)->isEnabled(); }
  QString Step() const { return Widget<QStackedWidget>("pcDiskCleanup")->currentWidget()->objectName(); }
  QString Description() const {
    return Widget<QStackedWidget>("pcDiskCleanupDescription")->currentWidget()->objectName();
  }
  void SelectMasks(std::initializer_list<int> Rows) {
    QTreeView* view = Widget<QTreeView>("lvFileExtensions");
    for (int row : Rows)
      view->selectionModel()->select(view->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  QStringList MaskRows() const { return Page->Masks(); }

  void Put(const std::string& Name, std::size_t Size = 100) {
    fs::create_directories((Tree / Name).parent_path());
    test::WriteFile(Tree / Name, std::vector<std::uint8_t>(Size, 0x41));
  }
  // Drive d checked, the options step reached with whatever masks the list holds.
  void ToOptions() {
    Widget<QTreeWidget>("lvDiskCleanupDrives")->topLevelItem(0)->setCheckState(0, Qt::Checked);
    Click("btnNextDiskCleanupDrives");
    ASSERT_EQ(Step(), QLatin1String("tsDiskCleanupOptions"));
  }
  // Wipe the checked rows, and wait for the wipe's end.
  void Wipe() {
    Click("btnDiskCleanupScanResultsWipe");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Page->Wiping(); }, 20000));
  }
  // Start, then wait for the search's end and its box.
  void Search() {
    const qsizetype boxes = Dialogs.Infos.size();
    Click("btnDiskCleanupStart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Page->Searching() && Dialogs.Infos.size() > boxes; }, 20000));
  }
  // What the component finds, in its order, searching in the caller's thread.
  std::vector<std::string> Expected(const std::vector<std::string>& Masks) const {
    std::vector<std::string> paths;
    TFindFile finder;
    SetCleanupTargets(finder.Criteria.Files, {Tree.Path().string()}, Masks);
    finder.OnFileMatch = [&](TFindFile&, const std::string& Folder, const TSearchRec& Entry) {
      paths.push_back(Folder + Entry.Name);
    };
    finder.StartSearch();
    return paths;
  }
  std::vector<std::string> ListedPaths() const {
    std::vector<std::string> paths;
    for (int i = 0; i < Model->rowCount(); ++i) paths.push_back(Model->Row(i).Match.Path());
    return paths;
  }
  int RowOf(const std::string& Name) const {
    for (int i = 0; i < Model->rowCount(); ++i)
      if (Model->Row(i).Match.Name == Name) return i;
    return -1;
  }
  QString Cell(int Row, int Column) const { return Model->index(Row, Column).data().toString(); }
  void SetChecked(int Row, bool Checked) {
    Model->setData(Model->index(Row, TCleanupResultModel::colName), Checked ? Qt::Checked : Qt::Unchecked,
                   Qt::CheckStateRole);
  }
  void Select(std::initializer_list<int> Rows) {
    QTreeView* view = Widget<QTreeView>("lvDiskCleanupScanResults");
    view->clearSelection();
    for (int row : Rows)
      view->selectionModel()->select(Model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  TTempDir Tree;
  TTempDir Scratch;
  TFakeDialogs Dialogs;
  TFakeHost Host;
  std::unique_ptr<TDesktopCore> Core;
  std::unique_ptr<TDiskCleanupPage> Page;
  TCleanupResultModel* Model = nullptr;
  std::unique_ptr<QAbstractItemModelTester> Tester;
};

TEST_F(DiskCleanupPage, DrivesStepListsEveryDriveAndOnlyAMountedOneCanBeChecked) {
  EXPECT_EQ(Step(), QLatin1String("tsDiskCleanupDrives"));
  EXPECT_EQ(Description(), QLatin1String("tsDiskCleanupDrivesDescription"));
  QTreeWidget* drives = Widget<QTreeWidget>("lvDiskCleanupDrives");
  ASSERT_EQ(drives->topLevelItemCount(), 2);
  QTreeWidgetItem* mounted = drives->topLevelItem(0);
  EXPECT_EQ(mounted->text(0), QStringLiteral("D:\\ ()"));
  EXPECT_EQ(mounted->text(4), QString::fromStdString(Tree.Path().string()));
  EXPECT_TRUE(mounted->flags() & Qt::ItemIsUserCheckable);
  QTreeWidgetItem* unmounted = drives->topLevelItem(1);
  EXPECT_EQ(unmounted->text(0), QStringLiteral("E:\\ ()"));
  EXPECT_EQ(unmounted->text(4), QStringLiteral("not mounted: cannot be searched"));
  EXPECT_FALSE(unmounted->flags() & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(unmounted->data(0, Qt::CheckStateRole).isValid());

  // Nothing checked: the language's text, and the step stays.
  Click("btnNextDiskCleanupDrives");
  EXPECT_EQ(Dialogs.Errors, QStringList{QStringLiteral("Please select a drive first.")});
  EXPECT_EQ(Step(), QLatin1String("tsDiskCleanupDrives"));

  // Refresh loses the check marks.
  mounted->setCheckState(0, Qt::Checked);
  Click("btnRefreshDiskCleanup");
  EXPECT_EQ(drives->topLevelItem(0)->checkState(0), Qt::Unchecked);

  ToOptions();
  EXPECT_EQ(Description(), QLatin1String("tsDiskCleanupOptionsDescription"));
  // Idle before the first search.
  EXPECT_TRUE(Enabled("btnDiskCleanupStart"));
  EXPECT_FALSE(Enabled("btnDiskCleanupStop"));
  EXPECT_FALSE(Enabled("btnDiskCleanupNext"));
  EXPECT_TRUE(Enabled("btnDiskCleanupBack"));
  EXPECT_TRUE(Widget<QLabel>("lblDiskCleanupFoundFile")->isHidden());
  Click("btnDiskCleanupBack");
  EXPECT_EQ(Step(), QLatin1String("tsDiskCleanupDrives"));
  EXPECT_EQ(drives->topLevelItem(0)->checkState(0), Qt::Checked);  // Back re-reads nothing
}

TEST_F(DiskCleanupPage, MaskListFillsItsDefaultsAndEditsThroughTheInputDialog) {
  ToOptions();
  QStringList defaults;
  for (const std::string& mask : DefaultCleanupMasks()) defaults << QString::fromStdString(mask);
  ASSERT_EQ(MaskRows(), defaults);
  EXPECT_EQ(MaskRows().first(), QLatin1String("*.tmp"));
  EXPECT_EQ(MaskRows().last(), QLatin1String("*.$$$"));

  // Cancel adds nothing; a confirmed mask is trimmed and goes to the top, an empty one nowhere.
  Click("btnDiskCleanupAdd");
  EXPECT_EQ(Dialogs.Inputs.last(),
            QStringLiteral("Add File Extension:|Please enter file or a part of file (*.tmp):|*."));
  EXPECT_EQ(MaskRows(), defaults);
  Dialogs.Entered = QStringLiteral("*.");
  Click("btnDiskCleanupAdd");
  EXPECT_EQ(MaskRows().first(), QLatin1String("*."));
  Dialogs.Entered = QStringLiteral(" \t*.xyz  ");
  Click("btnDiskCleanupAdd");
  EXPECT_EQ(MaskRows().first(), QLatin1String("*.xyz"));
  Dialogs.Entered = QStringLiteral("  \t");
  Click("btnDiskCleanupAdd");
  EXPECT_EQ(MaskRows().size(), 16);

  // Edit takes the first selected row and keeps what is confirmed, even empty.
  SelectMasks({3, 2});
  Dialogs.Entered = QString();
  Click("btnDiskCleanupEdit");
  EXPECT_EQ(Dialogs.Inputs.last(),
            QStringLiteral("Edit File Extension:|Please enter file or a part of file (*.tmp):|*.tmp"));
  EXPECT_EQ(MaskRows()[2], QString());
  EXPECT_EQ(MaskRows()[3], QLatin1String("*.~*"));
  Dialogs.Entered.reset();
  Click("btnDiskCleanupEdit");  // cancelled: unchanged
  EXPECT_EQ(MaskRows()[2], QString());

  // Delete removes every selected row; re-entering the step leaves the rest alone.
  Click("btnDiskCleanupDelete");
  EXPECT_EQ(MaskRows().size(), 14);
  EXPECT_FALSE(MaskRows().contains(QString()));
  EXPECT_FALSE(MaskRows().contains(QStringLiteral("*.~*")));
  Click("btnDiskCleanupBack");
  Click("btnNextDiskCleanupDrives");
  EXPECT_EQ(MaskRows().size(), 14);

  // Emptied, the list is filled again on entering; Default restores the order.
  Widget<QTreeView>("lvFileExtensions")->selectAll();
  Click("btnDiskCleanupDelete");
  EXPECT_TRUE(MaskRows().isEmpty());
  Click("btnDiskCleanupBack");
  Click("btnNextDiskCleanupDrives");
  EXPECT_EQ(MaskRows(), defaults);
  Page->AppendMasks({QStringLiteral("*.one"), QStringLiteral("*.two")});
  Click("btnDiskCleanupDefault");
  EXPECT_EQ(MaskRows(), defaults);
}

TEST_F(DiskCleanupPage, SearchListsEveryMatchInTheOrderFoundAndRestoresTheButtons) {
  Put("a.tmp", 1234);
  Put("b.BAK");
  Put("keep.txt");
  Put("sub/c.log", 0);
  Put("sub/deep/d.old");
  Put("sub/deep/keep.doc");
  for (int i = 0; i < 300; ++i) Put("many/f" + std::to_string(i) + (i % 3 ? ".chk" : ".c"));
  // Larger than 4 GiB, taking no room.
  Put("huge.tmp", 0);
  ASSERT_EQ(::truncate((Tree / "huge.tmp").c_str(), 5LL << 30), 0);
  ToOptions();

  Click("btnDiskCleanupStart");
  // The begin ran at once, on this thread.
  EXPECT_TRUE(Page->Searching());
  EXPECT_FALSE(Enabled("btnDiskCleanupStart"));
  EXPECT_TRUE(Enabled("btnDiskCleanupStop"));
  EXPECT_FALSE(Enabled("btnDiskCleanupNext"));
  EXPECT_FALSE(Enabled("btnDiskCleanupBack"));
  EXPECT_FALSE(Enabled("gbDiskCleanupFilesToSearch"));
  EXPECT_EQ(Host.Toolbar, std::vector<bool>{false});
  EXPECT_FALSE(Widget<QLabel>("lblDiskCleanupFoundFile")->isHidden());
  EXPECT_EQ(Model->rowCount(), 0);  // the list fills only when the search is over
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Page->Searching() && !Dialogs.Infos.isEmpty(); }, 20000));

  const std::vector<std::string> expected = Expected(DefaultCleanupMasks());
  ASSERT_EQ(expected.size(), 205u);
  EXPECT_EQ(ListedPaths(), expected);
  EXPECT_EQ(Widget<QLabel>("lblDiskCleanupFoundFile")->text(), QStringLiteral("Found: 205 file(s)"));
  EXPECT_EQ(Widget<QLabel>("lblDiskCleanupScanningFolder")->text(), QStringLiteral("Search done !"));
  EXPECT_EQ(Dialogs.Infos, QStringList{kSearchDone});
  EXPECT_TRUE(Enabled("btnDiskCleanupStart"));
  EXPECT_FALSE(Enabled("btnDiskCleanupStop"));
  EXPECT_TRUE(Enabled("btnDiskCleanupNext"));
  EXPECT_TRUE(Enabled("btnDiskCleanupBack"));
  EXPECT_TRUE(Enabled("gbDiskCleanupFilesToSearch"));
  EXPECT_EQ(Host.Toolbar, (std::vector<bool>{false, true}));

  const int a = RowOf("a.tmp");
  ASSERT_GE(a, 0);
  EXPECT_EQ(Cell(a, TCleanupResultModel::colFolder), QString::fromStdString(Tree.Path().string() + "/"));
  EXPECT_EQ(Cell(a, TCleanupResultModel::colType), QLatin1String(".tmp"));
  EXPECT_EQ(Cell(a, TCleanupResultModel::colSize), QLatin1String("1234"));
  EXPECT_FALSE(Cell(a, TCleanupResultModel::colModified).isEmpty());
  EXPECT_EQ(Cell(RowOf("b.BAK"), TCleanupResultModel::colType), QLatin1String(".BAK"));
  EXPECT_EQ(Cell(RowOf("huge.tmp"), TCleanupResultModel::colSize), QLatin1String("5368709120"));
  EXPECT_EQ(Model->index(a, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);

  // The next search starts afresh.
  fs::remove(Tree / "a.tmp");
  Search();
  EXPECT_EQ(Model->rowCount(), 204);
  EXPECT_EQ(Widget<QLabel>("lblDiskCleanupFoundFile")->text(), QStringLiteral("Found: 204 file(s)"));
  Click("btnDiskCleanupNext");
  EXPECT_EQ(Step(), QLatin1String("tsDiskCleanupScanResults"));
  EXPECT_EQ(Description(), QLatin1String("tsDiskCleanupScanResultsDescription"));
  Click("btnDiskCleanupScanResultsBack");
  EXPECT_EQ(Step(), QLatin1String("tsDiskCleanupOptions"));
  EXPECT_EQ(Model->rowCount(), 204);  // nothing cleared by the switches
}

TEST_F(DiskCleanupPage, StopInTheMiddleKeepsWhatWasFoundAndEndsLikeAFullSearch) {
  // Many masks that match nothing make every folder slow to search.
  for (int d = 0; d < 40; ++d)
    for (int i = 0; i < 500; ++i) Put("d" + std::to_string(d) + "/f" + std::to_string(i) + (i % 5 ? ".txt" : ".tmp"), 0);
  QStringList masks{QStringLiteral("*.tmp")};
  for (int i = 0; i < 3000; ++i) masks << QStringLiteral("*.n%1").arg(i);
  Page->AppendMasks(masks);
  ToOptions();
  const std::vector<std::string> all = Expected({"*.tmp"});
  ASSERT_EQ(all.size(), 4000u);

  Click("btnDiskCleanupStart");
  QLabel* found = Widget<QLabel>("lblDiskCleanupFoundFile");
  ASSERT_TRUE(QTest::qWaitFor([&] { return found->text() != QLatin1String("Found: 0 file(s)"); }, 20000));
  ASSERT_TRUE(Page->Searching()) << "the search ended before Stop";
  Click("btnDiskCleanupStop");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Page->Searching() && !Dialogs.Infos.isEmpty(); }, 20000));

  EXPECT_EQ(Dialogs.Infos, QStringList{kSearchDone});
  EXPECT_EQ(Widget<QLabel>("lblDiskCleanupScanningFolder")->text(), QStringLiteral("Search done !"));
  const std::vector<std::string> listed = ListedPaths();
  ASSERT_GT(listed.size(), 0u);
  ASSERT_LT(listed.size(), all.size());
  EXPECT_TRUE(std::equal(listed.begin(), listed.end(), all.begin()));
  EXPECT_EQ(found->text(), QStringLiteral("Found: %1 file(s)").arg(listed.size()));
  EXPECT_TRUE(Enabled("btnDiskCleanupStart"));
  EXPECT_FALSE(Enabled("btnDiskCleanupStop"));
  EXPECT_TRUE(Enabled("btnDiskCleanupNext"));
}

TEST_F(DiskCleanupPage, WipeAsksThenTakesTheCheckedRowsAndKeepsTheOnesItCouldNotWipe) {
  Put("a.tmp", 5000);
  Put("b.bak", 70000);
  Put("keep.old", 10);
  Put("linked.tmp", 3000);
  // A file with another name elsewhere is never overwritten.
  fs::create_hard_link(Tree / "linked.tmp", Scratch / "linked.keep");
  Page->AppendMasks({QStringLiteral("*.tmp"), QStringLiteral("*.t*"), QStringLiteral("*.bak"), QStringLiteral("*.old")});
  ToOptions();
  Search();
  ASSERT_EQ(Model->rowCount(), 6);  // a.tmp and linked.tmp twice
  // Every row but keep.old's, checked through the list's menu.
  Action("miDiskCleanupCheckAll")->trigger();
  Select({RowOf("keep.old")});
  Action("miDiskCleanupUncheckSelected")->trigger();
  for (int i = 0; i < Model->rowCount(); ++i) EXPECT_EQ(Model->Row(i).Checked, Model->Row(i).Match.Name != "keep.old");

  Dialogs.Answer = false;
  Click("btnDiskCleanupScanResultsWipe");
  ASSERT_EQ(Dialogs.Questions.size(), 1);
  EXPECT_EQ(Dialogs.Questions[0],
            QStringLiteral("Wipe 3 file(s)? Their contents are overwritten 3 times and cannot be recovered."));
  EXPECT_EQ(Model->rowCount(), 6);
  EXPECT_TRUE(fs::exists(Tree / "a.tmp"));

  Dialogs.Answer = true;
  const std::vector<std::uint8_t> linked = test::ReadFile(Tree / "linked.tmp");
  Wipe();
  EXPECT_FALSE(fs::exists(Tree / "a.tmp"));
  EXPECT_FALSE(fs::exists(Tree / "b.bak"));
  EXPECT_TRUE(fs::exists(Tree / "keep.old"));
  EXPECT_EQ(test::ReadFile(Scratch / "linked.keep"), linked);
  ASSERT_EQ(Model->rowCount(), 3);
  std::multiset<std::string> names;
  for (int i = 0; i < Model->rowCount(); ++i) {
    names.insert(Model->Row(i).Match.Name);
    const bool failed = Model->Row(i).Match.Name == "linked.tmp";
    EXPECT_EQ(Model->Row(i).Problem.empty(), !failed) << Model->Row(i).Problem;
    EXPECT_EQ(Cell(i, TCleanupResultModel::colProblem).isEmpty(), !failed);
  }
  EXPECT_EQ(names, (std::multiset<std::string>{"keep.old", "linked.tmp", "linked.tmp"}));
  EXPECT_FALSE(Widget<QTreeView>("lvDiskCleanupScanResults")->header()->isSectionHidden(TCleanupResultModel::colProblem));
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  EXPECT_TRUE(Dialogs.Errors[0].startsWith(QStringLiteral("1 file(s) could not be wiped")));
  EXPECT_TRUE(Dialogs.Errors[0].contains(QString::fromStdString((Tree / "linked.tmp").string() + ": ")));

  // With nothing checked there is nothing to ask.
  Action("miDiskCleanupUncheckAll")->trigger();
  Click("btnDiskCleanupScanResultsWipe");
  EXPECT_EQ(Dialogs.Questions.size(), 2);
  EXPECT_TRUE(Dialogs.Infos.last().startsWith(QStringLiteral("No file is checked.")));
  EXPECT_EQ(Model->rowCount(), 3);
}

TEST_F(DiskCleanupPage, StartRefusesAMaskListThatNamesNoFile) {
  Put("a.tmp");
  ToOptions();
  Widget<QTreeView>("lvFileExtensions")->selectAll();
  Click("btnDiskCleanupDelete");
  Click("btnDiskCleanupStart");
  EXPECT_EQ(Dialogs.Errors, QStringList{Host.Text(TText::strNoCleanupMasks)});
  // Masks that are empty or name a folder are no better.
  Page->AppendMasks({QStringLiteral(" ;; "), QStringLiteral("sub/*.tmp")});
  Click("btnDiskCleanupStart");
  EXPECT_EQ(Dialogs.Errors.size(), 2);
  EXPECT_FALSE(Page->Searching());
  EXPECT_TRUE(Host.Toolbar.empty());
  EXPECT_TRUE(Enabled("btnDiskCleanupStart"));
  Page->AppendMasks({QStringLiteral("*.tmp")});
  Search();
  EXPECT_EQ(ListedPaths(), std::vector<std::string>{(Tree / "a.tmp").string()});
}

TEST_F(DiskCleanupPage, CancelledWipeKeepsItsFileAndRowWhileTheWindowGoesOn) {
  // Large enough to take a while to wipe; only its first MiB takes room before the wipe.
  constexpr std::uintmax_t kBig = std::uintmax_t{2048} << 20;
  Put("a.tmp", 1000);
  Put("b.tmp", 1000);
  Put("big.tmp", 1u << 20);
  ASSERT_EQ(::truncate((Tree / "big.tmp").c_str(), kBig), 0);
  Page->AppendMasks({QStringLiteral("*.tmp")});
  ToOptions();
  Search();
  ASSERT_EQ(Model->rowCount(), 3);
  Action("miDiskCleanupCheckAll")->trigger();
  // Rows go from the bottom up: those below big's are wiped before it, those above are never begun.
  const int big = RowOf("big.tmp");
  const std::vector<std::string> listed = ListedPaths();
  const auto firstByte = [&] {
    std::ifstream in(Tree / "big.tmp", std::ios::binary);
    return in.get();
  };
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);

  Click("btnDiskCleanupScanResultsWipe");
  ASSERT_TRUE(Page->Wiping());
  EXPECT_FALSE(Widget<QWidget>("pnlDiskCleanupWipe")->isHidden());
  for (const char* name : {"lvDiskCleanupScanResults", "btnDiskCleanupScanResultsWipe", "btnDiskCleanupScanResultsDelete",
                           "btnDiskCleanupScanResultsBack"})
    EXPECT_FALSE(Enabled(name)) << name;
  EXPECT_EQ(Host.Toolbar.back(), false);
  QLabel* progress = Widget<QLabel>("lblDiskCleanupWipeProgress");
  QLabel* file = Widget<QLabel>("lblDiskCleanupWipeFile");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return file->toolTip().endsWith(QLatin1String("big.tmp")) && firstByte() != 0x41; }, 20000));
  EXPECT_TRUE(progress->text().contains(QStringLiteral(" of 3: ")));
  EXPECT_TRUE(progress->text().contains(QStringLiteral("file %1 of 3").arg(3 - big))) << progress->text().toStdString();
  EXPECT_GT(ticks, 0);  // the window ran its timers while the wipe wrote
  Click("btnDiskCleanupWipeCancel");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Page->Wiping(); }, 20000));

  EXPECT_EQ(fs::file_size(Tree / "big.tmp"), kBig);
  EXPECT_NE(firstByte(), 0x41);
  ASSERT_EQ(Model->rowCount(), big + 1);
  for (int i = 0; i < big; ++i) {
    EXPECT_EQ(ListedPaths()[static_cast<std::size_t>(i)], listed[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(Model->Row(i).Checked);
    EXPECT_TRUE(Model->Row(i).Problem.empty());
    EXPECT_EQ(test::ReadFile(listed[static_cast<std::size_t>(i)]), std::vector<std::uint8_t>(1000, 0x41));
  }
  for (std::size_t i = static_cast<std::size_t>(big) + 1; i < listed.size(); ++i) EXPECT_FALSE(fs::exists(listed[i]));
  const QString note = Cell(big, TCleanupResultModel::colProblem);
  const auto cancelledAfter = [&](int Pass) { return Host.Text(TText::strWipeCancelledRow).arg(Pass).arg(3); };
  EXPECT_TRUE(note == cancelledAfter(0) || note == cancelledAfter(1) || note == cancelledAfter(2)) << note.toStdString();
  EXPECT_FALSE(Widget<QTreeView>("lvDiskCleanupScanResults")->header()->isSectionHidden(TCleanupResultModel::colProblem));
  EXPECT_EQ(Dialogs.Infos.last(), Host.Text(TText::strWipeCancelled));
  EXPECT_TRUE(Dialogs.Errors.isEmpty());
  EXPECT_TRUE(Widget<QWidget>("pnlDiskCleanupWipe")->isHidden());
  EXPECT_TRUE(Enabled("btnDiskCleanupScanResultsWipe"));
  EXPECT_TRUE(Enabled("lvDiskCleanupScanResults"));
  EXPECT_EQ(Host.Toolbar.back(), true);
}

TEST_F(DiskCleanupPage, DeleteTakesTheFirstSelectedRowOnlyAndKeepsAFailedOne) {
  for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "d.tmp"}) Put(name);
  Page->AppendMasks({QStringLiteral("*.tmp")});
  ToOptions();
  Search();
  ASSERT_EQ(Model->rowCount(), 4);
  const std::vector<std::string> before = ListedPaths();
  SetChecked(0, true);
  Select({2, 1});

  Click("btnDiskCleanupScanResultsDelete");
  ASSERT_EQ(Dialogs.Questions.size(), 1);
  EXPECT_TRUE(Dialogs.Questions[0].contains(QString::fromStdString(fs::path(before[1]).filename().string())));
  EXPECT_FALSE(fs::exists(before[1]));
  for (std::size_t i : {0u, 2u, 3u}) EXPECT_TRUE(fs::exists(before[i])) << before[i];
  EXPECT_EQ(ListedPaths(), (std::vector<std::string>{before[0], before[2], before[3]}));
  EXPECT_TRUE(Model->Row(0).Checked);
  EXPECT_TRUE(Dialogs.Errors.isEmpty());

  // A file gone meanwhile keeps its row, with the reason.
  fs::remove(before[3]);
  Select({2});
  Click("btnDiskCleanupScanResultsDelete");
  EXPECT_EQ(Model->rowCount(), 3);
  EXPECT_FALSE(Model->Row(2).Problem.empty());
  ASSERT_EQ(Dialogs.Errors.size(), 1);
  EXPECT_TRUE(Dialogs.Errors[0].contains(QString::fromStdString(before[3])));

  // Answering no deletes nothing; no selection asks nothing.
  Dialogs.Answer = false;
  Select({0});
  Click("btnDiskCleanupScanResultsDelete");
  EXPECT_TRUE(fs::exists(before[0]));
  Select({});
  Click("btnDiskCleanupScanResultsDelete");
  EXPECT_EQ(Dialogs.Questions.size(), 3);
}

TEST_F(DiskCleanupPage, DoubleClickOpensTheFolderOfTheFirstSelectedRow) {
  Put("top.tmp");
  Put("sub/inner.tmp");
  Page->AppendMasks({QStringLiteral("*.tmp")});
  ToOptions();
  Search();
  const int inner = RowOf("inner.tmp");
  ASSERT_GE(inner, 0);
  QTreeView* view = Widget<QTreeView>("lvDiskCleanupScanResults");
  Select({});
  emit view->doubleClicked(Model->index(inner, 0));
  EXPECT_TRUE(Dialogs.Opened.isEmpty());
  Select({inner});
  emit view->doubleClicked(Model->index(inner, 0));
  EXPECT_EQ(Dialogs.Opened, QStringList{QString::fromStdString((Tree / "sub").string() + "/")});
}

}  // namespace
}  // namespace kestrine::ui
