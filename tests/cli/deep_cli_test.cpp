// kestrine-cli --deep: cards without records recovered whole, ids that never move, single files by id.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/support/test_support.h"

namespace kestrine {
namespace {

using nlohmann::json;
using test::ShellQuote;

class DeepCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    for (const char* name : {"deep_quick", "deep_zeroed", "deep_exfat"})
      ASSERT_FALSE(test::UnpackImage(test::TestDataDir() / (std::string(name) + ".img.xz"), Dir->Path()).empty());
    std::ifstream in(test::TestDataDir() / "deep_manifest.json");
    Manifest = new json(json::parse(in));
  }
  static void TearDownTestSuite() {
    delete Dir;
    delete Manifest;
  }
  static std::string Image(const std::string& Name) { return ShellQuote((Dir->Path() / (Name + ".img")).string()); }
  static test::TCommandResult Cli(const std::string& Args) {
    const char* cli = std::getenv("KESTRINE_CLI");
    return test::RunCommand("TZ=UTC KESTRINE_DRIVES= timeout 120 " + ShellQuote(cli ? cli : "kestrine-cli") + " " +
                            Args + " 2>" + ShellQuote((Dir->Path() / "stderr").string()));
  }
  static std::string Stderr() {
    const auto b = test::ReadFile(Dir->Path() / "stderr");
    return std::string(b.begin(), b.end());
  }
  // Id to path of a scan's JSON list.
  static std::map<std::int64_t, std::string> Listed(const std::string& Args) {
    const auto result = Cli("scan " + Args + " --folders --format json");
    EXPECT_EQ(result.Status, 0) << Stderr();
    std::map<std::int64_t, std::string> ids;
    for (const json& row : json::parse(result.Output))
      ids.emplace(row["id"].get<std::int64_t>(), row["path"].get<std::string>());
    return ids;
  }

  static test::TTempDir* Dir;
  static json* Manifest;
};
test::TTempDir* DeepCli::Dir = nullptr;
json* DeepCli::Manifest = nullptr;

TEST_F(DeepCli, RecoverAllWritesEveryOriginalLyingWholeWithItsDigest) {
  for (const std::string card : {"deep_quick", "deep_zeroed", "deep_exfat"}) {
    SCOPED_TRACE(card);
    const auto out = Dir->Path() / (card + "-out");
    const auto report = Dir->Path() / (card + ".json");
    const auto result = Cli("recover " + Image(card) + " --deep --all --out " + ShellQuote(out.string()) +
                            " --report " + ShellQuote(report.string()));
    ASSERT_EQ(result.Status, 0) << Stderr();
    std::ifstream in(report);
    std::set<std::string> written;
    for (const json& row : json::parse(in))
      if (row["outcome"] == "written") written.insert(row["sha256"].get<std::string>());
    for (const json& f : (*Manifest)[card + ".img"]) {
      if (f["offset"].is_null()) continue;
      EXPECT_TRUE(written.contains(f["sha256"].get<std::string>())) << f["name"];
    }
  }
}

// The plain scan's items (a note saved and deleted after the format, the root) keep the ids they have
// without --deep; the deep scan's follow all of them, and a second scan gives every item the same id.
TEST_F(DeepCli, PlainIdsStayAndDeepIdsFollowThem) {
  const auto plain = Listed(Image("deep_quick"));
  const auto deep = Listed(Image("deep_quick") + " --deep");
  ASSERT_FALSE(plain.empty());
  ASSERT_GT(deep.size(), plain.size());
  for (const auto& [id, path] : plain) EXPECT_EQ(deep.count(id) ? deep.at(id) : "", path) << id;
  for (const auto& [id, path] : deep)
    if (!plain.count(id)) {
      EXPECT_GT(id, plain.rbegin()->first) << path;
      EXPECT_TRUE(path.starts_with("$Deep scan") || path.starts_with("$Lost folders")) << path;
    }
  EXPECT_EQ(Listed(Image("deep_quick") + " --deep"), deep);
}

TEST_F(DeepCli, ASourceWithoutFileSystemNeedsDeepAndGivesSingleFilesById) {
  EXPECT_EQ(Cli("scan " + Image("deep_zeroed")).Status, 1);
  EXPECT_NE(Stderr().find("--deep"), std::string::npos) << Stderr();

  std::string gif;
  for (const json& f : (*Manifest)["deep_zeroed.img"])
    if (f["name"] == "spinner.gif") gif = f["sha256"];
  std::int64_t id = -1;
  for (const auto& [at, path] : Listed(Image("deep_zeroed") + " --deep"))
    if (path.starts_with("$Deep scan/GIF/")) id = at;
  ASSERT_GE(id, 0);
  const auto bytes = Cli("cat " + Image("deep_zeroed") + " --deep '#" + std::to_string(id) + "' | sha256sum");
  EXPECT_EQ(bytes.Output.substr(0, 64), gif);
}

}  // namespace
}  // namespace kestrine
