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

const char kRemotePage[] = CORVANE_E2E_PAGES "/remote.html";

class BridgeE2E : public corvane::e2e::ShellSuite<BridgeE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    allowed = std::make_unique<TinyHttpServer>(corvane::test::readFile(kRemotePage));
    json project = {{"AppExInfo",
                     {{"startPage", "public/index.html"},
                      {"bridgeAllowedOrigins", {"http://127.0.0.1:" + std::to_string(allowed->port())}}}}};
    shell->makeBundle(project, CORVANE_E2E_PAGES);
    // remote.html comes from the listed server only
    std::remove((shell->resourcePath() + "/public/remote.html").c_str());
    std::map<std::string, std::string> env = shell->sessionEnv();
    env["CORVANE_E2E_ALLOWED_PORT"] = std::to_string(allowed->port());
    runShell(env);
  }

  static inline std::unique_ptr<TinyHttpServer> allowed;
};

TEST_F(BridgeE2E, ThreeNamesAreOneRootWithOnePathAlsoAfterReloadAndInSubFrames) {
  for (const char* phase : {"first.", "reload."}) {
    SCOPED_TRACE(phase);
    std::string p = phase;
    EXPECT_EQ(r((p + "sameRoot").c_str()), true);
    EXPECT_EQ(r((p + "samePath").c_str()), true);
    EXPECT_EQ(r((p + "pathStable").c_str()), true);
    EXPECT_EQ(r((p + "rootType").c_str()), "object");
  }
  // The native objects survived the reload: the test object kept its state.
  EXPECT_EQ(r("nativeStateKept"), "reloaded");
  const json& sub = r("sub");
  ASSERT_TRUE(sub.is_object());
  EXPECT_EQ(sub["sameRoot"], true);
  EXPECT_EQ(sub["samePath"], true);
  EXPECT_EQ(sub["pathStable"], true);
  EXPECT_EQ(sub["value"], "reloaded");
  EXPECT_EQ(sub["ext"], "js");
  const json& opened = r("opened");
  ASSERT_TRUE(opened.is_object());
  EXPECT_EQ(opened["sameRoot"], true);
  EXPECT_EQ(opened["samePath"], true);
  EXPECT_EQ(opened["ext"], "js");
  EXPECT_TRUE(opened["value"].is_null());  // its own bridge root
  EXPECT_EQ(r("hiddenRootSelectors"), true);
  EXPECT_EQ(r("defaultNamesAbsent"), true);
}

// A listed origin gets the bridge (other origins are refused: see the
// hostile suites).
TEST_F(BridgeE2E, AListedOriginGetsTheBridge) {
  const json& ok = r("allowedFrame");
  ASSERT_TRUE(ok.is_object());
  EXPECT_EQ(ok["corvane"], "object");
  EXPECT_EQ(ok["home"], shell->root() + "/home");
  EXPECT_EQ(log->find("bridge refused for http://127.0.0.1:" + std::to_string(allowed->port())), std::string::npos);
}

TEST_F(BridgeE2E, CallbacksByNameRunAtOnceOrInQueueOrder) {
  EXPECT_EQ(r("callbackRanBeforeReturn"), true);
  EXPECT_EQ(r("callNowReturn"), (json{{"success", true}, {"value", 5}}));
  EXPECT_EQ(r("dotted"), "dotted");
  EXPECT_EQ(r("queuedNotAtOnce"), 0);
  json expected = json::array();
  for (int i = 0; i < 200; ++i) expected.push_back(i);
  EXPECT_EQ(r("queued"), expected);
}

TEST_F(BridgeE2E, ParamsDictionaryRules) {
  json withoutNull = {{"callback", "onParams"}, {"a", 1}};
  EXPECT_EQ(r("nullHidden"), withoutNull);
  EXPECT_EQ(r("nullHiddenCallback"), withoutNull);
  EXPECT_EQ(r("paramsNotJson"), json::object());
  EXPECT_EQ(r("paramsArray"), json::object());
  EXPECT_EQ(r("paramsNumber"), json::object());
  EXPECT_EQ(r("paramsCallbacks"), 0);
}

TEST_F(BridgeE2E, FunctionsAndEvents) {
  EXPECT_EQ(r("undefinedResult"), "undefined");
  EXPECT_EQ(r("keptTaken"), true);
  EXPECT_EQ(r("keptRefused"), false);
  EXPECT_EQ(r("functionRanBeforeReturn"), true);
  // Booleans reach page functions as 1 or 0.
  EXPECT_EQ(r("functionArgs"), (json::array({{{"flag", 1}, {"list", {0, "s"}}}})));
  EXPECT_EQ(r("plainEventQueued"), true);
  EXPECT_EQ(r("plainEvents"), 1);
  // One resize, one event; the page then has the new width.
  EXPECT_EQ(r("orientationchange"), 1);
  EXPECT_EQ(r("innerSize")[0], 900);
}

TEST_F(BridgeE2E, ConfirmIsTrueOnlyForYes) {
  EXPECT_EQ(r("confirmYes"), true);
  EXPECT_EQ(r("confirmNo"), false);
  EXPECT_EQ(r("confirmClosed"), false);
  EXPECT_EQ(r("alertReturned"), true);
}

// Each folder member reaches its own query (the queries themselves are
// tested in core).
TEST_F(BridgeE2E, EveryFolderMemberAnswersItsOwnQuery) {
  auto bundle = corvane::Bundle::open(shell->bundlePath());
  ASSERT_TRUE(bundle);
  corvane::Utils u(*bundle);
  const std::map<std::string, std::string> expected{
      {"application", u.path_get_application()},
      {"resource", u.path_get_resource()},
      {"homeDir", u.path_get_homeDir()},
      {"documentsDir", u.path_get_documentsDir()},
      {"libraryDir", u.path_get_libraryDir()},
      {"tempDir", u.path_get_tempDir()},
      {"cacheDir", u.path_get_cacheDir()},
      {"applicationDir", u.path_get_applicationDir()},
      {"desktopDir", u.path_get_desktopDir()},
      {"downloadDir", u.path_get_downloadDir()},
      {"moviesDir", u.path_get_moviesDir()},
      {"musicDir", u.path_get_musicDir()},
      {"picturesDir", u.path_get_picturesDir()},
      {"applicationName", "BridgeTest"},
      {"userName", u.path_get_userName()},
      {"userFullName", u.path_get_userFullName()},
      {"localDocumentsDir", u.path_get_localDocumentsDir()},
      {"localMoviesDir", u.path_get_localMoviesDir()},
      {"localMusicDir", u.path_get_localMusicDir()},
      {"localPicturesDir", u.path_get_localPicturesDir()},
      {"localDownloadDir", u.path_get_localDownloadDir()},
      {"localDesktopDir", u.path_get_localDesktopDir()},
      {"localLibraryDir", u.path_get_localLibraryDir()},
      {"appWriteableDocumentDir", u.path_get_appWriteableDocumentDir()},
      {"appWriteableDownloadDir", u.path_get_appWriteableDownloadDir()},
      {"appWriteableMoviesDir", u.path_get_appWriteableMoviesDir()},
      {"appWriteableMusicDir", u.path_get_appWriteableMusicDir()},
      {"appWriteablePicturesDir", u.path_get_appWriteablePicturesDir()},
      {"appPluginDirPath", shell->bundlePath() + "/Contents/PlugIns"},
      {"appUIDirPath", shell->resourcePath() + "/public"},
      {"appDataHomeDir", u.getAppDataHomeDir()}};
  EXPECT_EQ(r("folders"), json(expected));
  // printInfo ran before the first script: the variables were exported.
  EXPECT_EQ(r("envAtFirstScript"), u.path_get_localDesktopDir());
}

}  // namespace
