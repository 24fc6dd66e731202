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
using corvane::test::readFile;
namespace fs = std::filesystem;

namespace {

class AppE2E : public corvane::e2e::ShellSuite<AppE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<corvane::e2e::ShellHarness>();
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

// Every answer the bundle, the configuration and the machine fix, stated
// once; the sizes' rules are their unit tests', here each is reached.
TEST_F(AppE2E, AnswersAreTheBundlesAndTheMachines) {
  const std::string id = shell->identifier(), root = shell->root();
  json got = *report;
  for (const char* key : {"now", "localIP", "idle"}) got.erase(key);
  const json want = {
      // The test bundle has neither copyright nor notes: the field texts format the absence.
      {"names", {"BridgeTest", "BridgeTest", "1.2.3", "1.2.3", "7", "7", id, id, "(null)", "(null)"}},
      {"runOnOS", "Linux"},
      {"argv", {"--bundle", shell->bundlePath()}},
      {"sandbox", false},
      // Lower-case hex of the UTF-8 bytes.
      {"md5", {"d41d8cd98f00b204e9800998ecf8427e", "49c5f675b49037b6044b803ac9d1a6d7"}},
      {"sizes", {5000, corvane::Utils::diskSizeAtPath(root + "/sizes"), "1.5MB", "0.1KB"}},
      // "" is refused and leaves the first system language; the choice holds across a reload.
      {"languages", {"fr-FR", false, "fr-FR", true, "ja", "ja"}},
      // Before, on (with its entry), off (without).
      {"login", {false, true, true, false, false}},
      {"httpPort", 0},
      {"iap", true},
      {"urls",
       {"https://example.com/buy", "https://example.com/faq?a=1&b=2", "https://example.com/home", "", "", "", "", "", ""}},
      // Exactly the custom text, at once and after a reload.
      {"userAgent", {"X/1", "X/1"}},
      {"threw", json::array()}};
  EXPECT_EQ(got, want);
  const json stored = json::parse(readFile(corvane::UserDefaults::pathForIdentifier(id)), nullptr, false);
  EXPECT_EQ(stored.value("userLanguage", ""), "ja") << stored;
  EXPECT_GE(r("now").get<uint64_t>(), before);
  EXPECT_LE(r("now").get<uint64_t>(), after);
  const std::string ip = r("localIP").get<std::string>();
  if (!ip.empty()) {
    EXPECT_NE(ip.rfind("127", 0), 0u) << ip;
    EXPECT_EQ(std::count(ip.begin(), ip.end(), '.'), 3) << ip;
  }
  EXPECT_GE(r("idle").get<double>(), 0);
}

TEST_F(AppE2E, HandOffsReachTheDesktopDefaultHandlers) {
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
