// Scans and recoveries whose end cannot hang the main thread: a main-thread port that queues steps
// until the test's main thread runs them (or never does), and owners that stop, wait and go while
// the worker waits on that thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "engine/volume/disk_object.h"
#include "engine/volume/recovery_manager.h"
#include "tests/support/test_support.h"
#include "workflow/item_selection.h"
#include "workflow/job_control.h"
#include "workflow/main_thread_queue.h"
#include "workflow/updating_thread.h"
#include "workflow/workflow.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Body runs on a thread of its own, which is the main thread of the ports it makes. A body still
// running after 20 s hangs, and nothing after it could run: the process ends there.
void Bounded(const std::function<void()>& Body) {
  auto run = std::async(std::launch::async, Body);
  if (run.wait_for(20s) != std::future_status::ready) {
    std::fprintf(stderr, "the test body hung: giving up\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  run.get();
}

// Waits, without running queued steps, until Condition holds; false after 10 s.
bool WaitUntil(const std::function<bool()>& Condition) {
  for (int i = 0; i < 1000; ++i) {
    if (Condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return Condition();
}

class TCountingTree final : public TTreePort {
 public:
  TNode AddNode(TNode, const std::string&, PFileInfo) override {
    FNodes.push_back(std::make_unique<int>(0));
    return FNodes.back().get();
  }
  void SetNodeImage(TNode, int) override {}
  void Clear() override { FNodes.clear(); }
  std::size_t Count() const { return FNodes.size(); }

 private:
  std::vector<std::unique_ptr<int>> FNodes;
};

TEST(MainThreadQueue, WorkerStepsWaitForTheMainThreadAndRunThereInOrder) {
  Bounded([] {
    TMainThreadQueue port;
    const auto main = std::this_thread::get_id();
    bool atOnce = false;
    port.RunAndWait([&] { atOnce = std::this_thread::get_id() == main; });
    EXPECT_TRUE(atOnce) << "a step of the main thread runs at once";

    std::vector<int> order;
    std::atomic<int> woken{0};
    port.SetOnQueued([&] { ++woken; });
    std::thread worker([&] {
      EXPECT_FALSE(port.ProcessQueued(0ms)) << "only the main thread runs steps";
      for (int i = 0; i < 3; ++i)
        port.RunAndWait([&, i] {
          EXPECT_EQ(std::this_thread::get_id(), main);
          order.push_back(i);
        });
    });
    while (order.size() < 3) EXPECT_TRUE(port.ProcessQueued(10ms));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(woken, 3);
  });
}

TEST(MainThreadQueue, ClosingReleasesTheWaitingWorkerAndDropsEveryStep) {
  Bounded([] {
    TMainThreadQueue port;
    std::atomic<int> ran{0};
    std::thread worker([&] {
      port.RunAndWait([&] { ++ran; });  // nobody pumps: only the close releases it
      port.RunAndWait([&] { ++ran; });  // after the close: dropped at once
    });
    ASSERT_TRUE(WaitUntil([&] { return port.Pending() == 1; }));
    port.Close();
    worker.join();
    EXPECT_TRUE(port.Closed());
    EXPECT_TRUE(port.ProcessQueued(0ms));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(port.Pending(), 0u);
  });
}

// A job that ends only when told to stop, or when the test ends it.
class TFakeJob final : public TWorkerThread {
 public:
  void Start() override {}
  void WaitFor() override { ++Waits; }
  bool Finished() const override { return Ended; }
  void Terminate() override {
    ++Terminations;
    Ended = true;
  }
  void SetOnFinished(std::function<void()>) override {}
  std::atomic<bool> Ended{false};
  std::atomic<int> Terminations{0};
  int Waits = 0;
};

TEST(WaitForJob, AStopRaisedElsewhereTerminatesTheJobOnceAndTheWaitEndsWithIt) {
  Bounded([] {
    TFakeJob job;
    TStopRequest stop;
    int ticks = 0;
    std::thread raiser([&] {
      std::this_thread::sleep_for(50ms);
      stop.Request();
      stop.Request();  // pressed twice
    });
    WaitForJob(job, nullptr, &stop, [&] { ++ticks; }, 10ms);
    raiser.join();
    EXPECT_EQ(job.Terminations, 1);
    EXPECT_EQ(job.Waits, 1) << "the thread is joined after its end";
    EXPECT_GE(ticks, 2) << "progress is drawn at once and then again";

    // A job that ends by itself is never told to stop; a stale request is cleared before the next.
    TFakeJob own;
    stop.Reset();
    std::thread ender([&] {
      std::this_thread::sleep_for(30ms);
      own.Ended = true;
    });
    TMainThreadQueue port;
    WaitForJob(own, &port, &stop);
    ender.join();
    EXPECT_EQ(own.Terminations, 0);
    EXPECT_EQ(own.Waits, 1);
  });
}

// A fixture volume in the drive list, with the workflow plugged in as the window does it, on a port
// that only the test's main thread runs.
struct TWindowLike {
  explicit TWindowLike(const fs::path& Image)
      : Manager(std::make_unique<TRecoveryManager>(
            TDriveListing{{platform::TDriveSpec{'d', Image.string(), "", platform::TDriveType::Fixed}}, {}})),
        Updating(std::make_unique<TUpdatingThread>(Port)),
        Connection(std::make_unique<TWorkflowConnection>(*Manager, *Updating)),
        Disk(Manager->FindDisk('d')) {
    Updating->SetTreeView(&Tree);
    Updating->SetDisk(Disk);
    Updating->Query().AddDisk(Disk);
    Updating->SetOnScanFinished([this] { ++ScanEnds; });
  }
  // Starts a scan and waits until it is held at its first folder step.
  TWorkerThread* StartHeldScan() {
    TWorkerThread* scan = Manager->StartScan(Disk, [this] { ++JobEnds; });
    if (scan && !WaitUntil([this] { return Port.Pending() > 0; })) ADD_FAILURE() << "the scan never waited";
    return scan;
  }

  TMainThreadQueue Port;
  TCountingTree Tree;
  std::unique_ptr<TRecoveryManager> Manager;
  std::unique_ptr<TUpdatingThread> Updating;
  std::unique_ptr<TWorkflowConnection> Connection;
  TDiskObject* Disk;
  int ScanEnds = 0;
  int JobEnds = 0;
};

class JobLifecycle : public ::testing::Test {
 protected:
  fs::path Fixture(const std::string& Name) {
    const fs::path image = test::UnpackImage(test::TestDataDir() / (Name + ".xz"), Dir.Path());
    EXPECT_FALSE(image.empty());
    return image;
  }
  test::TTempDir Dir;
};

TEST_F(JobLifecycle, StoppingAScanThatWaitsOnAFolderStepEndsItThroughItsHandlers) {
  const fs::path image = Fixture("fat16.img");
  Bounded([&] {
    TWindowLike w(image);
    ASSERT_NE(w.Disk, nullptr);
    TWorkerThread* scan = w.StartHeldScan();
    ASSERT_NE(scan, nullptr);
    EXPECT_FALSE(scan->Finished());
    const int heldAt = w.Disk->Files.Count();
    // The running scan writes the disk's lists: a second start must neither clear them nor start.
    EXPECT_EQ(w.Manager->StartScan(w.Disk), nullptr);
    EXPECT_EQ(w.Disk->Files.Count(), heldAt);
    EXPECT_TRUE(w.Manager->ScanRunning(w.Disk));

    TStopRequest stop;
    stop.Request();
    WaitForJob(*scan, &w.Port, &stop);
    EXPECT_TRUE(scan->Finished());
    EXPECT_FALSE(w.Manager->ScanRunning(w.Disk));
    EXPECT_EQ(w.ScanEnds, 1);
    EXPECT_EQ(w.JobEnds, 1) << "the end is reported once, on the main thread";
    EXPECT_EQ(w.Port.Pending(), 0u);
    const int stoppedAt = w.Disk->Files.Count();

    // Once it has ended, the disk can be scanned again, and the whole scan finds more.
    TWorkerThread* again = w.Manager->StartScan(w.Disk);
    ASSERT_NE(again, nullptr);
    WaitForJob(*again, &w.Port);
    EXPECT_GT(w.Disk->Files.Count(), stoppedAt);
    EXPECT_EQ(w.ScanEnds, 2);
  });
}

TEST_F(JobLifecycle, AScanAgainListsOnlyWhatItFindsItself) {
  const fs::path image = Fixture("fat12.img");
  Bounded([&] {
    TWindowLike w(image);
    TFilter all;
    TWorkerThread* first = StartShownScan(*w.Manager, *w.Updating, w.Disk, all);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(StartShownScan(*w.Manager, *w.Updating, w.Disk, all), nullptr) << "not while it runs";
    WaitForJob(*first, &w.Port);
    const int listed = w.Updating->Query().Count();
    ASSERT_GT(listed, 0);

    // The second scan frees the first one's items: none of them may stay in the result list.
    WaitForJob(*StartShownScan(*w.Manager, *w.Updating, w.Disk, all), &w.Port);
    const auto files = w.Disk->Files.Snapshot(), folders = w.Disk->Folders.Snapshot();
    EXPECT_EQ(w.Updating->Query().Count(), listed);
    for (int i = 0; i < w.Updating->Query().Count(); ++i) {
      const PFileInfo item = w.Updating->Query().Items(i);
      EXPECT_TRUE(std::find(files.begin(), files.end(), item) != files.end() ||
                  std::find(folders.begin(), folders.end(), item) != folders.end())
          << "row " << i << " is an item of the first scan";
    }
  });
}

TEST_F(JobLifecycle, EndingTheWorkflowWhileAScanWaitsStopsAndWaitsForIt) {
  const fs::path image = Fixture("ntfs.img");
  Bounded([&] {
    // The connection goes first, as a window's members go: its end runs the scan's steps out.
    TWindowLike w(image);
    ASSERT_NE(w.StartHeldScan(), nullptr);
    w.Connection.reset();
    EXPECT_EQ(w.ScanEnds, 1);
    EXPECT_EQ(w.JobEnds, 1);
    EXPECT_GT(w.Tree.Count(), 0u);
    w.Updating.reset();
    w.Manager.reset();
  });
  Bounded([&] {
    // The window is gone first: its closed port drops the steps, and the end needs no pumping.
    TWindowLike w(image);
    ASSERT_NE(w.StartHeldScan(), nullptr);
    w.Port.Close();
    w.Connection.reset();
    EXPECT_EQ(w.ScanEnds, 0);
    EXPECT_EQ(w.JobEnds, 0);
    w.Updating.reset();
    w.Manager.reset();
  });
  Bounded([&] {
    // The manager itself goes while its scan waits.
    TMainThreadQueue port;
    TCountingTree tree;
    auto manager = std::make_unique<TRecoveryManager>(
        TDriveListing{{platform::TDriveSpec{'d', image.string(), "", platform::TDriveType::Fixed}}, {}});
    TUpdatingThread updating(port);
    TWorkflowThreads threads(*manager, &updating.Query(), &port);
    manager->SetWorkflow(&updating, &threads);
    updating.SetTreeView(&tree);
    updating.SetDisk(manager->FindDisk('d'));
    int ends = 0;
    ASSERT_NE(manager->StartScan(manager->FindDisk('d'), [&] { ++ends; }), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return port.Pending() > 0; }));
    manager.reset();
    EXPECT_EQ(ends, 1);
  });
}

TEST_F(JobLifecycle, ClosingWhileARecoveryRunsWaitsForItWithoutBlockingItsSteps) {
  const fs::path image = Fixture("fat32.img");
  const fs::path out = Dir / "out";
  const fs::path dropped = Dir / "dropped";
  fs::create_directories(out);
  fs::create_directories(dropped);
  Bounded([&] {
    TWindowLike w(image);
    WaitForJob(*w.Manager->StartScan(w.Disk), &w.Port);
    const TDiskItems items = SelectAllItems(*w.Disk, w.Disk->Files.Snapshot());
    ASSERT_GT(items.Count(), 1);

    // Every file is created on the main thread; the close waits by running those steps.
    std::unique_ptr<TRecoveryJob> job = w.Manager->RecoverItems(items);
    ASSERT_NE(job, nullptr);
    job->SetDestination(out.string());
    job->SetOnFinished([&w] { ++w.JobEnds; });
    job->Start();
    ASSERT_TRUE(WaitUntil([&] { return w.Port.Pending() > 0; }));
    job->WaitFor();
    EXPECT_TRUE(job->Finished());
    EXPECT_EQ(w.JobEnds, 1);
    const auto records = job->Records();
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) EXPECT_EQ(r.Outcome, TRecoveryOutcome::Written) << r.Destination << r.Reason();
    job.reset();

    // Destroying the job waits for it the same way.
    job = w.Manager->RecoverItems(items);
    job->SetDestination((Dir / "again").string());
    fs::create_directories(Dir / "again");
    job->Start();
    job.reset();
    EXPECT_FALSE(fs::is_empty(Dir / "again"));

    // A window already gone drops the steps: the recovery still ends, with what it could not write.
    job = w.Manager->RecoverItems(items);
    job->SetDestination(dropped.string());
    job->SetOnFinished([&w] { ++w.JobEnds; });
    job->Start();
    ASSERT_TRUE(WaitUntil([&] { return w.Port.Pending() > 0; }));
    w.Port.Close();
    ASSERT_TRUE(WaitUntil([&] { return job->Finished(); }));
    job->WaitFor();
    EXPECT_EQ(w.JobEnds, 1) << "no handler runs on a closed port";
    for (const auto& r : job->Records()) {
      if (!r.Item->IsFolder) {
        EXPECT_EQ(r.Outcome, TRecoveryOutcome::Skipped) << r.Reason();
      }
    }
    for (const auto& e : fs::recursive_directory_iterator(dropped)) EXPECT_FALSE(e.is_regular_file()) << e.path();
  });
}

}  // namespace
}  // namespace kestrine
