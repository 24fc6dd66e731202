// One run of the real shell on a page that exercises the bridge (see
// pages/checks.js); the tests below check what the page saw.
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include "app/Bundle.h"
#include "app/Utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::e2e::TinyHttpServer;

namespace {

class BridgeE2E : public corvane::e2e::ShellSuite<BridgeE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    allowed = std::make_unique<TinyHttpServer>(corvane::test::readFile(CORVANE_E2E_PAGES "/remote.html"));
    json ex = {{"startPage", "public/index.html"}, {"bridgeAllowedOrigins", {allowed->address()}}};
    shell->makeBundle({{"AppExInfo", ex}}, CORVANE_E2E_PAGES);
    // remote.html comes from the listed server only
    std::remove((shell->resourcePath() + "/public/remote.html").c_str());
    auto env = shell->sessionEnv();
    env["CORVANE_E2E_ALLOWED_PORT"] = std::to_string(allowed->port());
    runShell(env);
  }

  static inline std::unique_ptr<TinyHttpServer> allowed;
};

// The page's own checks (pages/checks.js): three names for one root with
// one path, also after a reload and in frames and windows; a listed origin
// gets the bridge; callbacks, functions, events, params and panels.
TEST_F(BridgeE2E, ThePageSawWhatItExpected) {
  EXPECT_EQ(r("mismatches"), json::object());
  EXPECT_EQ(log->find("bridge refused for " + allowed->address()), std::string::npos);
}

// Each folder member reaches its own query (the queries themselves are
// tested in core).
TEST_F(BridgeE2E, EveryFolderMemberAnswersItsOwnQuery) {
  auto bundle = corvane::Bundle::open(shell->bundlePath());
  ASSERT_TRUE(bundle);
  corvane::Utils u(*bundle);
#define FOLDER(name) {#name, u.path_get_##name()}
  const std::map<std::string, std::string> expected{
      FOLDER(application), FOLDER(resource), FOLDER(homeDir), FOLDER(documentsDir), FOLDER(libraryDir),
      FOLDER(tempDir), FOLDER(cacheDir), FOLDER(applicationDir), FOLDER(desktopDir), FOLDER(downloadDir),
      FOLDER(moviesDir), FOLDER(musicDir), FOLDER(picturesDir), FOLDER(userName), FOLDER(userFullName),
      FOLDER(localDocumentsDir), FOLDER(localMoviesDir), FOLDER(localMusicDir), FOLDER(localPicturesDir),
      FOLDER(localDownloadDir), FOLDER(localDesktopDir), FOLDER(localLibraryDir), FOLDER(appWriteableDocumentDir),
      FOLDER(appWriteableDownloadDir), FOLDER(appWriteableMoviesDir), FOLDER(appWriteableMusicDir),
      FOLDER(appWriteablePicturesDir),
      {"applicationName", "BridgeTest"},
      {"appPluginDirPath", shell->bundlePath() + "/Contents/PlugIns"},
      {"appUIDirPath", shell->resourcePath() + "/public"},
      {"appDataHomeDir", u.getAppDataHomeDir()}};
#undef FOLDER
  EXPECT_EQ(r("folders"), json(expected));
  // printInfo ran before the first script: the variables were exported.
  EXPECT_EQ(r("envAtFirstScript"), u.path_get_localDesktopDir());
}

}  // namespace
