// The names and versions packages get from a bundle, and the tables that
// map the bundle's category and content types onto the desktop's.
#include "kit/AppMetadata.h"
#include "kit/DebianFiles.h"
#include "kit/Metainfo.h"
#include "kit/PackageNames.h"

#include <gtest/gtest.h>

using namespace corvane::kit;

TEST(PackageNames, DebianNameFromIdentifier) {
  const std::pair<const char*, const char*> cases[] = {
      {"app.corvane.showcase", "app.corvane.showcase"},
      {"com.Example.My_App", "com.example.my-app"},
      {"com.example.my__app", "com.example.my-app"},
      {"_private.Tool", "private.tool"},
      {"com.example.app-", "com.example.app"},
      {"org.example.Caf\xc3\xa9.Menu", "org.example.caf-.menu"},
      {"org.ex\xe2\x82\xac\xe2\x82\xacx.y", "org.ex-x.y"},
      {"a..b", "a.b"},
      {"c++.editor", "c++.editor"},
      {"-", ""},
      {"x", ""},
  };
  for (const auto& [identifier, name] : cases) EXPECT_EQ(debianPackageName(identifier), name) << identifier;
}

TEST(PackageNames, VersionFromBundleVersions) {
  // In dpkg's order "~" puts a pre-release before its release, "+" a later
  // build after it.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"1.0.0", "1", "1.0.0+1"},    {"1.0.0", "1.0.0", "1.0.0"}, {"1.0.0", "", "1.0.0"},
      {"2.0-beta1", "", "2.0~beta1"}, {"2.0", "2024-05", "2.0+2024~05"}, {"v1.0", "", "refused"},
      {"", "3", "refused"},         {"1.0 final", "", "refused"}, {"1.0", "build 7", "refused"},
      {"1.0", "r:7", "refused"},
  };
  for (const auto& [shortVersion, build, version] : cases) {
    std::string why;
    const auto v = debianVersion(shortVersion, build, &why);
    EXPECT_EQ(v.value_or(why.empty() ? "refused without a reason" : "refused"), version)
        << shortVersion << "+" << build;
  }
}

TEST(PackageNames, CategoriesAndContentTypes) {
  // One category and a known content type: what the package holds, in PackageDeb.
  auto puzzle = mapApplicationCategory("public.app-category.puzzle-games");
  ASSERT_TRUE(puzzle);
  EXPECT_EQ(puzzle->categories, std::vector<std::string>({"Game", "LogicGame"}));
  EXPECT_FALSE(mapApplicationCategory("public.app-category.nothing"));
  EXPECT_FALSE(mapApplicationCategory("developer-tools"));
  EXPECT_EQ(mimeTypeForContentType("com.example.own"), "");
}

TEST(PackageNames, DescriptionBlocks) {
  std::vector<std::pair<bool, std::vector<std::string>>> blocks;
  for (const auto& b : descriptionBlocks("First line\ncontinues.\n\n- one\n* two\n\n  Last.  "))
    blocks.push_back({b.list, b.items});
  EXPECT_EQ(blocks, (decltype(blocks){{false, {"First line continues."}}, {true, {"one", "two"}}, {false, {"Last."}}}));
}

TEST(PackageNames, GzipAsDebianWantsIt) {
  // No name and no time stamp (reproducible), maximum compression, and
  // gzip reads it back.
  const std::string data = std::string(5000, 'a') + "end\n";
  const std::string gz = gzipped(data);
  ASSERT_GT(gz.size(), 10u);
  EXPECT_EQ(gz.substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(gz[3] & 0x08, 0) << "a file name is stored";
  EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0')) << "a time stamp is stored";
  EXPECT_EQ(static_cast<unsigned char>(gz[8]), 2) << "not compressed with -9";
  EXPECT_EQ(gzipped(data), gz);
}
