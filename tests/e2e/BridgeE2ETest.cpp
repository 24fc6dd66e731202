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
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}, {"bridgeAllowedOrigins", {allowed->address()}}}}},
                      CORVANE_E2E_PAGES);
    // remote.html comes from the listed server only
    std::remove((shell->resourcePath() + "/public/remote.html").c_str());
    auto env = shell->sessionEnv();
    env["CORVANE_E2E_ALLOWED_PORT"] = std::to_string(allowed->port());
    runShell(env);
  }

  static inline std::unique_ptr<TinyHttpServer> allowed;
};

TEST_F(BridgeE2E, ThreeNamesAreOneRootWithOnePathAlsoAfterReloadAndInSubFrames) {
  const json same = {{"sameRoot", true}, {"samePath", true}, {"pathStable", true}, {"rootType", "object"}};
  EXPECT_EQ(r("identity"), (json{{"first", same}, {"reload", same}}));
  // The native objects survived the reload: the test object kept its state.
  EXPECT_EQ(r("nativeStateKept"), "reloaded");
  json sub = {{"kind", "sub"},       {"opened", false},       {"sameRoot", true}, {"samePath", true},
              {"pathStable", true}, {"value", "reloaded"}, {"ext", "js"}};
  EXPECT_EQ(r("sub"), sub);
  // A window opened by script: a bridge root of its own.
  sub["opened"] = true;
  sub["value"] = nullptr;
  EXPECT_EQ(r("opened"), sub);
  EXPECT_EQ(r("hiddenRootSelectors"), true);
  EXPECT_EQ(r("defaultNamesAbsent"), true);
}

// A listed origin gets the bridge (other origins are refused: see the
// hostile suites).
TEST_F(BridgeE2E, AListedOriginGetsTheBridge) {
  EXPECT_EQ(r("allowedFrame"), (json{{"kind", "remote"}, {"corvane", "object"}, {"home", shell->root() + "/home"}}));
  EXPECT_EQ(log->find("bridge refused for " + allowed->address()), std::string::npos);
}

TEST_F(BridgeE2E, CallbacksFunctionsEventsAndParams) {
  json queued = json::array();
  for (int i = 0; i < 200; ++i) queued.push_back(i);
  const json withoutNull = {{"callback", "onParams"}, {"a", 1}};
  const std::map<std::string, json> expected{
      // Callbacks by name run at once or in queue order.
      {"callbackRanBeforeReturn", true},
      {"callNowReturn", {{"success", true}, {"value", 5}}},
      {"dotted", "dotted"},
      {"queuedNotAtOnce", 0},
      {"queued", queued},
      // Null members are absent; params that are no JSON object are empty
      // and call nothing.
      {"nullHidden", withoutNull},
      {"nullHiddenCallback", withoutNull},
      {"paramsNotJson", json::object()},
      {"paramsArray", json::object()},
      {"paramsNumber", json::object()},
      {"paramsCallbacks", 0},
      {"undefinedResult", "undefined"},
      {"keptTaken", true},
      {"keptRefused", false},
      {"functionRanBeforeReturn", true},
      // Booleans reach page functions as 1 or 0.
      {"functionArgs", json::array({{{"flag", 1}, {"list", {0, "s"}}}})},
      {"plainEventQueued", true},
      {"plainEvents", 1},
      // One resize, one event; the page then has the new width.
      {"orientationchange", 1},
      // Confirm is true only for "Yes".
      {"confirmYes", true},
      {"confirmNo", false},
      {"confirmClosed", false},
      {"alertReturned", true}};
  for (const auto& [key, value] : expected) EXPECT_EQ(r(key.c_str()), value) << key;
  EXPECT_EQ(r("innerSize")[0], 900);
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
