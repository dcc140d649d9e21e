// The updating thread between a scanner's reports and the views, with fake views.

#include "workflow/updating_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <thread>

#include "engine/volume/disk_object.h"
#include "tests/support/test_support.h"
#include "workflow/main_thread_queue.h"

namespace kestrine {
namespace {

struct TFakeNode {
  TFakeNode* Parent;
  std::string Caption;
  PFileInfo Folder;
  int Image = 0;
};

class TFakeViews final : public TTreePort, public TListPort, public TGaugePort, public TMainThreadPort {
 public:
  void* AddNode(void* Parent, const std::string& Caption, PFileInfo Folder) override {
    Nodes.push_back(std::make_unique<TFakeNode>(TFakeNode{static_cast<TFakeNode*>(Parent), Caption, Folder}));
    return Nodes.back().get();
  }
  void SetNodeImage(void* Node, int Image) override { static_cast<TFakeNode*>(Node)->Image = Image; }
  void Clear() override { Nodes.clear(); }
  void SetRowCount(int Count) override { Rows = Count; }
  void Redraw() override {}
  void SetRange(int, int) override {}
  void SetPosition(int Position) override { Gauge = Position; }
  void RunAndWait(const std::function<void()>& Step) override {
    ++MainSteps;
    Step();
  }
  const TFakeNode* NodeOf(PFileInfo Folder) const {
    for (const auto& n : Nodes)
      if (n->Folder == Folder) return n.get();
    return nullptr;
  }

  std::vector<std::unique_ptr<TFakeNode>> Nodes;
  int Rows = 0;
  int Gauge = -1;
  int MainSteps = 0;
};

// A tree and a list that note every row counted before its file's folder had a node.
class TOrderCheckingViews final : public TTreePort, public TListPort {
 public:
  explicit TOrderCheckingViews(const TQueryObject& Query) : FQuery(Query) {}
  void* AddNode(void*, const std::string&, PFileInfo) override { return &Nodes.emplace_back(); }
  void SetNodeImage(void*, int) override {}
  void Clear() override { Nodes.clear(); }
  // From the scanning thread or, with a batch, from the main thread while the scanner waits.
  void SetRowCount(int Count) override {
    for (int i = Rows; i < Count; ++i)
      if (FQuery.Items(i)->Parent->TreeNode.load() == nullptr) ++RowsBeforeTheirFolder;
    Rows = Count;
  }
  void Redraw() override {}

  std::deque<int> Nodes;
  std::atomic<int> Rows{0};
  std::atomic<int> RowsBeforeTheirFolder{0};

 private:
  const TQueryObject& FQuery;
};

struct TDeletedFlag final : TFsInfo {
  bool IsDeleted() const override { return true; }
};

class UpdatingThread : public ::testing::Test {
 protected:
  UpdatingThread() {
    test::WriteFile(Dir / "fat.img", std::vector<std::uint8_t>(4096));
    Disk = std::make_unique<TDiskObject>(platform::TDriveSpec{'d', (Dir / "fat.img").string(), "", {}}, &Updating);
    Disk->FileSystem = TFileSystemKind::Fat16;  // the views only look at the kind
    Updating.SetTreeView(&Views);
    Updating.SetListView(&Views);
    Updating.SetGauge(&Views);
    Updating.SetDisk(Disk.get());
  }
  ~UpdatingThread() override {
    for (auto& item : Items) item.reset();
  }
  PFileInfo Item(const std::string& Name, PFileInfo Parent, bool Folder, std::int64_t Size = 0) {
    Items.push_back(std::make_unique<TFileInfo>());
    PFileInfo item = Items.back().get();
    item->Name = Name;
    item->Parent = Parent;
    item->IsFolder = Folder;
    item->Size = Size;
    item->Disk = Disk.get();
    (Folder ? Disk->Folders : Disk->Files).Add(item);
    return item;
  }

  test::TTempDir Dir;
  TFakeViews Views;
  TUpdatingThread Updating{Views};
  std::unique_ptr<TDiskObject> Disk;
  std::vector<std::unique_ptr<TFileInfo>> Items;
};

TEST_F(UpdatingThread, ProgressIsAPercentageAndTheEndResetsIt) {
  EXPECT_EQ(ProgressPercent(0, 0), 100);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(5'000'000'000'000, 10'000'000'000'000), 50);  // no 32-bit overflow
  Updating.ScanProgress(Disk.get(), 1, 3);
  EXPECT_EQ(Views.Gauge, 33);
  bool ended = false;
  Updating.SetOnScanFinished([&] { ended = true; });
  Updating.ScanFinished(Disk.get());
  EXPECT_EQ(Views.Gauge, 0);
  EXPECT_TRUE(ended);
}

TEST_F(UpdatingThread, ReportsOfAnotherDiskOnlyGetTheirDisk) {
  test::WriteFile(Dir / "other.img", std::vector<std::uint8_t>(4096));
  TDiskObject other(platform::TDriveSpec{'e', (Dir / "other.img").string(), "", {}});
  TFileInfo file;
  Updating.FileAdded(&other, &file);
  Updating.ScanProgress(&other, 1, 2);
  EXPECT_EQ(file.Disk, &other);
  EXPECT_EQ(Views.Rows, 0);
  EXPECT_NE(Views.Gauge, 50);
}

TEST_F(UpdatingThread, FoldersAppearUnderTheirParentsAndDeletedOnesAreMarked) {
  PFileInfo root = Item("d: ()", nullptr, true);
  PFileInfo docs = Item("Docs", root, true);
  docs->FsInfo = std::make_unique<TDeletedFlag>();
  PFileInfo early = Item("Early", docs, true);
  Updating.FolderAdded(Disk.get(), early);  // before its parent has a node: top level
  Updating.FolderAdded(Disk.get(), root);
  Updating.FolderAdded(Disk.get(), docs);
  ASSERT_EQ(Views.Nodes.size(), 3u);
  EXPECT_EQ(Views.NodeOf(early)->Parent, nullptr);
  EXPECT_EQ(Views.NodeOf(docs)->Parent, Views.NodeOf(root));
  EXPECT_EQ(Views.NodeOf(docs)->Image, 1);
  EXPECT_EQ(Views.NodeOf(root)->Image, 0);

  // The rebuilt tree puts it in its place.
  Item("a.txt", early, false, 10);
  Updating.UpdateTree();
  ASSERT_EQ(Views.Nodes.size(), 3u);
  EXPECT_EQ(Views.NodeOf(early)->Parent, Views.NodeOf(docs));
  EXPECT_EQ(Views.NodeOf(docs)->Parent, Views.NodeOf(root));
}

TEST_F(UpdatingThread, RebuiltTreeHoldsOnlyFoldersLeadingToPassingFiles) {
  PFileInfo root = Item("d: ()", nullptr, true);
  PFileInfo photos = Item("Photos", root, true);
  PFileInfo summer = Item("Summer", photos, true);
  PFileInfo letters = Item("Letters", root, true);
  Item("beach.jpg", summer, false);
  Item("note.txt", letters, false);
  TFilter filter;
  filter.NameMask = ".*[.]jpg";
  filter.Flags = qfName | qfFolder;
  Updating.Query().SetFilter(filter);
  Updating.UpdateTree();
  EXPECT_NE(Views.NodeOf(root), nullptr);
  EXPECT_NE(Views.NodeOf(photos), nullptr);
  EXPECT_NE(Views.NodeOf(summer), nullptr);
  EXPECT_EQ(Views.NodeOf(letters), nullptr);
  EXPECT_EQ(Updating.Query().Filter().Flags, qfName | qfFolder);  // the restriction comes back
}

TEST_F(UpdatingThread, ListGrowsByPassingFilesOnlyAndRowsAreFilledOnDemand) {
  PFileInfo root = Item("d: ()", nullptr, true);
  TFilter filter;
  filter.Flags = qfFolder;  // nothing selected yet: only files without a parent pass
  Updating.Query().SetFilter(filter);
  Updating.FileAdded(Disk.get(), Item("inside.txt", root, false));
  EXPECT_EQ(Views.Rows, 0);
  Updating.FileAdded(Disk.get(), Item("loose.tar.gz", nullptr, false, 42));
  EXPECT_EQ(Views.Rows, 1);

  struct TRow final : TListRow {
    std::string Caption;
    std::vector<std::string> Sub;
    PFileInfo Data = nullptr;
    void SetCaption(const std::string& T) override { Caption = T; }
    void SetImageIndex(int) override {}
    void SetChecked(bool) override {}
    void AddSubItem(const std::string& T) override { Sub.push_back(T); }
    void SetItem(PFileInfo I) override { Data = I; }
  } row, none;
  ASSERT_TRUE(Updating.ListViewData(0, row));
  EXPECT_EQ(row.Caption, "loose.tar.gz");
  ASSERT_GE(row.Sub.size(), 3u);
  EXPECT_EQ(row.Sub[0], ".GZ");
  EXPECT_EQ(row.Sub[1], "42");
  EXPECT_FALSE(Updating.ListViewData(1, none));
  EXPECT_TRUE(none.Caption.empty());
}

TEST_F(UpdatingThread, AScanOfAnotherDiskStartsWithEmptyViewsAndItsOwnFilter) {
  TFilter all;
  Updating.PrepareScan(Disk.get(), all);
  Updating.FileAdded(Disk.get(), Item("first.txt", nullptr, false));
  Updating.FolderAdded(Disk.get(), Item("d: ()", nullptr, true));
  ASSERT_EQ(Views.Rows, 1);
  ASSERT_EQ(Views.Nodes.size(), 1u);

  test::WriteFile(Dir / "other.img", std::vector<std::uint8_t>(4096));
  TDiskObject other(platform::TDriveSpec{'e', (Dir / "other.img").string(), "", {}});
  TFilter texts;
  texts.NameMask = ".*[.]txt";
  texts.Flags = qfName;
  Updating.PrepareScan(&other, texts);
  EXPECT_EQ(Views.Rows, 0);
  EXPECT_TRUE(Views.Nodes.empty());
  EXPECT_EQ(Updating.Query().Count(), 0);
  EXPECT_EQ(Updating.Query().Filter().NameMask, ".*[.]txt");
  // The earlier disk's late reports are not shown; the new disk's passing files are.
  Updating.FileAdded(Disk.get(), Item("late.txt", nullptr, false));
  TFileInfo picture, text;
  picture.Name = "a.jpg";
  text.Name = "b.txt";
  Updating.FileAdded(&other, &picture);
  Updating.FileAdded(&other, &text);
  EXPECT_EQ(Views.Rows, 1);
  EXPECT_EQ(Updating.Query().Items(0), &text);
}

TEST_F(UpdatingThread, FileReportsFromAScanningThreadWhileRowsAreRead) {
  TFilter filter;
  Updating.Query().SetFilter(filter);
  constexpr int kFiles = 2000;
  for (int i = 0; i < kFiles; ++i) Item("f" + std::to_string(i), nullptr, false);
  std::thread scanner([&] {
    for (int i = 0; i < kFiles; ++i) Updating.FileAdded(Disk.get(), Disk->Files.Items(i));
  });
  int seen = 0;
  while (seen < kFiles) {
    const int count = Updating.Query().Count();
    for (int i = seen; i < count; ++i) ASSERT_NE(Updating.Query().Items(i), nullptr);
    seen = count;
  }
  scanner.join();
  EXPECT_EQ(Updating.Query().Count(), kFiles);
}

TEST_F(UpdatingThread, FoldersComeInBatchesBeforeTheirRowsAndBeforeTheEnd) {
  TMainThreadQueue port;  // this thread runs its steps
  std::atomic<int> steps{0};
  port.SetOnQueued([&] { ++steps; });
  TUpdatingThread updating(port);
  TOrderCheckingViews views(updating.Query());
  updating.SetTreeView(&views);
  updating.SetListView(&views);
  updating.PrepareScan(Disk.get(), TFilter{});  // no folder restriction: every file is a row
  constexpr int kFolders = 2000;
  std::vector<std::pair<PFileInfo, PFileInfo>> found;
  for (int i = 0; i < kFolders; ++i) {
    PFileInfo folder = Item("dir" + std::to_string(i), nullptr, true);
    found.emplace_back(folder, Item("file.txt", folder, false));
  }
  bool ended = false;
  std::size_t nodesAtTheEnd = 0;
  updating.SetOnScanFinished([&] {
    ended = true;
    nodesAtTheEnd = views.Nodes.size();
  });
  std::thread scanner([&] {
    for (const auto& [folder, file] : found) {
      updating.FolderAdded(Disk.get(), folder);
      updating.FileAdded(Disk.get(), file);
    }
    updating.ScanFinished(Disk.get());
  });
  while (!ended) port.ProcessQueued(std::chrono::milliseconds(10));
  scanner.join();
  EXPECT_EQ(views.RowsBeforeTheirFolder, 0);
  EXPECT_EQ(views.Rows, kFolders);
  EXPECT_EQ(nodesAtTheEnd, static_cast<std::size_t>(kFolders)) << "the end comes after the last batch";
  EXPECT_LT(steps, kFolders / 10) << "the scanner waits once a batch, not once a folder";
}

}  // namespace
}  // namespace kestrine
