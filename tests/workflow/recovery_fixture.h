#pragma once
// A volume scanned as the window scans it, and recoveries of its items, for the tests of what a
// recovery writes and of what a mount shows of the same items.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/volume/disk_object.h"
#include "engine/volume/recovery_manager.h"
#include "tests/engine/fat/fat_volume_builder.h"
#include "tests/support/test_support.h"
#include "workflow/updating_thread.h"
#include "workflow/view_ports.h"
#include "workflow/workflow.h"

namespace kestrine {

// Every file below Root, as paths relative to it.
inline std::set<std::string> TreeOf(const std::filesystem::path& Root) {
  std::set<std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Root)) paths.insert(std::filesystem::relative(e.path(), Root).string());
  return paths;
}

class TCountingMainThread final : public TMainThreadPort {
 public:
  void RunAndWait(const std::function<void()>& Step) override {
    ++Steps;
    Step();
  }
  std::atomic<int> Steps{0};
};

// One image, scanned through the recovery manager with the workflow plugged in as the window does it.
class Recovery : public ::testing::Test {
 protected:
  void Open(const std::filesystem::path& Image) {
    // Another volume: what used the last one goes first.
    Job.reset();
    Connection.reset();
    Updating.reset();
    Manager.reset();
    Manager = std::make_unique<TRecoveryManager>(
        TDriveListing{{platform::TDriveSpec{'d', Image.string(), "", platform::TDriveType::Fixed}}, {}});
    Updating = std::make_unique<TUpdatingThread>(MainThread);
    Connection = std::make_unique<TWorkflowConnection>(*Manager, *Updating);
    Disk = Manager->FindDisk('d');
    ASSERT_NE(Disk, nullptr);
    Updating->SetDisk(Disk);
    Updating->Query().AddDisk(Disk);
    auto scan = Manager->StartScan(Disk);
    ASSERT_NE(scan, nullptr);
    scan->WaitFor();
  }
  void OpenFixture(const std::string& Name) {
    const std::filesystem::path image = test::UnpackImage(test::TestDataDir() / (Name + ".xz"), Dir.Path());
    ASSERT_FALSE(image.empty());
    Open(image);
  }
  void OpenBuilt(test::TFatVolumeBuilder& Volume) {
    const std::filesystem::path image = Dir / "built.img";
    test::WriteFile(image, Volume.Bytes());
    Open(image);
  }

  PFileInfo Find(const std::string& Path, bool Folder = false) const {
    for (PFileInfo f : (Folder ? Disk->Folders : Disk->Files).Snapshot())
      if (Path == test::ItemPath(f)) return f;
    ADD_FAILURE() << "no found item " << Path;
    return nullptr;
  }
  PFileInfo Root() const {
    for (PFileInfo f : Disk->Folders.Snapshot())
      if (!f->Parent) return f;
    return nullptr;
  }
  // The root's own files and subfolders, as the command line's --all selects them.
  TDiskItems TopItems() const {
    TDiskItems items;
    for (PFileInfo f : Disk->Folders.Snapshot())
      if (f->Parent == Root()) items.Add(f);
    for (PFileInfo f : Disk->Files.Snapshot())
      if (f->Parent == Root()) items.Add(f);
    return items;
  }

  std::vector<TRecoveryRecord> Recover(const TDiskItems& Items, const std::filesystem::path& Destination,
                                       const std::function<void(TRecoveryJob&)>& Prepare = {}) {
    Job = Manager->RecoverItems(Items);
    if (!Job) {
      ADD_FAILURE() << "no recovering thread";
      return {};
    }
    Job->SetDestination(Destination.string());
    Job->SetOnFinished([this] { ++Finished; });
    if (Prepare) Prepare(*Job);
    MainThread.Steps = 0;
    Job->Start();
    Job->WaitFor();
    EXPECT_TRUE(Job->Finished());
    return Job->Records();
  }
  std::filesystem::path Out() {
    const std::filesystem::path out = Dir / "out";
    std::filesystem::create_directories(out);
    return out;
  }

  test::TTempDir Dir;
  TCountingMainThread MainThread;
  std::unique_ptr<TRecoveryManager> Manager;
  std::unique_ptr<TUpdatingThread> Updating;
  std::unique_ptr<TWorkflowConnection> Connection;
  TDiskObject* Disk = nullptr;
  std::unique_ptr<TRecoveryJob> Job;
  int Finished = 0;
};

}  // namespace kestrine
