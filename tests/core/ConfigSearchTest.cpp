// Finding and reading the main configuration; folder queries, placeholder
// expansion, prefix stripping and the exported environment.
#include "TestSupport.h"

#include "app/Log.h"
#include "app/Utils.h"

using namespace corvane;
using namespace corvane::test;
using testing::HasSubstr;

namespace {

class AppFolders : public testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", tmp / "home");
    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("XDG_CACHE_HOME", std::nullopt);
    env.set("XDG_CONFIG_HOME", tmp / "home/.config");
    env.set("TMPDIR", tmp / "t");
    env.set("FLATPAK_ID", std::nullopt);
    fs::create_directories(tmp / "home");
    bundlePath = makeBundle(tmp.path(), "Demo", info);
  }
  Utils utils() { return Utils(openBundle(bundlePath)); }
  std::string pub(const std::string& rel) { return bundlePath + "/Contents/Resources/public/" + rel; }
  static std::string getenvText(const char* n) {
    const char* v = std::getenv(n);
    return v ? v : "<unset>";
  }

  TempDir tmp;
  EnvGuard env;
  std::map<std::string, std::string> info{{"CFBundleName", "Demo"},
                                          {"CFBundleIdentifier", "test.demo"},
                                          {"CFBundleShortVersionString", "2.1"},
                                          {"CFBundleVersion", "57"}};
  std::string bundlePath;
};
using ConfigSearch = AppFolders;
using Folders = AppFolders;

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

TEST_F(Folders, PlaceholdersExpandInTableOrder) {
  auto u = utils();
  const std::string home = tmp / "home";
  EXPECT_EQ(u.update_env_string("${HOME}/a"), home + "/a");
  EXPECT_EQ(u.update_env_string("${DOCUMENTS}/b"), home + "/Documents/b");
  EXPECT_EQ(u.update_env_string("${LIBRARY}"), home + "/Library");
  EXPECT_EQ(u.update_env_string("${BUNDLE}"), bundlePath);
  EXPECT_EQ(u.update_env_string("${BUNDEL_RESOURCE}"), bundlePath + "/Contents/Resources");
  EXPECT_EQ(u.update_env_string("${BUNDEL_PLUGIN}"), bundlePath + "/Contents/PlugIns");
  EXPECT_EQ(u.update_env_string("${BUNDLE_PLUGIN}|${BUNDLE_RESOURCE}"),
            "${BUNDLE_PLUGIN}|${BUNDLE_RESOURCE}");
  EXPECT_EQ(u.update_env_string("${TEMP}x${TEMP}y"), tmp / "t/x" + tmp / "t/y");
  EXPECT_EQ(u.update_env_string("${CACHE}"), home + "/.cache");
  EXPECT_EQ(u.update_env_string("${APPDATA_HOME}"), home + "/.local/share/Demo");
  EXPECT_EQ(u.update_env_string("${APP_UI_DIR}"), bundlePath + "/Contents/Resources/public");
  EXPECT_EQ(u.update_env_string("${APP_NAME} ${APP_VERSION} ${APP_BUILD_VERSION} ${APP_ID}"),
            "Demo 2.1 57 test.demo");
  EXPECT_EQ(u.update_env_string("$HOME ${NOPE} $"), "$HOME ${NOPE} $");
}

TEST_F(Folders, UserDirsComeFromUserDirsFile) {
  writeFile(tmp / "home/.config/user-dirs.dirs",
            "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_VIDEOS_DIR=\"/media/films\"\n");
  auto u = utils();
  EXPECT_EQ(u.path_get_desktopDir(), tmp / "home/Schreibtisch");
  EXPECT_EQ(u.path_get_moviesDir(), "/media/films");
  EXPECT_EQ(u.path_get_musicDir(), tmp / "home/Music");
  EXPECT_EQ(u.update_env_string("${DESKTOP}"), tmp / "home/Schreibtisch");
}

TEST_F(Folders, ExpansionExportsTheQueriedFolders) {
  for (const char* n : {"ZAVRELONLAB_MAIN_APP_DESKTOPDIRECTORY", "ZAVRELONLAB_MAIN_APP_APPLICATIONNAME",
                        "ZAVRELONLAB_MAIN_APP_LOCALDESTOPDIR", "ZAVRELONLAB_MAIN_APP_APPDOWNLOADDIR"})
    env.set(n, std::nullopt);
  auto u = utils();
  u.update_env_string("no placeholder here");
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_DESKTOPDIRECTORY"), tmp / "home/Desktop");
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_APPLICATIONNAME"), "Demo");
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_LOCALDESTOPDIR"), u.path_get_localDesktopDir());
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_APPDOWNLOADDIR"),
            Utils::usersRoot() + (Utils::usersRoot() == "/" ? "" : "/") + u.path_get_userName() +
                "/Downloads/Demo");
}

TEST_F(Folders, SandboxMovesHomeButNotTheUsersRealFolders) {
  auto plain = utils();
  const std::string realDocs = plain.path_get_localDocumentsDir();
  EXPECT_FALSE(plain.getSandboxEnable());

  env.set("FLATPAK_ID", "test.demo");
  auto sandboxed = utils();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(sandboxed.getSandboxEnable());
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("[SandboxEnabled] = 1"));
  const std::string container = tmp / "home/.var/app/test.demo";
  EXPECT_EQ(sandboxed.path_get_homeDir(), container);
  EXPECT_EQ(sandboxed.path_get_documentsDir(), container + "/Documents");
  EXPECT_EQ(sandboxed.getAppDataHomeDir(), container);
  EXPECT_EQ(sandboxed.path_get_localDocumentsDir(), realDocs);
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_HOMEDIRECTORY"), container);
}

TEST_F(Folders, WebUIFolderRules) {
  auto u = utils();
  EXPECT_EQ(u.path_get_appUIDirPath(), bundlePath + "/Contents/Resources/public");
  u.webUIDir = tmp / "gone";
  EXPECT_EQ(u.path_get_appUIDirPath(), "") << "a configured folder that vanished";
  fs::create_directories(tmp / "gone");
  EXPECT_EQ(u.path_get_appUIDirPath(), tmp / "gone");
}

TEST(PrefixStripping, FirstMatchingPrefixOnceCaseSensitive) {
  EXPECT_EQ(Utils::update_spec_fix_string("file:///etc/hosts"), "/etc/hosts");
  EXPECT_EQ(Utils::update_spec_fix_string("file://localhost/etc/hosts"), "/etc/hosts");
  EXPECT_EQ(Utils::update_spec_fix_string("documents://notes/a.txt"), "notes/a.txt");
  EXPECT_EQ(Utils::update_spec_fix_string("http://localhost:8080/x"), ":8080/x");
  EXPECT_EQ(Utils::update_spec_fix_string("https://localhost/x"), "/x");
  EXPECT_EQ(Utils::update_spec_fix_string("https://example.org/x"), "example.org/x");
  EXPECT_EQ(Utils::update_spec_fix_string("localhost/y"), "/y");
  EXPECT_EQ(Utils::update_spec_fix_string("file://file:///z"), "file:///z");
  EXPECT_EQ(Utils::update_spec_fix_string("FILE:///etc"), "FILE:///etc");
  EXPECT_EQ(Utils::update_spec_fix_string("/plain/path"), "/plain/path");
}

TEST(WebUrlToStoreUrl, LowersAndDropsScheme) {
  EXPECT_EQ(Utils::webUrlToMacUrl("HTTPS://Example.ORG/App"), "example.org/app");
  EXPECT_EQ(Utils::webUrlToMacUrl("ftp://x"), "ftp://x");
}

TEST_F(Folders, FoldersEndInOneSlashOrNone) {
  env.set("HOME", tmp / "home//");
  env.set("XDG_CONFIG_HOME", tmp / "home/.config/");
  env.set("XDG_CACHE_HOME", tmp / "cache/");
  env.set("TMPDIR", tmp / "t//");
  auto u = utils();
  std::string all;
  for (const char* p : {"${HOME}", "${DOCUMENTS}", "${LIBRARY}", "${TEMP}", "${CACHE}", "${APPLICATION}",
                        "${DESKTOP}", "${DOWNLOAD}", "${APPDATA_HOME}"})
    all += u.update_env_string(p) + "\n";
  EXPECT_EQ(all.find("//"), std::string::npos) << all;
  EXPECT_EQ(u.path_get_homeDir(), tmp / "home");
  EXPECT_EQ(u.path_get_documentsDir(), tmp / "home/Documents");
  EXPECT_EQ(u.path_get_tempDir(), tmp / "t/");
  EXPECT_EQ(u.path_get_cacheDir(), tmp / "cache");
  EXPECT_EQ(getenvText("ZAVRELONLAB_MAIN_APP_HOMEDIRECTORY"), tmp / "home");
  env.set("TMPDIR", std::nullopt);
  EXPECT_EQ(utils().path_get_tempDir(), "/tmp/");
}

TEST_F(Folders, OneSandboxLinePerQuery) {
  auto count = [](const std::string& text) { return countOf(text, "[SandboxEnabled] = "); };
  for (const char* sandbox : {"", "test.demo"}) {
    if (*sandbox) env.set("FLATPAK_ID", sandbox);
    auto u = utils();
    testing::internal::CaptureStderr();
    u.update_env_string("${HOME} ${DOCUMENTS} ${LIBRARY} ${APPDATA_HOME}");
    EXPECT_EQ(count(testing::internal::GetCapturedStderr()), 1u) << sandbox;
    testing::internal::CaptureStderr();
    u.getAppDataHomeDir();
    EXPECT_EQ(count(testing::internal::GetCapturedStderr()), 1u) << sandbox;
    // Each query of its own still says it.
    testing::internal::CaptureStderr();
    u.getSandboxEnable();
    u.path_get_homeDir();
    EXPECT_EQ(count(testing::internal::GetCapturedStderr()), 2u) << sandbox;
  }
}
