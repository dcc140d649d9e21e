// The committed NTFS fixture against its manifest: every deleted file with its place, record number,
// size, attributes, times, condition, flags, named streams and content.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/ntfs/ntfs_records.h"
#include "tests/engine/ntfs/ntfs_image_builder.h"
#include "tests/support/test_support.h"

namespace kestrine::test {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

std::string Sha256(const std::vector<std::uint8_t>& Bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(Bytes.data(), Bytes.size(), digest, &length, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) text += {hex[digest[i] >> 4], hex[digest[i] & 15]};
  return text;
}

// "2025-01-09T15:16:17.500000Z" as a FILETIME.
std::uint64_t FileTimeOf(const std::string& Iso) {
  std::tm tm{};
  strptime(Iso.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
  std::uint64_t ticks = (static_cast<std::uint64_t>(timegm(&tm)) + 11644473600ull) * 10000000ull;
  const auto dot = Iso.find('.');
  if (dot != std::string::npos) {
    std::string digits = Iso.substr(dot + 1, Iso.size() - dot - 2);
    digits.resize(7, '0');
    ticks += std::stoull(digits);
  }
  return ticks;
}

class NtfsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path xz = TestDataDir() / "ntfs.img.xz";
    if (!fs::exists(xz)) GTEST_SKIP() << "no NTFS fixture";
    std::ifstream in(TestDataDir() / "manifest.json");
    const json all = json::parse(in);
    for (const json& image : all["images"])
      if (image["fs_kind"] == 4) Manifest = image;
    ASSERT_FALSE(Manifest.is_null());
    Image = UnpackImage(xz, Dir.Path());
    ASSERT_FALSE(Image.empty());
    Scan = ScanNtfsImage(Image);
  }
  TTempDir Dir;
  fs::path Image;
  json Manifest;
  std::unique_ptr<TNtfsScan> Scan;
};

TEST_F(NtfsFixture, EveryDeletedFileIsFoundWithItsRecordAndContent) {
  for (const json& expected : Manifest["deleted_files"]) {
    const std::string path = expected["path"];
    SCOPED_TRACE(path);
    const PFileInfo item = Scan->File(expected["record"].get<std::int64_t>());
    ASSERT_NE(item, nullptr);
    const auto* info = item->Info<TNtfsFileInfo>();
    EXPECT_EQ(item->Name, expected["name"]);
    // A file whose folder's record now holds a file is shown under "$folder_N" below the root.
    const std::string place = expected["parent_reused"].get<bool>()
                                  ? "$folder_" + std::to_string(expected["parent_record"].get<int>()) + "/" +
                                        expected["name"].get<std::string>()
                                  : path;
    EXPECT_EQ(PathBelowRoot(item), place);
    EXPECT_EQ(item->Size.load(), expected["size"]);
    EXPECT_EQ(item->Attributes, expected["attributes"]);
    EXPECT_EQ(item->LastWriteTime, FileTimeOf(expected["mtime"]));
    EXPECT_EQ(item->CreationTime, FileTimeOf(expected["created"]));
    EXPECT_EQ(info->IsCompressed(), expected["compressed"]);
    EXPECT_FALSE(info->IsEncrypted());
    EXPECT_TRUE(info->IsDeleted());
    const int stored = expected["stored_clusters"];
    const int free = expected["free_clusters"];
    const int condition = expected["resident"].get<bool>() ? 100 : stored ? free * 100 / stored : 0;
    EXPECT_EQ(item->Condition, condition);
    if (expected["recoverable"]) {
      EXPECT_EQ(Sha256(ReadWholeStream(item)), expected["sha256"]);
    }

    // Named streams in record order (NTFS keeps attributes sorted by name).
    const auto named = info->NamedStreams();
    ASSERT_EQ(named.size(), expected["streams"].size());
    for (const json& stream : expected["streams"]) {
      const auto it = std::find_if(named.begin(), named.end(), [&](const auto& S) { return S.Name == stream["name"]; });
      ASSERT_NE(it, named.end()) << stream["name"];
      EXPECT_EQ(it->Size, stream["size"]);
      if (stream["recoverable"]) {
        EXPECT_EQ(Sha256(ReadWholeStream(item, it->Name)), stream["sha256"]);
      }
    }
  }
}

TEST_F(NtfsFixture, OnlyDeletedRecordsAreReportedAndFoldersOnlyAboveThem) {
  std::set<std::int64_t> expected;
  for (const json& file : Manifest["deleted_files"]) expected.insert(file["record"].get<std::int64_t>());
  for (PFileInfo item : Scan->Disk->Files.Snapshot()) {
    const auto* info = item->Info<TNtfsFileInfo>();
    // Besides the files deleted on purpose, only mkntfs's reserved records (16-23) are free records
    // with a standard-information attribute; they have no name.
    if (!expected.contains(info->RecNo)) {
      EXPECT_TRUE(item->Name.empty()) << item->Name;
      EXPECT_TRUE(info->RecNo >= 16 && info->RecNo < 24) << info->RecNo;
    }
  }
  std::map<std::string, PFileInfo> folders;
  for (PFileInfo folder : Scan->Disk->Folders.Snapshot()) folders[PathBelowRoot(folder)] = folder;
  EXPECT_FALSE(folders.contains("Empty folder"));
  ASSERT_TRUE(folders.contains("$folder_64"));
  EXPECT_TRUE(folders["$folder_64"]->FsInfo->IsDeleted());
  ASSERT_TRUE(folders.contains("Old Projects/sub"));
  EXPECT_TRUE(folders["Old Projects/sub"]->FsInfo->IsDeleted());
  EXPECT_FALSE(folders["Compressed"]->FsInfo->IsDeleted());
  // The root carries the drive's name and the sizes of everything found below it.
  const PFileInfo root = folders["Compressed"]->Parent;
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Name, "d: (KNTFS)");
  std::int64_t total = 0;
  for (PFileInfo item : Scan->Disk->Files.Snapshot()) total += item->Size;
  EXPECT_EQ(root->Size.load(), total);
  // Every folder is announced once, after its parent.
  std::set<PFileInfo> announced;
  for (PFileInfo folder : Scan->Reports.Folders) {
    EXPECT_TRUE(announced.insert(folder).second);
    if (folder->Parent) {
      EXPECT_TRUE(announced.contains(folder->Parent));
    }
  }
  EXPECT_EQ(Scan->Reports.Finished, 1);
  EXPECT_EQ(Scan->Reports.LastDone, Scan->Reports.LastTotal);
}

TEST_F(NtfsFixture, FreeSpaceComesFromTheClusterBitmap) {
  // The fixture is 24 MiB with 4 KiB clusters; the bitmap's zero bits are the free clusters.
  EXPECT_GT(Scan->Disk->FreeSize, 0);
  EXPECT_LT(Scan->Disk->FreeSize, Scan->Disk->TotalSize);
  EXPECT_EQ(Scan->Disk->FreeSize % 4096, 0);
}

}  // namespace
}  // namespace kestrine::test
