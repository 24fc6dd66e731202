// Application facts: the name rule, binary property lists, identifiers and
// a language that cannot be stored.
#include "TestSupport.h"

#include "app/Utils.h"

#include <plist/plist.h>

using namespace corvane;
using namespace corvane::test;

TEST(AppName, DisplayNameThenNameThenExecutable) {
  TempDir tmp;
  auto name = [&](std::map<std::string, std::string> info) {
    return Utils(openBundle(makeBundle(tmp.path(), "N", info))).getAppName();
  };
  EXPECT_EQ(name({{"CFBundleDisplayName", "Shown"}, {"CFBundleName", "N"}}), "Shown");
  EXPECT_EQ(name({{"CFBundleDisplayName", ""}, {"CFBundleName", "Named"}}), "Named");
  EXPECT_EQ(name({{"CFBundleDisplayName", "(null)"}, {"CFBundleExecutable", "exe"}}), "exe");
  EXPECT_EQ(name({{"CFBundleName", "Plain"}}), "Plain");
  EXPECT_EQ(Utils(openBundle(makeBundle(tmp.path(), "N", {}))).getAppVersion(), "(null)");
}

TEST(InfoPlist, BinaryPropertyListsReadLikeXml) {
  TempDir tmp;
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleName", plist_new_string("Bin"));
  plist_dict_set_item(dict, "CFBundleVersion", plist_new_string("58"));
  plist_dict_set_item(dict, "EnableUseDebugHost", plist_new_bool(1));
  char* bin = nullptr;
  uint32_t len = 0;
  plist_to_bin(dict, &bin, &len);
  writeFile(tmp / "B.app/Contents/Info.plist", std::string(bin, len));
  free(bin);
  plist_free(dict);

  Utils u(openBundle(tmp / "B.app"));
  EXPECT_EQ(u.getAppName(), "Bin");
  EXPECT_EQ(u.getAppBuildVersion(), "58");
  EXPECT_TRUE(u.getEnableUseDebugHost());

  writeFile(tmp / "Bad.app/Contents/Info.plist", "garbage");
  std::string why;
  EXPECT_FALSE(Bundle::open(tmp / "Bad.app", &why));
  EXPECT_THAT(why, testing::HasSubstr("Info.plist"));
  EXPECT_FALSE(Bundle::open(tmp / "None.app", &why));
}

TEST(Identifier, DeclaredOrDerivedFromWhereTheBundleIs) {
  TempDir tmp;
  EXPECT_EQ(openBundle(makeBundle(tmp.path(), "D", {{"CFBundleIdentifier", "test.declared"}})).identifier(),
            "test.declared");
  const std::string a = makeBundle(tmp / "one", "Same Name", {});
  const std::string b = makeBundle(tmp / "two", "Same Name", {});
  const std::string idA = openBundle(a).identifier();
  EXPECT_THAT(idA, testing::MatchesRegex("corvane\\.unidentified\\.Same_Name-[0-9a-f]{12}"));
  EXPECT_EQ(openBundle(a).identifier(), idA) << "stable while the bundle stays";
  EXPECT_NE(openBundle(b).identifier(), idA) << "two bundles without identifier never share one";
}

TEST(Languages, AUserLanguageThatCannotBeStoredIsReportedAsNotSet) {
  TempDir tmp;
  EnvGuard env;
  writeFile(tmp / "not-a-folder", "x");
  env.set("XDG_CONFIG_HOME", tmp / "not-a-folder");
  testing::internal::CaptureStderr();
  Utils u(openBundle(makeBundle(tmp.path(), "L", {{"CFBundleIdentifier", "test.unwritable"}})));
  EXPECT_FALSE(u.setUserLanguage("ja"));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("cannot write user defaults"));
}
