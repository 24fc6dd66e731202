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
  struct Case {
    const char* shortVersion;
    const char* build;
    const char* version;  // nullptr: refused
  };
  // In dpkg's order "~" puts a pre-release before its release, "+" a later
  // build after it.
  const Case cases[] = {
      {"1.0.0", "1", "1.0.0+1"},
      {"1.0.0", "1.0.0", "1.0.0"},
      {"1.0.0", "", "1.0.0"},
      {"2.0-beta1", "", "2.0~beta1"},
      {"2.0", "2024-05", "2.0+2024~05"},
      {"v1.0", "", nullptr},
      {"", "3", nullptr},
      {"1.0 final", "", nullptr},
      {"1.0", "build 7", nullptr},
      {"1.0", "r:7", nullptr},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto v = debianVersion(c.shortVersion, c.build, &why);
    if (c.version) {
      ASSERT_TRUE(v) << c.shortVersion << " " << why;
      EXPECT_EQ(*v, c.version);
    } else {
      EXPECT_FALSE(v) << c.shortVersion << " gave " << *v;
      EXPECT_FALSE(why.empty());
    }
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
  const auto blocks = descriptionBlocks("First line\ncontinues.\n\n- one\n* two\n\n  Last.  ");
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_FALSE(blocks[0].list);
  EXPECT_EQ(blocks[0].items, std::vector<std::string>({"First line continues."}));
  EXPECT_TRUE(blocks[1].list);
  EXPECT_EQ(blocks[1].items, std::vector<std::string>({"one", "two"}));
  EXPECT_EQ(blocks[2].items, std::vector<std::string>({"Last."}));
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
