// Recovered-file output: only new files, holes that read back as zeros, times and read-only state.

#include "platform/output_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>

#include "platform/folder_handle.h"
#include "platform/volume_source.h"
#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {

namespace fs = std::filesystem;

TEST(OutputFile, NeverReplacesAFileNorWritesThroughALink) {
  test::TTempDir dir;
  test::WriteFile(dir / "taken", {1, 2, 3});
  errno = 0;
  EXPECT_EQ(TOutputFile::CreateNew((dir / "taken").string()), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(test::ReadFile(dir / "taken"), (std::vector<std::uint8_t>{1, 2, 3}));
  fs::create_symlink(dir / "target", dir / "link");
  EXPECT_EQ(TOutputFile::CreateNew((dir / "link").string()), nullptr);
  EXPECT_FALSE(fs::exists(dir / "target"));
  fs::create_directory(dir / "folder");
  EXPECT_EQ(TOutputFile::CreateNew((dir / "folder").string()), nullptr);
  EXPECT_EQ(TOutputFile::CreateNew((dir / "missing" / "x").string()), nullptr);

  EXPECT_EQ(GetPathState((dir / "taken").string()), TPathState::Taken);
  EXPECT_EQ(GetPathState((dir / "link").string()), TPathState::Taken);
  EXPECT_EQ(GetPathState((dir / "folder").string()), TPathState::Folder);
  EXPECT_EQ(GetPathState((dir / "free").string()), TPathState::Free);
}

// Everything below an open folder goes through it: a name that is, or becomes, a link is never
// followed, and a name never walks further than one component.
TEST(FolderHandle, NamesAreActedOnInsideTheOpenFolderOnly) {
  test::TTempDir dir;
  fs::create_directories(dir / "out");
  fs::create_directories(dir / "elsewhere");
  TFolderHandle out = TFolderHandle::OpenNamed((dir / "out").string() + "/");
  ASSERT_TRUE(out.IsOpen());
  EXPECT_EQ(out.PathOf("x"), (dir / "out" / "x").string());

  ASSERT_TRUE(out.MakeSub("sub"));
  EXPECT_FALSE(out.MakeSub("sub"));
  EXPECT_EQ(errno, EEXIST);
  TFolderHandle sub = out.OpenSub("sub");
  ASSERT_TRUE(sub.IsOpen());
  // The folder moves and a link takes its name: the handle still writes into the folder itself.
  fs::rename(dir / "out" / "sub", dir / "out" / "moved");
  fs::create_directory_symlink(dir / "elsewhere", dir / "out" / "sub");
  ASSERT_NE(TOutputFile::CreateNewIn(sub, "f"), nullptr);
  EXPECT_TRUE(fs::exists(dir / "out" / "moved" / "f"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_EQ(GetFileSystemName(sub), GetFileSystemName((dir / "out").string()));

  EXPECT_FALSE(out.OpenSub("sub").IsOpen());
  EXPECT_TRUE(errno == ENOTDIR || errno == ELOOP) << errno;
  EXPECT_EQ(TOutputFile::CreateNewIn(out, "sub"), nullptr);
  for (const char* name : {"", ".", "..", "moved/f", "sub/x"}) {
    EXPECT_FALSE(out.OpenSub(name).IsOpen()) << name;
    EXPECT_FALSE(out.MakeSub(name)) << name;
    EXPECT_EQ(TOutputFile::CreateNewIn(out, name), nullptr) << name;
  }
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));

  TEntryFacts facts;
  ASSERT_TRUE(out.Look("sub", facts));
  EXPECT_EQ(facts.Kind, TEntryFacts::TKind::Link);
  ASSERT_TRUE(out.Look("moved", facts));
  EXPECT_EQ(facts.Kind, TEntryFacts::TKind::Folder);
  EXPECT_EQ(facts.Identity, sub.Identity());
  EXPECT_FALSE(out.Look("free", facts));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(out.Unlink("sub"));
  EXPECT_TRUE(fs::exists(dir / "elsewhere"));
  EXPECT_FALSE(TFolderHandle::OpenNamed((dir / "nowhere").string()).IsOpen());
}

// A written file is read back only while its name still holds it: whatever took its place since (a
// link to a file outside, another file, a FIFO) is not read, and nothing waits.
TEST(OutputFile, ReadBackReadsOnlyTheFileThatWasWritten) {
  test::TTempDir dir;
  const std::string path = (dir / "out.bin").string();
  TFileIdentity identity;
  {
    auto file = TOutputFile::CreateNew(path);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->Write("recovered", 9));
    identity = file->Identity();
  }
  std::string seen;
  const auto collect = [&seen](const std::uint8_t* Data, std::size_t Count) {
    seen.append(reinterpret_cast<const char*>(Data), Count);
    return true;
  };
  EXPECT_TRUE(ReadBack(path, identity, collect));
  EXPECT_EQ(seen, "recovered");
  EXPECT_FALSE(ReadBack(path, {}, collect));

  test::WriteFile(dir / "outside", {'s', 'e', 'c', 'r', 'e', 't'});
  const auto swapTo = [&](const std::function<void()>& Make) {
    fs::remove(path);
    Make();
    seen.clear();
    return ReadBack(path, identity, collect);
  };
  EXPECT_FALSE(swapTo([&] { fs::create_symlink(dir / "outside", path); }));
  EXPECT_FALSE(swapTo([&] { fs::create_hard_link(dir / "outside", path); }));
  EXPECT_FALSE(swapTo([&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }));
  EXPECT_EQ(seen, "");
}

TEST(OutputFile, ZeroBlocksAndTrailingZerosReadBackAsTheyWereWritten) {
  test::TTempDir dir;
  std::vector<std::uint8_t> expected;
  {
    auto file = TOutputFile::CreateNew((dir / "f").string());
    ASSERT_NE(file, nullptr);
    const std::vector<std::uint8_t> data = {7, 0, 9}, zeros(70000, 0);
    for (const auto* block : {&zeros, &data, &zeros, &data, &zeros}) {
      ASSERT_TRUE(file->Write(block->data(), block->size()));
      expected.insert(expected.end(), block->begin(), block->end());
    }
    // No SetSize: the trailing hole still counts.
  }
  EXPECT_EQ(test::ReadFile(dir / "f"), expected);
}

TEST(OutputFile, SizeTimeAndReadOnlyAreSetInThatOrder) {
  test::TTempDir dir;
  const auto path = dir / "f";
  {
    auto file = TOutputFile::CreateNew(path.string());
    ASSERT_NE(file, nullptr);
    const std::vector<std::uint8_t> data(100, 0x55), zeros(4096, 0);
    ASSERT_TRUE(file->Write(data.data(), data.size()));
    ASSERT_TRUE(file->Write(zeros.data(), zeros.size()));
    ASSERT_TRUE(file->SetSize(50));
    ASSERT_TRUE(file->SetModificationTime(1'700'000'000, 123'456'789));
    ASSERT_TRUE(file->SetReadOnly());
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 50);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'700'000'000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789);
  EXPECT_EQ(st.st_mode & 0222, 0u);
}

TEST(OutputFile, VolumeBytesAppendAfterWrittenAndSkippedBytesAndACutEnd) {
  test::TTempDir dir;
  std::vector<std::uint8_t> volume(300000);
  for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<std::uint8_t>(i * 31 + i / 977);
  test::WriteFile(dir / "volume.img", volume);
  auto source = TVolumeSource::Open((dir / "volume.img").string());
  ASSERT_NE(source, nullptr);
  std::vector<std::uint8_t> expected;
  {
    auto file = TOutputFile::CreateNew((dir / "f").string());
    ASSERT_NE(file, nullptr);
    const std::vector<std::uint8_t> data = {7, 8, 9}, zeros(70000, 0);
    ASSERT_TRUE(file->Write(data.data(), data.size()));
    ASSERT_TRUE(file->Write(zeros.data(), zeros.size()));  // a hole the copy lands after
    EXPECT_EQ(file->AppendFromVolume(*source, 1000, 5000), 5000);
    EXPECT_EQ(file->AppendFromVolume(*source, 299990, 100), 10) << "the source ends";
    EXPECT_EQ(file->AppendFromVolume(*source, 400000, 100), 0);
    errno = 0;
    EXPECT_EQ(file->AppendFromVolume(*source, -1, 100), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(file->Length(), 3 + 70000 + 5000 + 10);
    // A cut end is where the next bytes go.
    ASSERT_TRUE(file->SetSize(file->Length() - 3000));
    ASSERT_TRUE(file->Write(data.data(), data.size()));
    expected = data;
    expected.insert(expected.end(), zeros.begin(), zeros.end());
    expected.insert(expected.end(), volume.begin() + 1000, volume.begin() + 1000 + 5010 - 3000);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(file->Length(), static_cast<std::int64_t>(expected.size()));
  }
  EXPECT_EQ(test::ReadFile(dir / "f"), expected);
  EXPECT_EQ(test::ReadFile(dir / "volume.img"), volume);

  // Copies from a partition start at its base and stop at its end.
  auto part = TVolumeSource::Open((dir / "volume.img").string(), 4096, 8192);
  ASSERT_TRUE(part);
  auto copy = TOutputFile::CreateNew((dir / "p").string());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->AppendFromVolume(*part, 8000, 1000), 192);
  copy.reset();
  EXPECT_EQ(test::ReadFile(dir / "p"), std::vector<std::uint8_t>(volume.begin() + 12096, volume.begin() + 12288));
}

TEST(OutputFile, DestinationFileSystemIsNamedAndNoneStoresNamedStreams) {
  test::TTempDir dir;
  const std::string name = GetFileSystemName(dir.Path().string());
  EXPECT_NE(name, "Unknown");
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(GetFileSystemName((dir / "missing").string()), "Unknown");
  EXPECT_EQ(GetFileSystemName("/proc"), "0x9FA0");
  for (const char* fs : {"NTFS", "FAT", "ext4", "Unknown"}) EXPECT_FALSE(StoresNamedStreams(fs));
}

}  // namespace
}  // namespace kestrine::platform
