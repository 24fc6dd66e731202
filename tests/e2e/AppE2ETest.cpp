// Every App method that can run under a virtual display, from a page
// (app-pages/app-checks.js), against the bundle and what the shell left.
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include "app/UserDefaults.h"
#include "app/Utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

using corvane::test::readFile;

class AppE2E : public corvane::e2e::ShellSuite<AppE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    json project = {{"EnableIAP", true},
                    {"AppExInfo",
                     {{"startPage", "public/index.html"},
                      {"HomePageURL", "https://example.com/home"},
                      {"FAQURL", "https://example.com/faq?a=1&b=2"},
                      {"BuyURL", "https://example.com/buy"}}}};
    shell->makeBundle(project, CORVANE_E2E_APP_PAGES);

    const std::string sizes = shell->root() + "/sizes";
    shell->writeFile(sizes + "/a.bin", std::string(1000, 'a'));
    shell->writeFile(sizes + "/sub/b.bin", std::string(5000, 'b'));
    shell->writeFile(sizes + "/sub/deeper/c.txt", "hello");
    const std::string handoff = shell->root() + "/handoff";
    shell->writeFile(handoff + "/note.txt", "a note\n");
    shell->installHandOffRecorders(handoff);

    std::map<std::string, std::string> env = shell->sessionEnv();
    env.insert({{"LANGUAGE", "fr_FR:de"}, {"CORVANE_E2E_SIZES", sizes}, {"CORVANE_E2E_HANDOFF", handoff}});
    before = static_cast<uint64_t>(std::time(nullptr));
    runShell(env);
    after = static_cast<uint64_t>(std::time(nullptr));
  }
  // Handlers are started by the shell and may still be running when it quits.
  static std::string handoff(const std::string& tag) {
    const std::string path = shell->root() + "/handoff/" + tag + ".txt";
    corvane::e2e::waitUntil([&] { return fs::exists(path); }, 10);
    return readFile(path);
  }

  static inline uint64_t before = 0, after = 0;
};

TEST_F(AppE2E, TheBundleFacts) {
  const json& n = r("names");
  EXPECT_EQ(n["getAppName"], "BridgeTest");
  EXPECT_EQ(n["getAppVersion"], "1.2.3");
  EXPECT_EQ(n["getAppBuildVersion"], "7");
  EXPECT_EQ(n["getAppIdentifier"], shell->identifier());
  EXPECT_EQ(n["name"], n["getAppName"]);
  EXPECT_EQ(n["ver"], n["getAppVersion"]);
  EXPECT_EQ(n["build_ver"], n["getAppBuildVersion"]);
  EXPECT_EQ(n["identifier"], n["getAppIdentifier"]);
  // The test bundle has neither key; the field texts format the absence.
  EXPECT_EQ(n["copyright"], "(null)");
  EXPECT_EQ(n["notes"], "(null)");
  EXPECT_EQ(r("runOnOS"), "Linux");
  EXPECT_EQ(r("argv"), (json{"--bundle", shell->bundlePath()}));
  EXPECT_EQ(r("sandbox"), false);
}

TEST_F(AppE2E, DigestsSizesAndSizeTexts) {
  EXPECT_EQ(r("md5"), (json{"d41d8cd98f00b204e9800998ecf8427e", "49c5f675b49037b6044b803ac9d1a6d7"}))
      << "lower-case hex of the UTF-8 bytes";
  EXPECT_EQ(r("sizeStrings"), (json{"0.1KB", "1.5MB", "1.5MB", "1.4MB"})) << "numeric text is a number";
  const std::string sizes = shell->root() + "/sizes";
  EXPECT_EQ(r("fileSize"), 6005);
  EXPECT_EQ(r("fileSize"), corvane::Utils::fileSizeAtPath(sizes));
  EXPECT_EQ(r("diskSize"), corvane::Utils::diskSizeAtPath(sizes));
  EXPECT_EQ(r("missingSize"), 0);
}

TEST_F(AppE2E, LanguagesFollowTheEnvironmentAndTheStoredChoice) {
  EXPECT_EQ(r("appleLanguage"), "fr-FR");
  EXPECT_EQ(json::parse(r("supportLanguages").get<std::string>()), (json{"fr-FR", "de"}));
  EXPECT_EQ(r("firstUserLanguage"), "fr-FR");
  EXPECT_EQ(r("setEmpty"), false);
  EXPECT_EQ(r("afterEmpty"), "fr-FR");
  EXPECT_EQ(r("setJa"), true);
  EXPECT_EQ(r("afterJa"), "ja");
  EXPECT_EQ(r("userLanguageAfterReload"), "ja");
  // The choice is on disk for later runs.
  const std::string store = corvane::UserDefaults::pathForIdentifier(shell->identifier());
  json stored = json::parse(readFile(store), nullptr, false);
  ASSERT_TRUE(stored.is_object()) << store;
  EXPECT_EQ(stored["userLanguage"], "ja");
  json all = json::parse(r("userDefaults").get<std::string>(), nullptr, false);
  ASSERT_TRUE(all.is_object()) << r("userDefaults");
  EXPECT_EQ(all["AppleLanguages"], (json{"fr-FR", "de"}));
  EXPECT_EQ(all["userLanguage"], "ja");
}

TEST_F(AppE2E, LoginItemIsOneAutostartEntryNamedForTheIdentifier) {
  EXPECT_EQ(r("login"), (json{{"before", false}, {"on", true}, {"entryOn", true}, {"off", false}, {"entryOff", false},
                              {"last", true}}));
  std::vector<fs::path> entries;
  for (const auto& e : fs::directory_iterator(shell->root() + "/home/.config/autostart"))
    entries.push_back(e.path().filename());
  EXPECT_EQ(entries, std::vector<fs::path>{shell->identifier() + ".desktop"});
}

TEST_F(AppE2E, ConfigurationFactsClockAndMachine) {
  EXPECT_GE(r("now").get<uint64_t>(), before);
  EXPECT_LE(r("now").get<uint64_t>(), after);
  EXPECT_EQ(r("httpPort"), 0);
  EXPECT_EQ(r("iap"), true);
  json urls = {{"getBuyURL", "https://example.com/buy"},
               {"getFAQURL", "https://example.com/faq?a=1&b=2"},
               {"getHomePageURL", "https://example.com/home"},
               {"getDocumentPageURL", ""},
               {"getRoadmapPageURL", ""},
               {"getReportIssuePageURL", ""},
               {"getViewLicensePageURL", ""},
               {"getReleaseNotesPageURL", ""},
               {"getCheckForUpdatePageURL", ""}};
  EXPECT_EQ(r("urls"), urls);
  const std::string ip = r("localIP").get<std::string>();
  if (!ip.empty()) {
    EXPECT_NE(ip.rfind("127", 0), 0u) << ip;
    EXPECT_EQ(std::count(ip.begin(), ip.end(), '.'), 3) << ip;
  }
  ASSERT_TRUE(r("idle").is_number());
  EXPECT_GE(r("idle").get<double>(), 0);
}

TEST_F(AppE2E, UserAgentIsExactlyTheCustomTextAtOnceAndAfterAReload) {
  EXPECT_EQ(r("userAgentAtOnce"), "X/1");
  EXPECT_EQ(r("userAgent"), "X/1");
}

TEST_F(AppE2E, WindowSoundAndHandOffMethodsRunAndReachTheDesktopDefaultHandlers) {
  for (const auto& [m, ok] : r("noThrow").items()) EXPECT_EQ(ok, true) << m;
  EXPECT_EQ(r("noThrow").size(), 9u);
  EXPECT_EQ(handoff("open"), "corvanetest://hello/world?x=1\n");
  EXPECT_NE(handoff("file").find("/handoff/note.txt\n"), std::string::npos) << handoff("file");
  EXPECT_EQ(handoff("launch"), "\n");  // started without arguments
  // Every reserved character of subject and body is encoded, spaces as %20.
  EXPECT_EQ(handoff("mail"), "mailto:someone@example.com?Subject=Q%26A%3F%20%231&body=line%20one%0A%C3%BC\n");
  // Texts that are not URLs or name no file or application open nothing.
  EXPECT_EQ(log->find("cannot open not a url"), std::string::npos) << *log;
  EXPECT_NE(log->find("no application named no-such-application-here"), std::string::npos) << *log;
}

}  // namespace
