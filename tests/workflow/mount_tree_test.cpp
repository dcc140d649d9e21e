// What a mount shows of the found items against what a recovery of the same items writes: the same
// tree, names, sizes and bytes, read whole or in pieces at any offset.

#include "workflow/mount_files.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/workflow/recovery_fixture.h"
#include "workflow/folder_contents.h"
#include "workflow/item_selection.h"
#include "workflow/recovering_thread.h"

namespace kestrine {
namespace {

namespace fs = std::filesystem;
using test::Deleted;
using test::ShortSlot;

class Mount : public Recovery {
 protected:
  // Streams kept by the mount hold the volume: they go before another is opened.
  void Forget() {
    Files.reset();
    Tree.reset();
    Contents.reset();
  }
  void Build() {
    const std::vector<PFileInfo> files = Disk->Files.Snapshot();
    Items = SelectAllItems(*Disk, files);
    Contents = std::make_unique<TFolderContents>(&Updating->Query());
    Tree = std::make_unique<TMountTree>(Items, *Contents, Opener());
    Files = std::make_unique<TMountFiles>(*Tree, Opener());
  }
  TStreamOpener Opener() {
    return [this](PFileInfo Item, const std::string& Stream) { return Manager->CreateStream(Item, Stream); };
  }
  // Every node below the root by its path.
  std::map<std::string, TMountNodeId> Nodes() const {
    std::map<std::string, TMountNodeId> nodes;
    for (TMountNodeId id = 1; id < Tree->Count(); ++id) nodes.emplace(Tree->Path(id), id);
    return nodes;
  }
  std::vector<std::uint8_t> ReadAll(TMountNodeId Id) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Files->Size(Id)));
    auto reader = Files->Reader(Id);
    EXPECT_EQ(reader->ReadAt(0, bytes.data(), bytes.size() + 100), bytes.size());
    return bytes;
  }
  std::optional<std::string> Attribute(TMountNodeId Id, const std::string& Name) {
    for (auto& [name, value] : Files->Attributes(Id))
      if (name == Name) return value;
    return std::nullopt;
  }

  // The tree, sizes and bytes equal those of a recovery of everything onto a file system that keeps
  // named streams; whole, and in 4 KiB pieces at random offsets from one reader.
  void ExpectSameAsRecovery() {
    const fs::path out = Out();
    Recover(Items, out, [](TRecoveryJob& Job) { static_cast<TRecoveringThread&>(Job).SetDestinationFacts({"NTFS", true}); });
    const std::map<std::string, TMountNodeId> nodes = Nodes();
    std::set<std::string> shown;
    for (const auto& [path, id] : nodes) shown.insert(path);
    ASSERT_EQ(shown, TreeOf(out));
    std::mt19937 random(7);
    for (const auto& [path, id] : nodes) {
      SCOPED_TRACE(path);
      EXPECT_EQ(Tree->Node(id).IsFolder, fs::is_directory(out / path));
      if (Tree->Node(id).IsFolder) continue;
      const auto written = test::ReadFile(out / path);
      ASSERT_EQ(Files->Size(id), static_cast<std::int64_t>(written.size()));
      EXPECT_EQ(ReadAll(id), written);
      auto reader = Files->Reader(id);
      for (int i = 0; i < 16 && !written.empty(); ++i) {
        const std::size_t at = random() % written.size();
        std::vector<std::uint8_t> piece(4096);
        const std::size_t got = reader->ReadAt(static_cast<std::int64_t>(at), piece.data(), piece.size());
        ASSERT_EQ(got, std::min<std::size_t>(4096, written.size() - at));
        EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + got, written.begin() + at)) << "at " << at;
      }
    }
  }

  TDiskItems Items;
  std::unique_ptr<TFolderContents> Contents;
  std::unique_ptr<TMountTree> Tree;
  std::unique_ptr<TMountFiles> Files;
};

TEST_F(Mount, FixtureVolumesShowWhatARecoveryOfEverythingWrites) {
  for (const char* name : {"fat12.img", "fat16.img", "fat32.img", "exfat.img", "ntfs.img"}) {
    SCOPED_TRACE(name);
    Forget();
    OpenFixture(name);
    Build();
    ExpectSameAsRecovery();
    fs::remove_all(Out());
  }
  // The NTFS fixture: a named stream beside its file, listed on it.
  const auto nodes = Nodes();
  const TMountNodeId file = nodes.at("Streams/deleted streams.txt");
  EXPECT_TRUE(nodes.count("Streams/deleted streams.txt:thumbnail"));
  EXPECT_EQ(Attribute(file, TMountFiles::kStreamsAttribute), "thumbnail\nZone.Identifier");
  EXPECT_EQ(Attribute(file, TMountFiles::kConditionAttribute), "100");
  EXPECT_EQ(Attribute(file, TMountFiles::kPartialAttribute), std::nullopt);
}

TEST_F(Mount, DuplicatesHostileNamesAndFolderClashesTakeTheRecoverysNames) {
  OpenFixture("fat12.img");
  const std::vector<PFileInfo> files = Disk->Files.Snapshot();
  const std::vector<std::string> names = {"../x", "a/b", "", ".", "..", "same.txt", "same.txt", "Old Projects"};
  ASSERT_GE(files.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    files[i]->Name = names[i];
    files[i]->Parent = Root();
  }
  Build();
  ExpectSameAsRecovery();
  const auto nodes = Nodes();
  for (const char* shown : {".._x", "a_b", "_", "__", "same.txt", "same (2).txt"}) EXPECT_TRUE(nodes.count(shown)) << shown;
  // Folders come first in a recovery of everything: the file of the folder's name takes a number.
  EXPECT_TRUE(Tree->Node(nodes.at("Old Projects")).IsFolder);
  EXPECT_FALSE(Tree->Node(nodes.at("Old Projects (2)")).IsFolder);
  EXPECT_EQ(Tree->Lookup(0, "same (2).txt"), nodes.at("same (2).txt"));
  EXPECT_EQ(Tree->Lookup(0, "nothing"), std::nullopt);
}

TEST_F(Mount, ASizeCutAndUnreadableBytesSayWhyAndReadAsZeros) {
  // FAT12, 512-byte clusters: a 3000-byte file whose clusters run past the volume's end.
  test::TFatVolumeBuilder volume({.Kind = TFileSystemKind::Fat12});
  const std::uint32_t last = volume.ClusterCount() + 1;
  volume.PutSlots(volume.RootOffset(), {Deleted(ShortSlot("?AST    BIN", 0x21, last - 1, 3000))});
  volume.PutBytes(volume.ClusterOffset(last - 1), test::Pattern(1024, 5));
  OpenBuilt(volume);
  Build();
  const TMountNodeId cut = Nodes().at("$AST.BIN");
  EXPECT_EQ(Files->Size(cut), 1024);
  EXPECT_EQ(ReadAll(cut), test::Pattern(1024, 5));
  EXPECT_EQ(Attribute(cut, TMountFiles::kRecordedSizeAttribute), "3000");
  EXPECT_EQ(Attribute(cut, TMountFiles::kPartialAttribute),
            "its recorded size of 3000 bytes is more than the 1024 bytes from its first cluster to the end of the "
            "data area; cut to 1024 bytes");

  // NTFS cut inside a plain file: what lies before the cut, zeros after, at any offset.
  test::TNtfsImageBuilder image;
  const auto data = test::Pattern(4 * 4096, 3);
  image.PutClusters(448, data);
  auto record = image.NewRecord();
  record.StandardInfo(0x20).FileName(5, u"cut.bin").NonResidentData({{4, 448}}, 4 * 4096 - 10);
  image.PutRecord(20, record);
  const fs::path path = image.WriteTo(Dir.Path());
  fs::resize_file(path, 450 * 4096 + 100);
  Forget();
  Open(path);
  Build();
  const TMountNodeId short_ = Nodes().at("cut.bin");
  EXPECT_EQ(Attribute(short_, TMountFiles::kPartialAttribute), std::nullopt) << "nothing known before a read";
  auto reader = Files->Reader(short_);
  std::vector<std::uint8_t> tail(6000, 0xEE);
  ASSERT_EQ(reader->ReadAt(10000, tail.data(), tail.size()), 6000u);
  EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](std::uint8_t b) { return b == 0; }));
  std::vector<std::uint8_t> head(8192);
  ASSERT_EQ(reader->ReadAt(0, head.data(), head.size()), 8192u);
  EXPECT_TRUE(std::equal(head.begin(), head.end(), data.begin()));
  EXPECT_EQ(Attribute(short_, TMountFiles::kPartialAttribute), "only 10000 of 16374 bytes could be read; the rest is zeros");
}

}  // namespace
}  // namespace kestrine
