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

    shell->writeFile(shell->root() + "/sizes/sub/b.bin", std::string(5000, 'b'));
    const std::string handoff = shell->root() + "/handoff";
    shell->writeFile(handoff + "/note.txt", "a note\n");
    shell->installHandOffRecorders(handoff);

    std::map<std::string, std::string> env = shell->sessionEnv();
    env.insert(
        {{"LANGUAGE", "fr_FR:de"}, {"CORVANE_E2E_SIZES", shell->root() + "/sizes"}, {"CORVANE_E2E_HANDOFF", handoff}});
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

TEST_F(AppE2E, DigestsSizesLanguagesAndLoginItem) {
  EXPECT_EQ(r("md5"), (json{"d41d8cd98f00b204e9800998ecf8427e", "49c5f675b49037b6044b803ac9d1a6d7"}))
      << "lower-case hex of the UTF-8 bytes";
  // The sizes' rules are their unit tests'; here, that each reaches them.
  EXPECT_EQ(r("sizes"), (json{5000, corvane::Utils::diskSizeAtPath(shell->root() + "/sizes"), "1.5MB", "0.1KB"}));
  // "" is refused and leaves the first system language; the choice is kept
  // on disk and across a reload.
  EXPECT_EQ(r("appleLanguage"), "fr-FR");
  EXPECT_EQ(r("setEmpty"), false);
  EXPECT_EQ(r("afterEmpty"), "fr-FR");
  EXPECT_EQ(r("setJa"), true);
  EXPECT_EQ(r("afterJa"), "ja");
  EXPECT_EQ(r("userLanguageAfterReload"), "ja");
  const std::string store = corvane::UserDefaults::pathForIdentifier(shell->identifier());
  const json stored = json::parse(readFile(store), nullptr, false);
  EXPECT_EQ(stored.value("userLanguage", ""), "ja") << stored;
  // Before, on (with its entry), off (without).
  EXPECT_EQ(r("login"), (json{false, true, true, false, false}));
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
