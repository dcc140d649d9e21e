#include "cleanup/findfile/find_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using Strings = std::vector<std::string>;

// The owner's thread with its queue of posted steps, as the window's message loop would be.
class TQueueOwner : public TFindFileOwner {
 public:
  void PostToOwnerThread(std::function<void()> Step) override {
    std::lock_guard lock(FMutex);
    FSteps.push_back(std::move(Step));
    FWake.notify_all();
  }
  bool ProcessOnePending() override {
    if (std::this_thread::get_id() != FThread) return false;
    std::function<void()> step;
    {
      std::lock_guard lock(FMutex);
      if (FSteps.empty()) return false;
      step = std::move(FSteps.front());
      FSteps.pop_front();
    }
    step();
    return true;
  }
  void ShowSearchError(const std::string& Message) override { Errors.push_back(Message); }
  // Runs posted steps until Done holds; false after ten seconds without it.
  bool PumpUntil(const std::function<bool()>& Done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Done()) {
      if (ProcessOnePending()) continue;
      std::unique_lock lock(FMutex);
      if (FWake.wait_until(lock, deadline) == std::cv_status::timeout && FSteps.empty()) return Done();
    }
    return true;
  }
  void Drain() {
    while (ProcessOnePending()) {
    }
  }
  Strings Errors;

 private:
  std::thread::id FThread = std::this_thread::get_id();
  std::mutex FMutex;
  std::condition_variable FWake;
  std::deque<std::function<void()>> FSteps;
};

class FindFile : public ::testing::Test {
 protected:
  // Paths ending in "/" are folders, the others empty files.
  void Make(const Strings& Paths) {
    for (const std::string& p : Paths) {
      fs::create_directories((Dir / p).parent_path());
      if (p.back() != '/') test::WriteFile(Dir / p, {});
    }
  }
  std::string Root() const { return Dir.Path().string() + "/"; }
  std::string Rel(const std::string& Path) const { return Path.substr(Root().size()); }

  // Every event as one line, with paths below the root.
  void Record(TFindFile& Finder) {
    Finder.OnSearchBegin = [this](TFindFile&) { Add("begin"); };
    Finder.OnSearchFinish = [this](TFindFile&) { Add("finish"); };
    Finder.OnSearchAbort = [this](TFindFile&) { Add("abort"); };
    Finder.OnFolderChange = [this](TFindFile&, const std::string& Folder, TFolderIgnore& Ignore) {
      Add("folder " + Rel(Folder));
      if (const auto it = Ignores.find(Rel(Folder)); it != Ignores.end()) Ignore = it->second;
    };
    Finder.OnFileMatch = [this](TFindFile&, const std::string& Folder, const TSearchRec& Rec) {
      Add("match " + Rel(Folder) + Rec.Name);
    };
  }
  void Add(const std::string& Event) {
    std::lock_guard lock(EventsMutex);
    Events.push_back(Event);
  }
  Strings Matches() const {
    Strings m;
    for (const std::string& e : Events)
      if (e.rfind("match ", 0) == 0) m.push_back(e.substr(6));
    std::sort(m.begin(), m.end());
    return m;
  }
  Strings Run(const std::string& FileName, std::uint16_t MinLevel = 0, std::uint16_t MaxLevel = 0) {
    Events.clear();
    TFindFile finder;
    Record(finder);
    finder.Criteria.Files.Location = Root();
    finder.Criteria.Files.FileName = FileName;
    finder.Criteria.Files.MinLevel = MinLevel;
    finder.Criteria.Files.MaxLevel = MaxLevel;
    finder.StartSearch();
    return Matches();
  }

  TTempDir Dir;
  std::mutex EventsMutex;
  Strings Events;
  std::map<std::string, TFolderIgnore> Ignores;
};

TEST(TargetSearch, PreparesFoldersMasksAndRecursionSigns) {
  TSearchCriteria criteria;
  criteria.Files.Included = {"/data/", "</flat/*.txt", ">/deep/x.*"};
  criteria.Files.Subfolders = false;
  criteria.Files.Location = "/a;>/b ; /a/;</data";
  criteria.Files.FileName = "*.tmp ; *.TMP;;*.log";
  criteria.Files.MinLevel = 2;
  criteria.Files.MaxLevel = 5;
  const TTargetSearch search(criteria);
  const TTargetFolderList& list = search.TargetFolders;
  ASSERT_EQ(list.Count(), 5u);
  auto expect = [&](std::size_t i, const std::string& folder, bool recursive, const Strings& masks) {
    SCOPED_TRACE(folder);
    EXPECT_EQ(list.Folder(i).Folder, folder);
    EXPECT_EQ(list.Folder(i).Subfolders, recursive);
    EXPECT_EQ(list.Folder(i).FileMasks, masks);
    EXPECT_EQ(list.Folder(i).MinLevel, 2);
    EXPECT_EQ(list.Folder(i).MaxLevel, 5);
  };
  // A folder named twice is one target: its masks accumulate and its last line sets the flags.
  expect(0, "/data/", false, {"*.*", "*.tmp", "*.log"});
  expect(1, "/flat/", false, {"*.txt"});
  expect(2, "/deep/", true, {"x.*"});
  expect(3, "/a/", false, {"*.tmp", "*.log", "*.tmp", "*.log"});
  expect(4, "/b/", true, {"*.tmp", "*.log"});
  EXPECT_EQ(list.IndexOfFolder("/b/"), 4);
  EXPECT_EQ(list.IndexOfFolder("/B/"), -1);  // paths tell case apart here
}

TEST(TargetSearch, EmptyNamesMeanEverythingAndRelativePathsTheCurrentFolder) {
  TSearchCriteria criteria;
  criteria.Files.Included = {"*.bak"};
  criteria.Files.Location = "sub/../here";
  const TTargetSearch search(criteria);
  const std::string cwd = fs::current_path().string() + "/";
  ASSERT_EQ(search.TargetFolders.Count(), 2u);
  EXPECT_EQ(search.TargetFolders.Folder(0).Folder, cwd);
  EXPECT_EQ(search.TargetFolders.Folder(0).FileMasks, Strings{"*.bak"});
  EXPECT_EQ(search.TargetFolders.Folder(1).Folder, cwd + "here/");
  EXPECT_EQ(search.TargetFolders.Folder(1).FileMasks, Strings{"*.*"});
}

TEST_F(FindFile, EventsComeInWalkOrderWithMasksLastToFirst) {
  Make({"a.tmp", "b.log", "sub/c.tmp", "sub/inner/d.log", "x.txt"});
  Run("*.tmp;*.log");
  const Strings expected = {"begin", "folder ", "match b.log", "match a.tmp", "folder sub/", "match sub/c.tmp",
                            "folder sub/inner/", "match sub/inner/d.log", "finish"};
  EXPECT_EQ(Events, expected);
}

TEST_F(FindFile, TwoMasksReportAnEntryTwiceAndFoldersFailTheAttributeTest) {
  Make({"a.tmp", "dir.tmp/"});
  EXPECT_EQ(Run("*.tmp;*.t*"), (Strings{"a.tmp", "a.tmp"}));
  TFindFile finder;
  Record(finder);
  finder.Criteria.Files.Location = Root();
  finder.Criteria.Files.FileName = "*.tmp";
  finder.Criteria.Attribute.SetAttributes({ffArchive, ffDirectory});
  Events.clear();
  finder.StartSearch();
  EXPECT_EQ(Matches(), (Strings{"a.tmp", "dir.tmp"}));
}

TEST_F(FindFile, LevelsLimitWhatIsTestedAndEntered) {
  Make({"top.tmp", "one/a.tmp", "one/two/b.tmp", "one/two/three/c.tmp"});
  EXPECT_EQ(Run("*.tmp", 0, 1), (Strings{"top.tmp"}));
  EXPECT_EQ(Run("*.tmp", 0, 2), (Strings{"one/a.tmp", "top.tmp"}));
  EXPECT_EQ(Run("*.tmp", 2, 0), (Strings{"one/a.tmp", "one/two/b.tmp", "one/two/three/c.tmp"}));
  EXPECT_EQ(Run("*.tmp", 3, 3), (Strings{"one/two/b.tmp"}));
}

TEST_F(FindFile, FolderHandlerCanSkipFilesOrBranches) {
  Make({"skip/a.tmp", "skip/kid/b.tmp", "prune/c.tmp", "prune/kid/d.tmp", "flat/e.tmp", "flat/kid/f.tmp"});
  Ignores = {{"skip/", fiJustThis}, {"prune/", fiThisAndSubfolders}, {"flat/", fiJustSubfolders}};
  EXPECT_EQ(Run("*.tmp"), (Strings{"flat/e.tmp", "skip/kid/b.tmp"}));
  EXPECT_NE(std::find(Events.begin(), Events.end(), "folder prune/"), Events.end());
  EXPECT_EQ(std::find(Events.begin(), Events.end(), "folder prune/kid/"), Events.end());
}

TEST_F(FindFile, ExclusionsApplyDuringTheWalk) {
  Make({"a.tmp", "b.bak", "Temp/c.tmp", "keep/d.tmp"});
  TFindFile finder;
  Record(finder);
  finder.Criteria.Files.Location = Root();
  finder.Criteria.Files.FileName = "*.tmp;*.bak";
  finder.Criteria.Files.Excluded = {"*.bak", "/temp/"};
  finder.StartSearch();
  EXPECT_EQ(Matches(), (Strings{"a.tmp", "keep/d.tmp"}));
}

TEST_F(FindFile, AbortFromAHandlerStopsTheSearchAtOnce) {
  Make({"a.tmp", "b.tmp", "c.tmp", "sub/d.tmp"});
  TFindFile finder;
  Record(finder);
  finder.Criteria.Files.Location = Root();
  finder.Criteria.Files.FileName = "*.tmp";
  finder.OnFileMatch = [&](TFindFile& Sender, const std::string&, const TSearchRec&) {
    Add("match");
    Sender.AbortSearch();
    Sender.AbortSearch();  // the second does nothing
  };
  finder.StartSearch();
  EXPECT_EQ(Events, (Strings{"begin", "folder ", "match", "abort", "finish"}));
  EXPECT_FALSE(finder.IsBusy());
  finder.AbortSearch();  // no search runs
  EXPECT_EQ(Events.size(), 5u);
}

TEST_F(FindFile, HandlerFailuresFinishTheSearchFirst) {
  Make({"a.tmp"});
  TFindFile finder;
  Record(finder);
  finder.Criteria.Files.Location = Root();
  finder.OnFileMatch = [](TFindFile&, const std::string&, const TSearchRec&) { throw std::runtime_error("boom"); };
  EXPECT_THROW(finder.StartSearch(), std::runtime_error);
  EXPECT_EQ(Events.back(), "finish");
  EXPECT_FALSE(finder.IsBusy());

  TQueueOwner owner;
  TFindFile threaded(&owner);
  threaded.Threaded = true;
  threaded.Criteria.Files.Location = Root();
  bool finished = false;
  threaded.OnSearchFinish = [&](TFindFile&) { finished = true; };
  threaded.OnFileMatch = finder.OnFileMatch;
  threaded.StartSearch();
  ASSERT_TRUE(owner.PumpUntil([&] { return finished; }));
  EXPECT_EQ(owner.Errors, Strings{"boom"});
}

TEST_F(FindFile, ThreadedSearchFinishesOnTheOwnersThreadAndStartsOnce) {
  Make({"a.tmp", "sub/b.tmp"});
  TQueueOwner owner;
  TFindFile finder(&owner);
  Record(finder);
  finder.Threaded = true;
  finder.ThreadPriority = tpLower;
  finder.Criteria.Files.Location = Root();
  finder.Criteria.Files.FileName = "*.tmp";
  const auto caller = std::this_thread::get_id();
  std::thread::id finishedOn;
  finder.OnSearchFinish = [&](TFindFile& Sender) {
    finishedOn = std::this_thread::get_id();
    EXPECT_TRUE(Sender.IsBusy());
    Add("finish");
  };
  finder.StartSearch();
  finder.StartSearch();
  ASSERT_TRUE(owner.PumpUntil([&] { return !finder.IsBusy(); }));
  EXPECT_EQ(finishedOn, caller);
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "begin"), 1);
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "finish"), 1);
  EXPECT_EQ(Matches(), (Strings{"a.tmp", "sub/b.tmp"}));

  TFindFile orphan;  // no owner to hand a completion to
  orphan.Threaded = true;
  orphan.Criteria.Files.Location = Root();
  EXPECT_THROW(orphan.StartSearch(), std::logic_error);
  EXPECT_FALSE(orphan.IsBusy());
}

// The handler waits for the owner's thread, as a window update marshalled with waiting would;
// the abort must keep serving that thread instead of blocking on the lock.
TEST_F(FindFile, AbortFromTheOwnersThreadWhileAHandlerWaitsForIt) {
  for (int i = 0; i < 50; ++i) Make({"f" + std::to_string(i) + ".tmp"});
  TQueueOwner owner;
  TFindFile finder(&owner);
  Record(finder);
  finder.Threaded = true;
  finder.Criteria.Files.Location = Root();
  std::promise<void> firstMatch;
  int matches = 0;
  finder.OnFileMatch = [&](TFindFile&, const std::string&, const TSearchRec&) {
    if (++matches == 1) firstMatch.set_value();
    std::promise<void> shown;
    owner.PostToOwnerThread([&] { shown.set_value(); });
    shown.get_future().wait();
    Add("match");
  };
  finder.StartSearch();
  firstMatch.get_future().wait();
  finder.AbortSearch();
  EXPECT_TRUE(finder.IsAborted());
  ASSERT_TRUE(owner.PumpUntil([&] { return !finder.IsBusy(); }));
  const auto abort = std::find(Events.begin(), Events.end(), "abort");
  ASSERT_NE(abort, Events.end());
  EXPECT_EQ(std::count(Events.begin(), Events.end(), "abort"), 1);
  EXPECT_EQ(Events.back(), "finish");
  // At most the handler call that had passed its check already follows the abort.
  EXPECT_LE(std::count(abort, Events.end(), std::string("match")), 1);
  EXPECT_LT(matches, 50);
}

TEST_F(FindFile, DestroyingARunningSearchWaitsAndRaisesNothing) {
  for (int i = 0; i < 20; ++i) Make({"d" + std::to_string(i) + "/x.tmp"});
  TQueueOwner owner;
  {
    TFindFile finder(&owner);
    Record(finder);
    finder.Threaded = true;
    finder.Criteria.Files.Location = Root();
    std::promise<void> started;
    bool once = false;
    // Folders below the first are walked but not searched: on a busy machine the walk may reach
    // one before the finder is destroyed, and a match it reports then is no fault.
    finder.OnFolderChange = [&](TFindFile&, const std::string&, TFolderIgnore& Ignore) {
      if (once) Ignore = fiJustThis;
      if (!once) started.set_value();
      once = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    finder.StartSearch();
    started.get_future().wait();
  }
  // The completion it had queued finds nothing to finish.
  owner.Drain();
  EXPECT_EQ(Events, Strings{"begin"});
}

TEST_F(FindFile, NeverFollowsLinksNorLoops) {
  Make({"real/a.tmp", "outside/secret.tmp"});
  fs::create_directory_symlink(".", Dir / "real/loop");
  fs::create_directory_symlink("..", Dir / "real/up");
  fs::create_directory_symlink(Dir / "outside", Dir / "real/out.tmp");
  fs::create_symlink(Dir / "outside/secret.tmp", Dir / "real/file.tmp");
  TFindFile finder;
  Record(finder);
  // The target the user named may be reached through a link; nothing below it is.
  fs::create_directory_symlink(Dir / "real", Dir / "named");
  finder.Criteria.Files.Location = Root() + "named";
  finder.Criteria.Files.FileName = "*";
  finder.StartSearch();
  EXPECT_EQ(Matches(), (Strings{"named/a.tmp", "named/file.tmp", "named/loop", "named/out.tmp", "named/up"}));
  EXPECT_EQ(std::count_if(Events.begin(), Events.end(), [](const std::string& e) { return e.rfind("folder", 0) == 0; }), 1);
}

TEST_F(FindFile, LinksAreReportedAsReparsePointsWithTheirOwnFacts) {
  Make({"f.tmp"});
  fs::create_symlink(Dir / "f.tmp", Dir / "l.tmp");
  ::chmod((Dir / "f.tmp").c_str(), 0444);
  TFindFile finder;
  std::map<std::string, TSearchRec> found;
  finder.Criteria.Files.Location = Root();
  finder.OnFileMatch = [&](TFindFile&, const std::string&, const TSearchRec& Rec) { found[Rec.Name] = Rec; };
  finder.StartSearch();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found["f.tmp"].Attr, SearchAttr::Archive | SearchAttr::ReadOnly);
  EXPECT_EQ(found["l.tmp"].Attr, SearchAttr::ReparsePoint);
  EXPECT_NE(found["f.tmp"].FindData.ftLastWriteTime, 0u);
}

// Another file system mounted below the target stays out of the walk; /dev with its own /dev/shm
// serves where the machine has them.
TEST(FindFileDevices, DoesNotEnterAnotherFileSystem) {
  struct stat dev {}, shm {};
  if (::stat("/dev", &dev) != 0 || ::stat("/dev/shm", &shm) != 0 || dev.st_dev == shm.st_dev)
    GTEST_SKIP() << "no separate /dev/shm here";
  TFindFile finder;
  finder.Criteria.Files.Location = "/dev";
  finder.Criteria.Files.FileName = "*";
  finder.Criteria.Files.MaxLevel = 3;
  Strings folders;
  finder.OnFolderChange = [&](TFindFile&, const std::string& Folder, TFolderIgnore&) { folders.push_back(Folder); };
  finder.StartSearch();
  EXPECT_EQ(folders.front(), "/dev/");
  for (const std::string& f : folders) EXPECT_NE(f.rfind("/dev/shm/", 0), 0u) << f;
}

}  // namespace
}  // namespace kestrine
