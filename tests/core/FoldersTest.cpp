// Folder queries, placeholder expansion, prefix stripping and the exported
// environment.
#include "TestSupport.h"

#include "app/Utils.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class Folders : public testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", tmp / "home");
    env.set("XDG_DATA_HOME", std::nullopt);
    env.set("XDG_CACHE_HOME", std::nullopt);
    env.set("XDG_CONFIG_HOME", tmp / "home/.config");
    env.set("TMPDIR", tmp / "t");
    env.set("FLATPAK_ID", std::nullopt);
    bundlePath = makeBundle(tmp.path(), "Demo",
                            {{"CFBundleName", "Demo"},
                             {"CFBundleIdentifier", "test.demo"},
                             {"CFBundleShortVersionString", "2.1"},
                             {"CFBundleVersion", "57"}});
  }
  Utils utils() { return Utils(openBundle(bundlePath)); }
  static std::string getenvText(const char* n) {
    const char* v = std::getenv(n);
    return v ? v : "<unset>";
  }

  TempDir tmp;
  EnvGuard env;
  std::string bundlePath;
};

}  // namespace

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
