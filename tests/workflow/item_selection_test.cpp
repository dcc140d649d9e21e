// What the front ends' requests select: item paths, paths resolved to items, recover-everything, and
// the destination that would overwrite the source.

#include "workflow/item_selection.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "engine/volume/disk_object.h"
#include "tests/support/test_support.h"
#include "workflow/recovery_destination.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

// A found tree built by hand:
//   d: (DATA)/ report.txt  Old(file)  Old/(folder) Docs/ report.txt report.txt(again) hidden.txt Sub/ b.txt
//   $folder_9/ lost.txt   (a folder whose place is unknown)
class ItemSelection : public ::testing::Test {
 protected:
  ItemSelection() {
    test::WriteFile(Dir / "v.img", std::vector<std::uint8_t>(4096));
    Disk = std::make_unique<TDiskObject>(platform::TDriveSpec{'d', (Dir / "v.img").string(), "", {}});
    Disk->VolumeLabel = "DATA";
    Root = Folder(RootFolderName(*Disk), nullptr);
    TopFile = File("report.txt", Root);
    OldFile = File("Old", Root);
    OldFolder = Folder("Old", Root);
    Docs = Folder("Docs", Root);
    DocsReport = File("report.txt", Docs);
    DocsReportAgain = File("report.txt", Docs);
    Hidden = File("hidden.txt", Docs, false);
    Sub = Folder("Sub", Docs);
    SubFile = File("b.txt", Sub);
    Orphan = Folder("$folder_9", nullptr);
    Lost = File("lost.txt", Orphan);
  }
  PFileInfo Add(const std::string& Name, PFileInfo Parent, bool IsFolder) {
    Owned.push_back(std::make_unique<TFileInfo>());
    PFileInfo item = Owned.back().get();
    item->Name = Name;
    item->Parent = Parent;
    item->IsFolder = IsFolder;
    item->Disk = Disk.get();
    (IsFolder ? Disk->Folders : Disk->Files).Add(item);
    return item;
  }
  PFileInfo Folder(const std::string& Name, PFileInfo Parent) { return Add(Name, Parent, true); }
  // Passing files are those the filter let through: the ones a front end lists.
  PFileInfo File(const std::string& Name, PFileInfo Parent, bool Passes = true) {
    PFileInfo item = Add(Name, Parent, false);
    if (Passes) Passing.push_back(item);
    return item;
  }

  test::TTempDir Dir;
  std::unique_ptr<TDiskObject> Disk;
  std::vector<std::unique_ptr<TFileInfo>> Owned;
  std::vector<PFileInfo> Passing;
  PFileInfo Root, TopFile, OldFile, OldFolder, Docs, DocsReport, DocsReportAgain, Hidden, Sub, SubFile, Orphan, Lost;
};

TEST_F(ItemSelection, PathsLeaveOutTheVolumeRootButKeepFoldersOfUnknownPlace) {
  EXPECT_EQ(ItemPath(*SubFile), "Docs/Sub/b.txt");
  EXPECT_EQ(ItemPath(*TopFile), "report.txt");
  EXPECT_EQ(ItemPath(*Lost), "$folder_9/lost.txt");
  EXPECT_EQ(ItemPath(*Root), "d: (DATA)");
  EXPECT_TRUE(IsVolumeRoot(*Root));
  EXPECT_FALSE(IsVolumeRoot(*Orphan));
  // A parent chain that loops ends where it closes.
  Sub->Parent = SubFile;
  EXPECT_EQ(ItemPath(*SubFile), "Sub/b.txt");
  Sub->Parent = Docs;

  // Orphans named like a root, all but exactly, stay in their paths; a nameless one adds no "/".
  for (const char* name : {"e: (DATA)", "d: (DATA", "d: (DATAX)", "d: (DAT)", "d:  (DATA)", "d: [DATA)", "d: (data)", "d",
                           ": (DATA)"}) {
    Orphan->Name = name;
    EXPECT_EQ(ItemPath(*Lost), std::string(name) + "/lost.txt") << name;
    EXPECT_FALSE(IsVolumeRoot(*Orphan)) << name;
  }
  Orphan->Name = "";
  EXPECT_EQ(ItemPath(*Lost), "lost.txt");
  Orphan->Name = "$folder_9";
  Disk->VolumeLabel = "";
  Root->Name = RootFolderName(*Disk);
  EXPECT_EQ(ItemPath(*SubFile), "Docs/Sub/b.txt") << "the root of a volume without a label";
  EXPECT_TRUE(IsVolumeRoot(*Root));
  Disk->VolumeLabel = "DATA";
  Root->Name = RootFolderName(*Disk);

  EXPECT_EQ(FindFileByPath(Passing, "Docs/report.txt"), DocsReport) << "the first of two of one path";
  EXPECT_EQ(FindFileByPath(Passing, "Docs/hidden.txt"), nullptr) << "a file the filter left out";
  EXPECT_EQ(FindFileByPath(Passing, "Docs/Sub"), nullptr) << "folders are not files";
}

TEST_F(ItemSelection, PathsTakeEveryItemOfTheirPathAndNameWhatTheyMiss) {
  TDiskItems items;
  const auto missing = SelectItemsByPath(*Disk, Passing,
                                         {"Docs/report.txt", "/Docs/Sub/", "Old", "Nope", "Docs/hidden.txt",
                                          "$folder_9"},
                                         items);
  EXPECT_EQ(missing, (std::vector<std::string>{"Nope", "Docs/hidden.txt"}));
  EXPECT_EQ(items.Snapshot(), (std::vector<PFileInfo>{DocsReport, DocsReportAgain, Sub, OldFolder, OldFile, Orphan}));

  TDiskItems all;
  EXPECT_TRUE(SelectItemsByPath(*Disk, Passing, {"/"}, all).empty());
  EXPECT_EQ(all.Snapshot(), SelectAllItems(*Disk, Passing).Snapshot()) << "the root stands for everything";
}

TEST_F(ItemSelection, EverythingIsTheRootsOwnItemsAndTheFoldersOfUnknownPlace) {
  const auto all = SelectAllItems(*Disk, Passing).Snapshot();
  // Folders first, in the disk's order; then the root's passing files. Nested items come with their
  // folders, so they are not taken again.
  EXPECT_EQ(all, (std::vector<PFileInfo>{OldFolder, Docs, Orphan, TopFile, OldFile}));
}

TEST_F(ItemSelection, IdsNameOneItemEachFilesFirstThenFolders) {
  const TItemIds ids(*Disk);
  // Files in the order found (TopFile, OldFile, DocsReport, DocsReportAgain, Hidden, SubFile, Lost),
  // then the folders.
  EXPECT_EQ(ids.IdOf(*DocsReportAgain), 3);
  EXPECT_EQ(ids.IdOf(*Root), 7);
  EXPECT_EQ(ids.IdOf(*Orphan), 11);
  for (PFileInfo item : {TopFile, DocsReport, DocsReportAgain, Lost, Root, Sub, Orphan})
    EXPECT_EQ(ids.Find(ids.IdOf(*item)), item);
  EXPECT_EQ(ids.Find(12), nullptr);
  EXPECT_EQ(ids.Find(-1), nullptr);
  TFileInfo stranger;
  EXPECT_EQ(ids.IdOf(stranger), -1);

  // Asked in the order found, then again out of it, then for an item on no list: the same ids.
  const TItemIds inOrder(*Disk);
  const std::vector<PFileInfo> files = {TopFile, OldFile, DocsReport, DocsReportAgain, Hidden, SubFile, Lost};
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(inOrder.IdOf(*files[i]), static_cast<std::int64_t>(i));
  EXPECT_EQ(inOrder.IdOf(*DocsReport), 2);
  EXPECT_EQ(inOrder.IdOf(*Lost), 6);
  EXPECT_EQ(inOrder.IdOf(*Sub), 10);
  const TItemIds skipping(*Disk);
  EXPECT_EQ(skipping.IdOf(*TopFile), 0);
  EXPECT_EQ(skipping.IdOf(*DocsReport), 2) << "a file the filter passed after one it left out";
  EXPECT_EQ(skipping.IdOf(*DocsReportAgain), 3);
  EXPECT_EQ(skipping.IdOf(stranger), -1);
  EXPECT_EQ(skipping.IdOf(*OldFile), 1);


  EXPECT_EQ(ParseItemId("#12"), 12);
  for (const char* bad : {"#", "#-1", "#+1", "#1x", "12", "#99999999999999999999"}) EXPECT_EQ(ParseItemId(bad), std::nullopt) << bad;

  EXPECT_EQ(FindFile(*Disk, Passing, "#3"), DocsReportAgain) << "the second of one path";
  EXPECT_EQ(FindFile(*Disk, Passing, "/Docs/report.txt"), DocsReport);
  EXPECT_EQ(FindFile(*Disk, Passing, "#4"), nullptr) << "a file the filter left out";
  EXPECT_EQ(FindFile(*Disk, Passing, "#9"), nullptr) << "folders are not files";

  TDiskItems items;
  EXPECT_EQ(SelectItemsByPath(*Disk, Passing, {"#3", "#10", "#4", "#12", "#x"}, items),
            (std::vector<std::string>{"#4", "#12", "#x"}));
  EXPECT_EQ(items.Snapshot(), (std::vector<PFileInfo>{DocsReportAgain, Sub}));
  TDiskItems all;
  EXPECT_TRUE(SelectItemsByPath(*Disk, Passing, {"#7"}, all).empty());
  EXPECT_EQ(all.Snapshot(), SelectAllItems(*Disk, Passing).Snapshot()) << "the root's id stands for everything";

  // Files found after the ids were made, as while a scan still runs, get theirs too; folders follow
  // the files there are when asked.
  const TItemIds growing(*Disk);
  EXPECT_EQ(growing.IdOf(*Lost), 6);
  PFileInfo late = File("late.txt", Root);
  EXPECT_EQ(growing.IdOf(*late), 7);
  EXPECT_EQ(growing.IdOf(*Root), 8);
  PFileInfo later = File("later.txt", Root);
  EXPECT_EQ(growing.IdOf(*later), 8) << "a file found after the ids were mapped";
  EXPECT_EQ(growing.IdOf(*Root), 9);
  EXPECT_EQ(growing.Find(9), Root);
}

// A fake /sys in which the image is served by a loop device whose partition holds Out.
TEST(RecoveryDestination, AFolderOnTheSourceDeviceIsRefusedUnlessForced) {
  test::TTempDir dir;
  platform::TDeviceTopology topology;
  topology.SysBlock = (dir / "class" / "block").string();
  topology.SysDevBlock = (dir / "dev" / "block").string();
  topology.MountInfo = (dir / "mountinfo").string();
  const auto put = [](const fs::path& File, const std::string& Text) {
    fs::create_directories(File.parent_path());
    std::ofstream(File) << Text << "\n";
  };
  const auto number = [](dev_t D) { return std::to_string(major(D)) + ":" + std::to_string(minor(D)); };
  const auto device = [&](const std::string& Where, dev_t Device) {
    const fs::path at = dir / "devices" / Where;
    put(at / "dev", number(Device));
    fs::create_directories(topology.SysBlock);
    fs::create_directories(topology.SysDevBlock);
    fs::create_directory_symlink(at, fs::path(topology.SysBlock) / at.filename());
    fs::create_directory_symlink(at, fs::path(topology.SysDevBlock) / number(Device));
    return at;
  };
  put(topology.MountInfo, "");
  const fs::path out = dir / "out";
  fs::create_directories(out);
  const auto outDevice = platform::FolderDevice(out.string(), topology);
  ASSERT_TRUE(outDevice.has_value());
  const fs::path image = dir / "disk.img";
  test::WriteFile(image, std::vector<std::uint8_t>(4096));
  put(device("loop201", makedev(7, 201)) / "loop" / "backing_file", fs::canonical(image).string());
  put(device("loop201/loop201p1", *outDevice) / "partition", "1");
  const fs::path other = dir / "other.img";
  test::WriteFile(other, std::vector<std::uint8_t>(4096));

  EXPECT_TRUE(DestinationRefused(out.string(), image.string(), false, topology));
  EXPECT_TRUE(DestinationRefused((out / "not" / "made").string(), image.string(), false, topology));
  EXPECT_FALSE(DestinationRefused(out.string(), image.string(), true, topology)) << "forced";
  EXPECT_FALSE(DestinationRefused(out.string(), other.string(), false, topology)) << "another source";
}

}  // namespace
}  // namespace kestrine
