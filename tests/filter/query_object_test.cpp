#include "filter/query_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <deque>
#include <memory>
#include <thread>

#include "engine/volume/disk_object.h"
#include "support/file_time.h"

namespace kestrine {
namespace {

// A FILETIME for a local wall-clock time, whatever the machine's zone.
TFileTime LocalFileTime(int Y, int Mo, int D, int H, int Mi, int S, TFileTime Ticks = 0) {
  std::tm t{};
  t.tm_year = Y - 1900;
  t.tm_mon = Mo - 1;
  t.tm_mday = D;
  t.tm_hour = H;
  t.tm_min = Mi;
  t.tm_sec = S;
  t.tm_isdst = -1;
  return UnixToFileTime(std::mktime(&t)) + Ticks;
}

class QueryTest : public ::testing::Test {
 protected:
  PFileInfo Add(bool Folder, const std::string& Name, PFileInfo Parent = nullptr, std::int64_t Size = 0) {
    auto info = std::make_unique<TFileInfo>();
    info->Name = Name;
    info->Parent = Parent;
    info->Size = Size;
    info->IsFolder = Folder;
    info->Attributes = Folder ? FileAttr::Directory : FileAttr::Archive;
    info->Disk = &Disk;
    PFileInfo p = info.get();
    Owned.push_back(std::move(info));
    (Folder ? Disk.Folders : Disk.Files).Add(p);
    return p;
  }
  PFileInfo AddFile(const std::string& Name, PFileInfo Parent = nullptr, std::int64_t Size = 0) {
    return Add(false, Name, Parent, Size);
  }
  PFileInfo AddFolder(const std::string& Name, PFileInfo Parent = nullptr) { return Add(true, Name, Parent); }

  std::vector<PFileInfo> Results() const {
    std::vector<PFileInfo> r;
    for (int i = 0; i < Query.Count(); ++i) r.push_back(Query.Items(i));
    return r;
  }

  TFilter With(std::int32_t Flags) const {
    TFilter f;
    f.Flags = Flags;
    return f;
  }

  TDiskObject Disk{platform::TDriveSpec{'z', "/nonexistent/kestrine-query-test", "", platform::TDriveType::Fixed}};
  std::deque<std::unique_ptr<TFileInfo>> Owned;
  TQueryObject Query;
};

using Items = std::vector<PFileInfo>;

TEST_F(QueryTest, FolderRestrictionShowsDirectContentsFoldersFirst) {
  PFileInfo docs = AddFolder("docs");
  PFileInfo sub = AddFolder("sub", docs);
  PFileInfo top = AddFile("top.txt");
  PFileInfo inDocs = AddFile("a.txt", docs);
  AddFile("deep.txt", sub);

  Query.SetFilter(With(qfFolder));
  Query.AddDisk(&Disk);
  EXPECT_EQ(Results(), (Items{docs, top}));

  TFilter f = With(qfFolder);
  f.Folder = docs;
  Query.SetFilter(f);
  EXPECT_EQ(Results(), (Items{sub, inDocs}));

  Query.SetFilter(With(0));
  EXPECT_EQ(Query.Count(), 5);
}

TEST_F(QueryTest, AddDiskIgnoresNilAndRepeats) {
  AddFile("a");
  Query.AddDisk(nullptr);
  Query.AddDisk(&Disk);
  Query.AddDisk(&Disk);
  EXPECT_EQ(Query.Count(), 1);
  Query.ClearDisks();
  Query.SetFilter(With(qfName));
  EXPECT_EQ(Query.Count(), 0);
}

TEST_F(QueryTest, SizeComparisons) {
  for (std::int64_t size : {10239, 10240, 10241, 11263, 11264}) AddFile(std::to_string(size), nullptr, size);
  Query.AddDisk(&Disk);
  auto passing = [this](std::int32_t Compare, std::int64_t Size) {
    TFilter f = With(qfSize | Compare);
    f.Size = Size;
    Query.SetFilter(f);
    std::vector<std::string> names;
    for (PFileInfo p : Results()) names.push_back(p->Name);
    return names;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(passing(qfSizeEqual, 10240), (Names{"10240", "10241", "11263"}));
  EXPECT_EQ(passing(qfSizeGreater, 10240), (Names{"10241", "11263", "11264"}));
  EXPECT_EQ(passing(qfSizeSmaller, 10240), (Names{"10239"}));
  EXPECT_EQ(passing(0, 10240).size(), 5u);  // no comparison bit: the size test passes
  EXPECT_EQ(passing(qfSizeEqual, 0).size(), 0u);
}

TEST_F(QueryTest, FolderSizeIsItsAccumulatedSize) {
  PFileInfo folder = AddFolder("big");
  folder->Size = 50000;
  TFilter f = With(qfSize | qfSizeGreater);
  f.Size = 40000;
  Query.SetFilter(f);
  EXPECT_TRUE(Query.Matches(folder));
}

TEST_F(QueryTest, DateTestTakesCreationOrModification) {
  TFilter f = With(qfDate);
  f.DateFrom = EncodeDate({2024, 5, 10});
  f.DateTo = EncodeDate({2024, 5, 11});
  Query.SetFilter(f);
  const TFileTime outside = LocalFileTime(2020, 1, 1, 8, 0, 0);
  auto item = [&](TFileTime Created, TFileTime Modified) {
    PFileInfo p = AddFile("f");
    p->CreationTime = Created;
    p->LastWriteTime = Modified;
    return Query.Matches(p);
  };
  EXPECT_TRUE(item(LocalFileTime(2024, 5, 10, 12, 0, 0), outside));
  EXPECT_TRUE(item(LocalFileTime(2024, 5, 11, 0, 0, 0, 5000), outside));  // 0.5 ms after the end
  EXPECT_FALSE(item(LocalFileTime(2024, 5, 11, 0, 0, 0, 20000), outside));
  EXPECT_FALSE(item(LocalFileTime(2024, 5, 11, 0, 1, 0), outside));
  EXPECT_TRUE(item(LocalFileTime(2024, 5, 11, 0, 1, 0), LocalFileTime(2024, 5, 10, 23, 59, 59)));
  EXPECT_TRUE(item(outside, LocalFileTime(2024, 5, 10, 0, 0, 0)));
  EXPECT_FALSE(item(LocalFileTime(2024, 5, 9, 23, 59, 59), outside));
}

TEST_F(QueryTest, FileTimeToLocalDateTimeCutsToMilliseconds) {
  const TFileTime t = LocalFileTime(2024, 5, 10, 6, 0, 0, 12'345'678);
  const auto local = FileTimeToLocalDateTime(t);
  ASSERT_TRUE(local);
  const double expected = EncodeDateTime({2024, 5, 10}, 6, 0, 1, 234);
  EXPECT_NEAR(*local, expected, 1e-10);
}

TEST_F(QueryTest, AttributesMustAllBePresent) {
  PFileInfo readOnly = AddFile("r");
  readOnly->Attributes = FileAttr::ReadOnly;
  PFileInfo both = AddFile("rh");
  both->Attributes = FileAttr::ReadOnly | FileAttr::Hidden | FileAttr::Archive;
  TFilter f = With(qfAttributes);
  f.Attributes = FileAttr::ReadOnly | FileAttr::Hidden;
  Query.SetFilter(f);
  EXPECT_FALSE(Query.Matches(readOnly));
  EXPECT_TRUE(Query.Matches(both));
  f.Attributes = 0;
  Query.SetFilter(f);
  EXPECT_TRUE(Query.Matches(readOnly));
}

TEST_F(QueryTest, NameMaskPiecesIgnoreCase) {
  EXPECT_EQ(SplitNameMask("abc; ;;\t.*[.]txt "), (std::vector<std::string>{"abc", "", ".*[.]txt"}));
  PFileInfo folder = AddFolder("ABCD");
  PFileInfo text = AddFile("NOTES.TXT");
  PFileInfo other = AddFile("image.png");
  TFilter f = With(qfName);
  f.NameMask = "abc; ;.*[.]txt";
  Query.SetFilter(f);
  Query.AddDisk(&Disk);
  EXPECT_EQ(Results(), (Items{folder, text}));
  EXPECT_FALSE(Query.Matches(other));
}

TEST_F(QueryTest, TestsCombine) {
  PFileInfo docs = AddFolder("docs");
  PFileInfo good = AddFile("report.doc", docs, 5000);
  AddFile("report.doc", nullptr, 5000);  // wrong folder
  AddFile("report.doc", docs, 500);      // too small
  AddFile("report.txt", docs, 5000);     // wrong name
  TFilter f = With(qfFolder | qfName | qfSize | qfSizeGreater);
  f.Folder = docs;
  f.NameMask = ".*[.]doc";
  f.Size = 1024;
  Query.SetFilter(f);
  Query.AddDisk(&Disk);
  EXPECT_EQ(Results(), (Items{good}));
}

TEST_F(QueryTest, SameFilterKeepsResultsAndClearSwitchesTestsOff) {
  TFileInfo outsider;
  outsider.Name = "x";
  TFilter f = With(qfName);
  f.NameMask = ".*";
  Query.SetFilter(f);
  ASSERT_TRUE(Query.AddIfMatches(&outsider));
  Query.SetFilter(f);
  EXPECT_EQ(Results(), (Items{&outsider}));
  Query.Clear();
  EXPECT_EQ(Query.Count(), 0);
  EXPECT_EQ(Query.Filter().Flags, 0);
  EXPECT_EQ(Query.Filter().NameMask, ".*");
}

TEST_F(QueryTest, ItemsOutsideTheListAreNil) {
  AddFile("a");
  Query.AddDisk(&Disk);
  EXPECT_EQ(Query.Items(-1), nullptr);
  EXPECT_EQ(Query.Items(Query.Count()), nullptr);
  EXPECT_NE(Query.Items(0), nullptr);
  EXPECT_FALSE(Query.AddIfMatches(nullptr));
}

TEST_F(QueryTest, FolderItemsAreTheFolderOwnPassingFiles) {
  PFileInfo docs = AddFolder("docs");
  PFileInfo sub = AddFolder("sub", docs);
  PFileInfo a = AddFile("a.txt", docs);
  AddFile("b.bin", docs);
  AddFile("c.txt", sub);
  PFileInfo d = AddFile("d.txt", docs);
  TFilter f = With(qfFolder | qfName);
  f.NameMask = ".*[.]txt";
  Query.SetFilter(f);  // the tree shows the root, not docs
  EXPECT_TRUE(Query.FolderItems(docs).Snapshot().empty()) << "disk not listed yet";
  Query.AddDisk(&Disk);
  EXPECT_EQ(Query.FolderItems(docs).Snapshot(), (Items{a, d}));
  EXPECT_EQ(Query.Filter().Flags, qfFolder | qfName);
  EXPECT_TRUE(Query.MatchesInAnyFolder(a));
  EXPECT_FALSE(Query.Matches(a));
  EXPECT_TRUE(Query.FolderItems(nullptr).Snapshot().empty());
}

TEST_F(QueryTest, LateReportOfAFileTheRebuildSawIsNotListedTwice) {
  Query.AddDisk(&Disk);
  PFileInfo early = AddFile("early");
  ASSERT_TRUE(Query.AddIfMatches(early));
  // The scanner has appended "late" to the disk but not reported it yet when the filter changes.
  PFileInfo late = AddFile("late");
  Query.SetFilter(With(qfName | qfSize));
  Query.SetFilter(With(0));
  EXPECT_FALSE(Query.AddIfMatches(late));
  PFileInfo next = AddFile("next");
  EXPECT_TRUE(Query.AddIfMatches(next));
  EXPECT_EQ(Results(), (Items{early, late, next}));
}

TEST_F(QueryTest, PassingFilesCountEveryFolderOnceAndANewFolderAloneKeepsTheCount) {
  PFileInfo docs = AddFolder("docs");
  PFileInfo pics = AddFolder("pics");
  AddFile("a.txt", docs);
  AddFile("b.jpg", docs);
  AddFile("c.txt", pics);
  AddFile("top.txt");
  TFilter texts = With(qfName | qfFolder);
  texts.NameMask = ".*[.]txt";
  Query.SetFilter(texts);
  Query.AddDisk(&Disk);
  EXPECT_EQ(Query.PassingFiles(), 3);
  texts.Folder = docs;
  Query.SetFilter(texts);
  EXPECT_EQ(Query.Count(), 1);
  EXPECT_EQ(Query.PassingFiles(), 3);

  // A reported file counts whether or not its folder is shown.
  EXPECT_FALSE(Query.AddIfMatches(AddFile("d.txt", pics)));
  EXPECT_EQ(Query.PassingFiles(), 4);
  // A file a rebuild saw before its report counts once, whether the rebuild kept the count or counted
  // afresh.
  PFileInfo late = AddFile("e.txt", docs);
  texts.Folder = pics;
  Query.SetFilter(texts);
  Query.AddIfMatches(late);
  EXPECT_EQ(Query.PassingFiles(), 5);
  PFileInfo later = AddFile("f.txt", docs);
  texts.NameMask = ".*[.]txt;.*[.]jpg";
  Query.SetFilter(texts);
  Query.AddIfMatches(later);
  EXPECT_EQ(Query.PassingFiles(), 7);
  Query.Clear();
  EXPECT_EQ(Query.PassingFiles(), 0);
}

TEST_F(QueryTest, ScanningThreadAppendsWhileMainThreadReadsAndRefilters) {
  PFileInfo folder = AddFolder("dir");
  constexpr int kFiles = 20000;
  std::vector<std::unique_ptr<TFileInfo>> pending;
  for (int k = 0; k < kFiles; ++k) {
    auto info = std::make_unique<TFileInfo>();
    info->Name = std::to_string(k) + (k % 3 ? ".txt" : ".bin");
    info->Parent = k % 2 ? folder : nullptr;
    info->Disk = &Disk;
    pending.push_back(std::move(info));
  }
  TFilter inRoot = With(qfFolder | qfName);
  inRoot.NameMask = ".*[.]txt";
  TFilter inDir = inRoot;
  inDir.Folder = folder;
  Query.SetFilter(inRoot);
  Query.AddDisk(&Disk);

  std::atomic<bool> done{false};
  std::thread scanner([&] {
    for (auto& info : pending) {
      Disk.Files.Add(info.get());
      Query.AddIfMatches(info.get());
    }
    done = true;
  });
  int rounds = 0;
  bool sawNil = false;
  while (!done || rounds < 2) {
    Query.SetFilter(rounds % 2 ? inDir : inRoot);
    const int count = Query.Count();
    for (int i = 0; i < count; ++i) sawNil |= Query.Items(i) == nullptr;
    ++rounds;
  }
  scanner.join();
  EXPECT_FALSE(sawNil);

  // Whatever the interleaving, the list is exactly what a fresh rebuild gives.
  const TFilter last = Query.Filter();
  const std::vector<PFileInfo> listed = Results();
  Query.Clear();
  Query.SetFilter(last);
  EXPECT_EQ(listed, Results());
  Owned.insert(Owned.end(), std::make_move_iterator(pending.begin()), std::make_move_iterator(pending.end()));
}

struct TFakeRow : TListRow {
  void SetCaption(const std::string& Text) override { Caption = Text; }
  void SetImageIndex(int Index) override { Image = Index; }
  void SetChecked(bool Value) override { Checked = Value; }
  void AddSubItem(const std::string& Text) override { SubItems.push_back(Text); }
  void SetItem(PFileInfo Info) override { Item = Info; }
  std::string Caption = "unset";
  int Image = -1;
  bool Checked = false;
  std::vector<std::string> SubItems;
  PFileInfo Item = nullptr;
};

TEST_F(QueryTest, RowTexts) {
  Disk.FileSystem = TFileSystemKind::Fat16;
  PFileInfo file = AddFile("archive.tar.gz", nullptr, 123456789);
  file->Condition = 100;
  file->Checked = true;
  file->CreationTime = LocalFileTime(2023, 7, 1, 9, 30, 0);
  file->LastWriteTime = LocalFileTime(2024, 1, 2, 0, 0, 0);
  TFakeRow row;
  Query.FillListItem(row, file);
  EXPECT_EQ(row.Caption, "archive.tar.gz");
  EXPECT_EQ(row.Image, 0);
  EXPECT_TRUE(row.Checked);
  EXPECT_EQ(row.Item, file);
  ASSERT_EQ(row.SubItems.size(), 5u);
  EXPECT_EQ(row.SubItems[0], ".GZ");
  EXPECT_EQ(row.SubItems[1], "123456789");
  EXPECT_EQ(row.SubItems[2], "100%");
  EXPECT_EQ(row.SubItems[3], FileTimeToLocalText(file->LastWriteTime).value());
  EXPECT_EQ(row.SubItems[4], FileTimeToLocalText(file->CreationTime).value());
  EXPECT_NE(row.SubItems[3], row.SubItems[4]);

  PFileInfo folder = AddFolder("photos");
  folder->Size = 4096;
  TFakeRow folderRow;
  Query.FillListItem(folderRow, folder);
  EXPECT_EQ(folderRow.SubItems[0], "");
  EXPECT_EQ(folderRow.SubItems[1], "4096");
  EXPECT_EQ(folderRow.SubItems[2], "");

  Disk.FileSystem = TFileSystemKind::None;
  TFakeRow unknown;
  Query.FillListItem(unknown, file);
  EXPECT_EQ(unknown.SubItems[3], "");
  EXPECT_EQ(unknown.SubItems[4], "");

  TFakeRow none;
  Query.FillListItem(none, nullptr);
  EXPECT_EQ(none.Caption, "unset");
  EXPECT_TRUE(none.SubItems.empty());
}

TEST(FileTypeText, Extensions) {
  EXPECT_EQ(FileTypeText("archive.tar.gz"), ".GZ");
  EXPECT_EQ(FileTypeText("README"), "");
  EXPECT_EQ(FileTypeText("a.b:stream"), "");
  EXPECT_EQ(FileTypeText("a:b.txt"), ".TXT");
  EXPECT_EQ(FileTypeText("x."), ".");
  EXPECT_EQ(FileTypeText("menu.caf\xC3\xA9"), ".CAF\xC3\x89");  // é to É, still UTF-8
  EXPECT_EQ(FileTypeText("a.\xE6\x97\xA5"), ".\xE6\x97\xA5");    // other characters untouched
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

TEST_F(QueryTest, OrderKeepsFoldersFirstAndSurvivesRebuilds) {
  PFileInfo folder = AddFolder("zeta");
  PFileInfo small = AddFile("b.TXT", nullptr, 10);
  PFileInfo big = AddFile("A.doc", nullptr, 500);
  PFileInfo tieFirst = AddFile("c.txt", nullptr, 10);
  Query.AddDisk(&Disk);
  Query.SetFilter(With(0));

  Query.SetOrder({2, true});  // size, largest first; equal sizes keep the order found
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{folder, big, small, tieFirst}));
  Query.SetOrder({0, false});  // names without regard to case
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{folder, big, small, tieFirst}));
  Query.SetOrder({1, true});  // types: .TXT and .txt are one type
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{folder, small, tieFirst, big}));

  // A new filter rebuilds the list in the same order.
  TFilter bigOnes = With(qfSize | qfSizeGreater);
  bigOnes.Size = 5;
  Query.SetFilter(bigOnes);
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{small, tieFirst, big}));
  Query.SetOrder({});
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{small, big, tieFirst}));
}

TEST_F(QueryTest, AnOrderSortedElsewhereIsRefusedWhenTheListChangedMeanwhile) {
  PFileInfo b = AddFile("b", nullptr, 1);
  PFileInfo a = AddFile("a", nullptr, 2);
  Query.AddDisk(&Disk);
  Query.SetFilter(With(0));
  std::uint64_t version = 0;
  std::vector<PFileInfo> sorted = Query.Results(version);
  SortResults(sorted, {0, false});
  // A file that arrives while the copy is sorted would be lost by putting the copy in place.
  PFileInfo late = AddFile("c", nullptr, 3);
  ASSERT_TRUE(Query.AddIfMatches(late));
  EXPECT_FALSE(Query.PutOrdered({0, false}, sorted, version));
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{b, a, late}));

  sorted = Query.Results(version);
  SortResults(sorted, {0, false});
  ASSERT_TRUE(Query.PutOrdered({0, false}, sorted, version));
  EXPECT_EQ(Results(), (std::vector<PFileInfo>{a, b, late}));
  EXPECT_EQ(Query.Order(), (TResultOrder{0, false}));  // and it holds for the next rebuild
}

}  // namespace
}  // namespace kestrine
