// One run of the real shell on a page that exercises the bridge (see
// pages/checks.js); the tests below check what the page saw.
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include "app/Bundle.h"
#include "app/Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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
    refused = std::make_unique<TinyHttpServer>(corvane::test::readFile(kRemotePage));
    json project = {{"AppExInfo",
                     {{"startPage", "public/index.html"},
                      {"bridgeAllowedOrigins", {"http://127.0.0.1:" + std::to_string(allowed->port())}}}}};
    shell->makeBundle(project, CORVANE_E2E_PAGES);
    // sub.html and remote.html are frames of index.html, not pages of their own
    std::remove((shell->resourcePath() + "/public/remote.html").c_str());
    shell->writeFile(shell->resourcePath() + "/public/empty.txt", "");

    std::map<std::string, std::string> env = shell->sessionEnv();
    env["CORVANE_E2E_PORTS"] = json{{"allowed", allowed->port()}, {"refused", refused->port()}}.dump();
    runShell(env);
  }

  static inline std::unique_ptr<TinyHttpServer> allowed, refused;
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

TEST_F(BridgeE2E, OnlyListedOriginsGetTheBridge) {
  const json& ok = r("allowedFrame");
  ASSERT_TRUE(ok.is_object());
  EXPECT_EQ(ok["corvane"], "object");
  EXPECT_EQ(ok["home"], shell->root() + "/home");
  const json& no = r("refusedFrame");
  ASSERT_TRUE(no.is_object());
  EXPECT_EQ(no["corvane"], "undefined");
  EXPECT_EQ(no["quorlix"], "undefined");
  EXPECT_EQ(no["ZVRLabJs"], "undefined");
  EXPECT_TRUE(no["home"].is_null());
  EXPECT_NE(log->find("bridge refused for http://127.0.0.1:" + std::to_string(refused->port())), std::string::npos)
      << *log;
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

TEST_F(BridgeE2E, ValuesFunctionsAndEvents) {
  EXPECT_EQ(r("echo"), (json{{"n", 1.5}, {"s", "x"}, {"b", true}, {"a", {1, "two", nullptr}}, {"o", {{"k", "v"}}}}));
  EXPECT_EQ(r("echoString"), "plain");
  EXPECT_EQ(r("undefinedResult"), "undefined");
  EXPECT_EQ(r("objectIdentity"), true);
  EXPECT_EQ(r("objectInside"), true);
  EXPECT_EQ(r("keptTaken"), true);
  EXPECT_EQ(r("keptRefused"), false);
  EXPECT_EQ(r("functionRanBeforeReturn"), true);
  // Booleans reach page functions as 1 or 0.
  EXPECT_EQ(r("functionArgs"), (json::array({{{"flag", 1}, {"list", {0, "s"}}}})));
  EXPECT_EQ(r("later"), (json{8, "later"}));
  EXPECT_EQ(r("plainEventQueued"), true);
  EXPECT_EQ(r("plainEvents"), 1);
  EXPECT_EQ(r("dataEventAtOnce"), (json{{"x", 1}, {"s", "y"}}));
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

TEST_F(BridgeE2E, EveryPathMethodAnswersAsTheFolderQueries) {
  auto bundle = corvane::Bundle::open(shell->bundlePath());
  ASSERT_TRUE(bundle);
  corvane::Utils u(*bundle);
  const json& f = r("folders");
  EXPECT_EQ(f["application"], u.path_get_application());
  EXPECT_EQ(f["resource"], u.path_get_resource());
  EXPECT_EQ(f["homeDir"], u.path_get_homeDir());
  EXPECT_EQ(f["documentsDir"], u.path_get_documentsDir());
  EXPECT_EQ(f["libraryDir"], u.path_get_libraryDir());
  EXPECT_EQ(f["tempDir"], u.path_get_tempDir());
  EXPECT_EQ(f["cacheDir"], u.path_get_cacheDir());
  EXPECT_EQ(f["applicationDir"], u.path_get_applicationDir());
  EXPECT_EQ(f["desktopDir"], u.path_get_desktopDir());
  EXPECT_EQ(f["downloadDir"], u.path_get_downloadDir());
  EXPECT_EQ(f["moviesDir"], u.path_get_moviesDir());
  EXPECT_EQ(f["musicDir"], u.path_get_musicDir());
  EXPECT_EQ(f["picturesDir"], u.path_get_picturesDir());
  EXPECT_EQ(f["applicationName"], "BridgeTest");
  EXPECT_EQ(f["userName"], u.path_get_userName());
  EXPECT_EQ(f["userFullName"], u.path_get_userFullName());
  EXPECT_EQ(f["localDocumentsDir"], u.path_get_localDocumentsDir());
  EXPECT_EQ(f["localMoviesDir"], u.path_get_localMoviesDir());
  EXPECT_EQ(f["localMusicDir"], u.path_get_localMusicDir());
  EXPECT_EQ(f["localPicturesDir"], u.path_get_localPicturesDir());
  EXPECT_EQ(f["localDownloadDir"], u.path_get_localDownloadDir());
  EXPECT_EQ(f["localDesktopDir"], u.path_get_localDesktopDir());
  EXPECT_EQ(f["localLibraryDir"], u.path_get_localLibraryDir());
  EXPECT_EQ(f["appWriteableDocumentDir"], u.path_get_appWriteableDocumentDir());
  EXPECT_EQ(f["appWriteableDownloadDir"], u.path_get_appWriteableDownloadDir());
  EXPECT_EQ(f["appWriteableMoviesDir"], u.path_get_appWriteableMoviesDir());
  EXPECT_EQ(f["appWriteableMusicDir"], u.path_get_appWriteableMusicDir());
  EXPECT_EQ(f["appWriteablePicturesDir"], u.path_get_appWriteablePicturesDir());
  EXPECT_EQ(f["appPluginDirPath"], shell->bundlePath() + "/Contents/PlugIns");
  EXPECT_EQ(f["appUIDirPath"], shell->resourcePath() + "/public");
  EXPECT_EQ(f["appDataHomeDir"], u.getAppDataHomeDir());
  EXPECT_EQ(f.size(), 31u);

  // printInfo ran before the first script: the variables were exported.
  EXPECT_EQ(r("envAtFirstScript"), u.path_get_localDesktopDir());

  const json& c = r("checks");
  EXPECT_EQ(c["pathIsExist"], json({true, false}));
  EXPECT_EQ(c["fileIsZeroSize"], json({true, false}));
  EXPECT_EQ(c["checkPathIsWritable"], json({true, false, false}));  // folders only
  EXPECT_EQ(c["checkPathIsReadable"], json({true, false}));
  EXPECT_EQ(c["checkPathIsExecutable"], json({true, false}));
  EXPECT_EQ(c["checkPathIsDeletable"], json({true, false}));
  EXPECT_EQ(c["checkPathIsFile"], json({true, false}));
  EXPECT_EQ(c["checkPathIsDir"], json({true, false}));

  const json& t = r("texts");
  const std::string temp = t["getNewTempFilePath"];
  EXPECT_EQ(temp.rfind(u.path_get_tempDir(), 0), 0u) << temp;
  EXPECT_GT(temp.size(), 4u);
  EXPECT_EQ(temp.substr(temp.size() - 4), "_png");
  EXPECT_EQ(t["getFileName"], corvane::Utils::getFileName("/a/b/c.tar.gz"));
  EXPECT_EQ(t["getFileNameWithoutExt"], corvane::Utils::getFileNameWithoutExt("/a/b/c.tar.gz"));
  EXPECT_EQ(t["getFileExt"], "gz");
  EXPECT_EQ(t["getPathParentPath"], "/a/b");
  const std::string info = shell->bundlePath() + "/Contents/Info.plist";
  EXPECT_EQ(t["getFilePropertyJSONString"], corvane::Utils::getFilePropertyJSONString(info));
  EXPECT_EQ(t["getUpdateEnvString"], u.update_env_string("${HOME}/x ${APP_NAME}"));
  EXPECT_EQ(t["getUpdateEnvString"], shell->root() + "/home/x BridgeTest");
  EXPECT_EQ(t["getUpdateEnvStringEmpty"], "");
  EXPECT_EQ(t["getUpdateEnvStringMissing"], "");
  // An icon theme may be missing on a bare machine: then the answer is empty.
  const std::string icon = t["getFileOrDirIconPath"];
  if (!icon.empty()) {
    EXPECT_TRUE(corvane::Utils::checkPathIsFile(icon)) << icon;
  }
}

}  // namespace
