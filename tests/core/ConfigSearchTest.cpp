// Finding and reading the main configuration.
#include "TestSupport.h"

#include "app/Log.h"
#include "app/Utils.h"

using namespace corvane;
using namespace corvane::test;
using testing::HasSubstr;

namespace {

class ConfigSearch : public testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", tmp / "home");
    env.set("XDG_DATA_HOME", tmp / "home/.local/share");
    env.set("FLATPAK_ID", std::nullopt);
    fs::create_directories(tmp / "home");
    bundlePath = makeBundle(tmp.path(), "Demo", info);
  }
  Utils utils() { return Utils(openBundle(bundlePath)); }
  std::string pub(const std::string& rel) { return bundlePath + "/Contents/Resources/public/" + rel; }

  TempDir tmp;
  EnvGuard env;
  std::map<std::string, std::string> info{{"CFBundleName", "Demo"},
                                          {"CFBundleIdentifier", "test.demo"}};
  std::string bundlePath;
};

}  // namespace

TEST_F(ConfigSearch, BootStrapListKeepsOnlyNonEmptyTextsInOrder) {
  writeFile(pub("ian.json"), R"({"BootStrapList": ["", 7, "a.json", null, {"x":1}, "b.json"]})");
  EXPECT_EQ(utils().getMainConfigJsonFileList(), (std::vector<std::string>{"a.json", "b.json"}));

  writeFile(pub("ian.json"), R"({"BootStrapList": "a.json"})");
  EXPECT_TRUE(utils().getMainConfigJsonFileList().empty());
  writeFile(pub("ian.json"), "not json");
  EXPECT_TRUE(utils().getMainConfigJsonFileList().empty());
}

TEST_F(ConfigSearch, FirstReadableBootStrapCandidateWinsAfterExpansion) {
  writeFile(tmp / "home/broken.json", "{");
  writeFile(tmp / "home/first.json", R"({"which": "first"})");
  writeFile(tmp / "home/second.json", R"({"which": "second"})");
  writeFile(pub("project.json"), R"({"which": "default"})");
  writeFile(pub("ian.json"),
            R"({"BootStrapList": ["${HOME}/missing.json", "${HOME}/broken.json",
                                  "${HOME}/first.json", "${HOME}/second.json"]})");
  auto u = utils();
  EXPECT_EQ(u.findMainConfigFile().file, tmp / "home/first.json");
  EXPECT_EQ(u.getMainconfigDic()->at("which"), "first");
}

// The line for each name not found is checked on the real executable.
TEST_F(ConfigSearch, DefaultNamesInOrder) {
  writeFile(pub("package.json"), R"({"which": "package"})");
  EXPECT_EQ(utils().findMainConfigFile().file, pub("package.json"));

  writeFile(pub("project.json"), R"({"which": "project"})");
  EXPECT_EQ(utils().getMainconfigDic()->at("which"), "project");
}

TEST_F(ConfigSearch, WebUIDirIsTriedBeforeTheBundle) {
  fs::create_directories(tmp / "ui/public");
  info["CFZavrelonSpecPublicDirectory"] = "${HOME}/../ui";
  bundlePath = makeBundle(tmp.path(), "Demo", info);
  writeFile(pub("project.json"), R"({"which": "bundle"})");

  testing::internal::CaptureStderr();
  auto u = utils();
  auto found = u.findMainConfigFile();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(u.webUIDir.has_value());
  EXPECT_EQ(found.file, pub("project.json"));
  EXPECT_THAT(err, HasSubstr("ui/public/project.json) not exist."));
  EXPECT_THAT(err, HasSubstr("ui/public/package.json) not exist."));

  writeFile(tmp / "ui/public/package.json", R"({"which": "webui"})");
  EXPECT_EQ(utils().getMainconfigDic()->at("which"), "webui");
}

TEST_F(ConfigSearch, SpecPublicDirectoryMustBeAnExistingFolder) {
  for (const char* value : {"", "(null)", "/no/such/folder"}) {
    info["CFZavrelonSpecPublicDirectory"] = value;
    bundlePath = makeBundle(tmp.path(), "Demo", info);
    EXPECT_FALSE(utils().webUIDir.has_value()) << value;
  }
}

TEST_F(ConfigSearch, NullMembersAreDropped) {
  writeFile(pub("project.json"), R"({"AppExInfo": {"HomePageURL": "https://a"}, "Tasks": null})");
  auto u = utils();
  EXPECT_FALSE(u.getMainconfigDic()->contains("Tasks"));
  EXPECT_EQ(u.ex_getFAQURL(), "");
}

TEST_F(ConfigSearch, NoMainConfigByDesignAnswersNone) {
  info["CFBundleAppleEnableNoFindMainConfigForApp"] = "YES";
  bundlePath = makeBundle(tmp.path(), "Demo", info);
  auto u = utils();
  EXPECT_FALSE(u.getMainconfigDic().has_value());
  EXPECT_FALSE(u.getAppExConfigDic().has_value());
  EXPECT_EQ(u.getReleaseServer().empty(), false);
  EXPECT_FALSE(u.getEnableDeveloperDebug());
}

TEST_F(ConfigSearch, DeveloperDebugFromConfigOrDebugFile) {
  writeFile(pub("project.json"), R"({"enableDeveloperDebug": false})");
  auto u = utils();
  EXPECT_FALSE(u.getEnableDeveloperDebug());
  writeFile(u.getAppDataHomeDir() + "/_debug_.json", "{}");
  EXPECT_TRUE(u.getEnableDeveloperDebug());
}

TEST_F(ConfigSearch, BundleURLGettersTreatEmptyAndNullTextAsNone) {
  info["homePageURL"] = "https://home";
  info["FAQURL"] = "(null)";
  info["BuyURL"] = "";
  bundlePath = makeBundle(tmp.path(), "Demo", info);
  writeFile(pub("project.json"), "{}");
  auto u = utils();
  EXPECT_EQ(u.getAppBundle_HomePageURL(), "https://home");
  EXPECT_FALSE(u.getAppBundle_FAQURL());
  EXPECT_FALSE(u.getAppBundle_BuyURL());
  EXPECT_FALSE(u.getAppBundle_ReviewURL());
}

TEST_F(ConfigSearch, UnreadableConfigurationsSayWhyAndWhere) {
  auto fails = [&](const std::string& text, const std::string& why) {
    writeFile(pub("project.json"), text);
    EXPECT_EXIT(utils().getMainconfigDic(), testing::ExitedWithCode(3912 & 255),
                "error: main configuration cannot be read: .*project\\.json: " + why +
                    "(.|\n)*info: mainconfigDic = nil")
        << text.substr(0, 40);
  };
  fails("{\n  \"AppExInfo\": {\"size\": [1, 2],}\n}", "parse error at line 2, column 32: syntax error");
  fails("[1, 2]", "the top level is an array, not an object");
  fails("{\"a\": \"\xff\"}", "parse error at line 1, column 8: syntax error while parsing value - invalid string: "
                            "ill-formed UTF-8 byte");
  // Deep enough to overflow the stack wherever a value is copied or printed.
  fails("{\"Tasks\": [{\"id\": " + std::string(100000, '[') + std::string(100000, ']') + "}]}",
        "nesting deeper than 256 levels at line 1, column 272");
  fails("{\"AppExInfo\": {\"x\": " + std::string(1000000, '[') + "}}",
        "nesting deeper than 256 levels at line 1, column 275");
}

// Which configuration wins over which is checked end to end by the kit's
// quiet application; here, the words the configuration may use.
TEST(LogLevels, NamesAreCaseBlindWithTheShellsOwnWords) {
  for (const auto& [name, level] : std::vector<std::pair<std::string, spdlog::level::level_enum>>{
           {"quiet", spdlog::level::warn}, {"verbose", spdlog::level::trace}, {"Error", spdlog::level::err},
           {"warning", spdlog::level::warn}, {"off", spdlog::level::off}, {"debug", spdlog::level::debug}})
    EXPECT_EQ(logLevelNamed(name), level) << name;
  EXPECT_EQ(logLevelNamed("loud"), std::nullopt);
}
