// The structure walks over real files made by real programs, and over what is left of them when cut.

#include "engine/deep/format_walks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using nlohmann::json;

class FormatWalks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    Image = new std::vector<std::uint8_t>(
        test::ReadFile(test::UnpackImage(test::TestDataDir() / "deep_quick.img.xz", Dir->Path())));
    std::ifstream in(test::TestDataDir() / "deep_manifest.json");
    Files = new json(json::array());
    const json manifest = json::parse(in);
    for (const json& f : manifest["deep_quick.img"])
      if (!f["offset"].is_null()) Files->push_back(f);
  }
  static void TearDownTestSuite() {
    delete Dir;
    delete Image;
    delete Files;
  }
  static std::span<const std::uint8_t> Original(const json& F) {
    return std::span<const std::uint8_t>(*Image).subspan(F["offset"].get<std::size_t>(), F["size"].get<std::size_t>());
  }
  static std::string Extension(std::string Name) {
    std::transform(Name.begin(), Name.end(), Name.begin(), [](unsigned char c) { return std::tolower(c); });
    return Name.substr(Name.rfind('.') + 1);
  }

  static test::TTempDir* Dir;
  static std::vector<std::uint8_t>* Image;
  static json* Files;
};
test::TTempDir* FormatWalks::Dir = nullptr;
std::vector<std::uint8_t>* FormatWalks::Image = nullptr;
json* FormatWalks::Files = nullptr;

// Each file is followed by the rest of the card, as on a volume: its own structure must say where it
// ends (a PDF's reader stops at the next cluster, where the next file would be found).
TEST_F(FormatWalks, EveryRealFileEndsExactlyWhereItsStructureSays) {
  ASSERT_FALSE(Files->empty());
  for (const json& f : *Files) {
    SCOPED_TRACE(f["name"].get<std::string>());
    const auto offset = f["offset"].get<std::size_t>();
    const auto size = f["size"].get<std::int64_t>();
    const TSignature* signature = MatchSignature(std::span<const std::uint8_t>(*Image).subspan(offset, kSignatureHead));
    ASSERT_NE(signature, nullptr);
    const std::size_t room = signature->UntilNextHeader ? (size + 511) / 512 * 512 : Image->size() - offset;
    TSpanReader reader(std::span<const std::uint8_t>(*Image).subspan(offset, room));
    const auto found = signature->Walk(reader);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Length, size);
    EXPECT_EQ(found->Ext, Extension(f["name"]));
  }
}

// A file whose end was overwritten is not taken for a whole one, and no walk reads past its reader.
// MP3 frames stand each on their own: a cut song is the frames that are left.
TEST_F(FormatWalks, CutFilesAreRefusedOrEndInsideWhatIsLeft) {
  for (const json& f : *Files) {
    SCOPED_TRACE(f["name"].get<std::string>());
    const bool framed = Extension(f["name"]) == "mp3";
    const auto original = Original(f);
    const TSignature* signature = MatchSignature(original.first(kSignatureHead));
    ASSERT_NE(signature, nullptr);
    for (const std::size_t keep : {original.size() / 2, original.size() - 1, std::size_t{64}}) {
      TSpanReader reader(original.first(keep));
      const auto found = signature->Walk(reader);
      if (found && !signature->UntilNextHeader && !framed) ADD_FAILURE() << "taken whole when cut to " << keep;
      if (found) {
        EXPECT_LE(found->Length, static_cast<std::int64_t>(keep));
      }
    }
  }
}

TEST(FormatWalkKinds, ZipMembersAndMediaBrandsDecideTheType) {
  auto zipWith = [](const std::string& Member) {
    std::vector<std::uint8_t> b(30 + Member.size());
    const std::uint8_t local[] = {'P', 'K', 3, 4};
    std::copy(std::begin(local), std::end(local), b.begin());
    test::PutLe16(b, 26, static_cast<std::uint16_t>(Member.size()));
    std::copy(Member.begin(), Member.end(), b.begin() + 30);
    const std::size_t directory = b.size();
    b.resize(directory + 46 + Member.size());
    test::PutLe32(b, directory, 0x02014B50);
    test::PutLe16(b, directory + 28, static_cast<std::uint16_t>(Member.size()));
    std::copy(Member.begin(), Member.end(), b.begin() + static_cast<std::ptrdiff_t>(directory + 46));
    const std::size_t end = b.size();
    b.resize(end + 22 + 3);
    test::PutLe32(b, end, 0x06054B50);
    test::PutLe16(b, end + 10, 1);
    test::PutLe32(b, end + 12, static_cast<std::uint32_t>(end - directory));
    test::PutLe32(b, end + 16, static_cast<std::uint32_t>(directory));
    test::PutLe16(b, end + 20, 3);  // the comment belongs to the file
    b.resize(b.size() + 100, 0xAA);
    return b;
  };
  for (const auto& [member, ext] : std::vector<std::pair<std::string, std::string>>{{"word/document.xml", "docx"},
                                                                                    {"xl/workbook.xml", "xlsx"},
                                                                                    {"ppt/presentation.xml", "pptx"},
                                                                                    {"META-INF/MANIFEST.MF", "jar"},
                                                                                    {"photo.jpg", "zip"}}) {
    const auto bytes = zipWith(member);
    TSpanReader reader(bytes);
    const auto found = WalkZip(reader);
    ASSERT_TRUE(found) << member;
    EXPECT_EQ(found->Ext, ext);
    EXPECT_EQ(found->Length, static_cast<std::int64_t>(bytes.size() - 100));
  }
  for (const auto& [brand, ext] : std::vector<std::pair<std::string, std::string>>{
           {"heic", "heic"}, {"qt  ", "mov"}, {"3gp5", "3gp"}, {"M4A ", "m4a"}, {"isom", "mp4"}}) {
    std::vector<std::uint8_t> b = {0, 0, 0, 16, 'f', 't', 'y', 'p'};
    b.insert(b.end(), brand.begin(), brand.end());
    const char* index = ext == "heic" ? "meta" : "moov";
    b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0, 8});
    b.insert(b.end(), index, index + 4);
    b.insert(b.end(), {0, 0, 0, 10, 'm', 'd', 'a', 't', 0xDE, 0xAD, 0, 0, 0, 0});
    TSpanReader reader(b);
    const auto found = WalkIsoMedia(reader);
    ASSERT_TRUE(found) << brand;
    EXPECT_EQ(found->Ext, ext);
    EXPECT_EQ(found->Length, 34);
  }
}

}  // namespace
}  // namespace kestrine
