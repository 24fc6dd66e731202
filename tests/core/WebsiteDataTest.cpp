// An older website-data folder kept by name is taken over by copying; a
// copy that cannot be made leaves the old folder in use.
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

TEST_F(WebsiteDataFolders, ACopyThatCannotBeMadeKeepsTheOldFolderInUse) {
  const std::string legacy = tmp / "data/Name/WebsiteData";
  writeFile(legacy + "/localstorage/file__0.localstorage", "local");
  // The place of the new folder is taken by a file: no copy can land there.
  writeFile(tmp / "data/corvane/com.example.a", "in the way");
  EXPECT_EQ(WebsiteData::prepare("com.example.a", legacy), legacy);
  EXPECT_EQ(readFile(legacy + "/localstorage/file__0.localstorage"), "local");
}
