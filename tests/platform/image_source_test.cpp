// Sources in the image formats, made in the run from the fixture volumes by the field's tools.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/drive_probe.h"
#include "platform/output_files.h"
#include "platform/volume_source.h"
#include "tests/support/test_support.h"

namespace kestrine::platform {
namespace {
namespace fs = std::filesystem;

class ImageSource : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    for (const char* name : {"fat12", "fat16", "fat32", "exfat", "ntfs", "mbr"})
      test::UnpackImage(test::TestDataDir() / (std::string(name) + ".img.xz"), Dir->Path());
  }
  static void TearDownTestSuite() { delete Dir; }
  static fs::path Raw(const std::string& Name) { return Dir->Path() / (Name + ".img"); }
  static fs::path Make(const std::string& Kind, const std::string& Name, std::string& Why) {
    return test::MakeImage(Kind, Raw(Name), Dir->Path(), Why);
  }
  static std::vector<std::uint8_t> ReadAll(TVolumeSource& Source) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(Source.Size()));
    for (std::size_t at = 0; at < bytes.size(); at += 8192)
      if (Source.Read(bytes.data() + at, 8192, static_cast<std::int64_t>(at)) == 0) break;
    return bytes;
  }
  static std::string OpenError(const fs::path& Path) {
    std::string error;
    EXPECT_FALSE(TVolumeSource::Open(Path.string(), &error)) << Path;
    return error;
  }

  static test::TTempDir* Dir;
};
test::TTempDir* ImageSource::Dir = nullptr;

TEST_F(ImageSource, EveryFormatGivesTheRawBytesFactsAndTables) {
  const auto raw = TVolumeSource::Open(Raw("mbr").string());
  ASSERT_TRUE(raw);
  const auto rawBytes = ReadAll(*raw);
  const auto rawParts = ListPartitions(*raw);
  ASSERT_EQ(rawParts.size(), 2u);
  for (const char* kind : {"E01", "qcow2", "vhdx", "vmdk", "vhd", "split"}) {
    SCOPED_TRACE(kind);
    std::string why;
    const fs::path image = Make(kind, "mbr", why);
    if (image.empty()) GTEST_SKIP() << why;
    const auto source = TVolumeSource::Open(image.string(), &why);
    ASSERT_TRUE(source) << why;
    ASSERT_EQ(source->Size(), raw->Size());
    EXPECT_TRUE(ReadAll(*source) == rawBytes);
    // Only a file that holds the bytes as they are may be copied by the kernel.
    EXPECT_EQ(source->Descriptor(), -1);
    EXPECT_EQ(source->Files().front(), image.string());
    const auto parts = ListPartitions(*source);
    ASSERT_EQ(parts.size(), rawParts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].Offset, rawParts[i].Offset);
      const auto part = TVolumeSource::Open(image.string(), parts[i].Offset, parts[i].Length);
      const auto rawPart = TVolumeSource::Open(raw->Path(), parts[i].Offset, parts[i].Length);
      ASSERT_TRUE(part && rawPart);
      const TVolumeFacts facts = ProbeVolumeFacts(*part), rawFacts = ProbeVolumeFacts(*rawPart);
      EXPECT_EQ(facts.Label, rawFacts.Label);
      EXPECT_EQ(facts.FileSystemName, rawFacts.FileSystemName);
    }
  }
}

// libblkid reads a container's volume in a copy of the places its probes look at: the labels that
// lie in the root folder or the MFT come out as the raw volume's.
TEST_F(ImageSource, EveryFileSystemsNameAndLabelComeOutOfAContainer) {
  for (const char* name : {"fat12", "fat16", "fat32", "exfat", "ntfs"}) {
    SCOPED_TRACE(name);
    std::string why;
    const fs::path image = Make("qcow2", name, why);
    if (image.empty()) GTEST_SKIP() << why;
    const auto source = TVolumeSource::Open(image.string());
    const auto raw = TVolumeSource::Open(Raw(name).string());
    ASSERT_TRUE(source && raw);
    const TVolumeFacts facts = ProbeVolumeFacts(*source), rawFacts = ProbeVolumeFacts(*raw);
    EXPECT_FALSE(rawFacts.Label.empty());
    EXPECT_EQ(facts.Label, rawFacts.Label);
    EXPECT_EQ(facts.FileSystemName, rawFacts.FileSystemName);
  }
}

TEST_F(ImageSource, SegmentsAndPiecesAreAllFilesOfTheImageAndNeverCopiedByTheKernel) {
  std::string why;
  const fs::path e01 = Make("E01", "mbr", why);
  if (e01.empty()) GTEST_SKIP() << why;
  const auto source = TVolumeSource::Open(e01.string());
  ASSERT_TRUE(source);
  ASSERT_EQ(source->Files().size(), 2u);
  EXPECT_EQ(fs::path(source->Files()[1]).filename(), "mbr.E02");

  // A VMDK descriptor names the extent files that hold the bytes.
  const fs::path descriptor = Make("vmdk-flat", "fat32", why);
  if (descriptor.empty()) GTEST_SKIP() << why;
  const auto flat = TVolumeSource::Open(descriptor.string(), &why);
  ASSERT_TRUE(flat) << why;
  EXPECT_EQ(flat->Files(), (std::vector<std::string>{descriptor.string(),
                                                     (descriptor.parent_path() / "fat32-flat.vmdk").string()}));

  test::TTempDir out;
  auto file = TOutputFile::CreateNew((out / "copy").string());
  ASSERT_TRUE(file);
  errno = 0;
  EXPECT_EQ(file->AppendFromVolume(*source, 0, 4096), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
}

TEST_F(ImageSource, BrokenImagesSayWhichFileAndWhy) {
  std::string why;
  const fs::path e01 = Make("E01", "mbr", why);
  if (e01.empty()) GTEST_SKIP() << why;
  const fs::path second = fs::path(e01).replace_extension(".E02");
  const auto bytes = test::ReadFile(second);

  fs::rename(second, Dir->Path() / "aside.E02");
  EXPECT_NE(OpenError(e01).find("mbr.E02 of the E01 image is missing"), std::string::npos);
  fs::rename(Dir->Path() / "aside.E02", second);

  test::WriteFile(second, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  EXPECT_NE(OpenError(e01).find("mbr.E02 of the E01 image is truncated"), std::string::npos);
  test::WriteFile(second, bytes);

  auto first = test::ReadFile(e01);
  const auto header = first;
  std::fill(first.begin() + 13, first.begin() + 40, 'X');  // the first section's descriptor
  test::WriteFile(e01, first);
  EXPECT_NE(OpenError(e01).find("damaged E01 image"), std::string::npos);
  test::WriteFile(e01, header);

  const fs::path ex01 = Dir->Path() / "new.Ex01";
  test::WriteFile(ex01, {'E', 'V', 'F', '2', 0x0d, 0x0a, 0x81, 0x00, 0, 0, 0, 0});
  EXPECT_NE(OpenError(ex01).find("Ex01"), std::string::npos);

  const fs::path qcow = Make("qcow2", "fat32", why);
  if (qcow.empty()) GTEST_SKIP() << why;
  const fs::path child = Dir->Path() / "child.qcow2";
  ASSERT_EQ(test::RunCommand("qemu-img create -q -f qcow2 -F qcow2 -b " + test::ShellQuote(qcow.string()) + " " +
                             test::ShellQuote(child.string()))
                .Status,
            0);
  const auto over = TVolumeSource::Open(child.string(), &why);
  ASSERT_TRUE(over) << why;
  EXPECT_EQ(over->Files(), (std::vector<std::string>{child.string(), qcow.string()}));
  fs::rename(qcow, Dir->Path() / "aside.qcow2");
  EXPECT_NE(OpenError(child).find("parent " + qcow.string() + " is missing"), std::string::npos);
  fs::rename(Dir->Path() / "aside.qcow2", qcow);

  // The header's encryption method, at byte 32, set to AES.
  auto encrypted = test::ReadFile(qcow);
  encrypted[35] = 1;
  const fs::path locked = Dir->Path() / "locked.qcow2";
  test::WriteFile(locked, encrypted);
  EXPECT_NE(OpenError(locked).find("encrypted qcow2 image"), std::string::npos);
}

TEST_F(ImageSource, SplitPiecesMustFollowOnAndBeWhole) {
  std::string why;
  const fs::path first = Make("split", "fat32", why);
  if (first.empty()) GTEST_SKIP() << why;
  const fs::path third = fs::path(first).replace_extension(".003");
  fs::rename(third, Dir->Path() / "aside");
  EXPECT_NE(OpenError(first).find("fat32.003 of the split image is missing"), std::string::npos);
  fs::rename(Dir->Path() / "aside", third);
  fs::resize_file(third, 1000);
  EXPECT_NE(OpenError(first).find("fat32.003 of the split image is shorter"), std::string::npos);
}

TEST_F(ImageSource, ACorruptChunkReadsAsUnreadableBytesAndTheRestStaysReadable) {
  std::string why;
  const fs::path e01 = Make("E01", "ntfs", why);
  if (e01.empty()) GTEST_SKIP() << why;
  auto bytes = test::ReadFile(e01);
  for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5A;
  test::WriteFile(e01, bytes);
  const auto raw = TVolumeSource::Open(Raw("ntfs").string());
  const auto source = TVolumeSource::Open(e01.string(), &why);
  ASSERT_TRUE(raw && source) << why;
  const auto expected = ReadAll(*raw);
  std::vector<std::uint8_t> block(32768);
  std::int64_t bad = 0;
  for (std::int64_t at = 0; at < source->Size(); at += 32768) {
    const std::uint32_t got = source->Read(block.data(), 32768, at);
    ASSERT_TRUE(std::equal(block.begin(), block.begin() + got, expected.begin() + at)) << "at " << at;
    bad += 32768 - got;
  }
  EXPECT_GT(bad, 0);
  EXPECT_LT(bad, source->Size() / 4);
}

}  // namespace
}  // namespace kestrine::platform
