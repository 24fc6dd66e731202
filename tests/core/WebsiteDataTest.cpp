// Where website data lives and how an older folder kept by name is taken
// over: by copying, never losing or moving anything.
#include "TestSupport.h"

#include "app/WebsiteData.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class WebsiteDataFolders : public testing::Test {
 protected:
  void SetUp() override {
    env.set("XDG_DATA_HOME", tmp / "data");
    env.set("XDG_CACHE_HOME", tmp / "cache");
  }
  TempDir tmp;
  EnvGuard env;
};

}  // namespace

TEST_F(WebsiteDataFolders, OneFolderPerIdentifier) {
  EXPECT_EQ(WebsiteData::dataDirectory("com.example.a"), tmp / "data/corvane/com.example.a/WebsiteData");
  EXPECT_EQ(WebsiteData::cacheDirectory("com.example.a"), tmp / "cache/corvane/com.example.a/WebKit");
  EXPECT_NE(WebsiteData::dataDirectory("com.example.a"), WebsiteData::dataDirectory("com.example.b"));
  // Identifiers are file names: no way out of the folder.
  EXPECT_EQ(WebsiteData::dataDirectory("../x/y"), tmp / "data/corvane/.._x_y/WebsiteData");
}

TEST_F(WebsiteDataFolders, NothingToTakeOverMakesNothing) {
  const std::string target = WebsiteData::prepare("com.example.a", tmp / "data/Name/WebsiteData");
  EXPECT_EQ(target, WebsiteData::dataDirectory("com.example.a"));
  EXPECT_FALSE(fs::exists(target)) << "WebKit makes the folder itself";
}

TEST_F(WebsiteDataFolders, AnOlderFolderIsCopiedAndKept) {
  const std::string legacy = tmp / "data/Name/WebsiteData";
  writeFile(legacy + "/localstorage/file__0.localstorage", "local");
  writeFile(legacy + "/databases/indexeddb/v1/db.sqlite3", "idb");
  fs::create_symlink("file__0.localstorage", legacy + "/localstorage/link");

  const std::string target = WebsiteData::prepare("com.example.a", legacy);
  EXPECT_EQ(target, WebsiteData::dataDirectory("com.example.a"));
  EXPECT_EQ(readFile(target + "/localstorage/file__0.localstorage"), "local");
  EXPECT_EQ(readFile(target + "/databases/indexeddb/v1/db.sqlite3"), "idb");
  EXPECT_TRUE(fs::is_symlink(target + "/localstorage/link"));
  EXPECT_EQ(readFile(legacy + "/localstorage/file__0.localstorage"), "local") << "the old folder stays";
  for (const auto& e : fs::directory_iterator(fs::path(target).parent_path()))
    EXPECT_EQ(e.path().filename(), "WebsiteData") << "no staging folder is left";

  // Another application of the same name gets its own copy; the first
  // application's folder, once there, is never copied over again.
  writeFile(legacy + "/localstorage/file__0.localstorage", "changed later");
  EXPECT_EQ(readFile(WebsiteData::prepare("com.example.b", legacy) + "/localstorage/file__0.localstorage"),
            "changed later");
  EXPECT_EQ(readFile(WebsiteData::prepare("com.example.a", legacy) + "/localstorage/file__0.localstorage"), "local");
}

TEST_F(WebsiteDataFolders, ACopyThatCannotBeMadeKeepsTheOldFolderInUse) {
  const std::string legacy = tmp / "data/Name/WebsiteData";
  writeFile(legacy + "/localstorage/file__0.localstorage", "local");
  // The place of the new folder is taken by a file: no copy can land there.
  writeFile(tmp / "data/corvane/com.example.a", "in the way");
  EXPECT_EQ(WebsiteData::prepare("com.example.a", legacy), legacy);
  EXPECT_EQ(readFile(legacy + "/localstorage/file__0.localstorage"), "local");
}
