// Texts holding U+0000 and unpaired surrogates, through app and path and
// back (text-pages/texts.js).
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

class TextsE2E : public corvane::e2e::ShellSuite<TextsE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_TEXT_PAGES);
    const std::string handoff = shell->root() + "/handoff";
    shell->writeFile(handoff + "/note.txt", "a note\n");
    shell->installHandOffRecorders(handoff);
    std::map<std::string, std::string> env = shell->sessionEnv();
    env["CORVANE_E2E_HANDOFF"] = handoff;
    runShell(env);
  }
  static std::string handoff(const std::string& tag) { return shell->root() + "/handoff/" + tag + ".txt"; }
};

// The page's own checks (text-pages/texts.js): a path holding U+0000 or a
// surrogate names no file for any check; name pieces, app texts, values,
// callbacks, functions and events use the whole text.
TEST_F(TextsE2E, ThePageSawWholeTexts) {
  EXPECT_EQ(r("mismatches"), json::object());
  EXPECT_NE(log->find("user agent not changed: the text holds U+0000"), std::string::npos) << *log;
}

TEST_F(TextsE2E, HandOffsNeverGetACutText) {
  // The mail hand-off is the only one that may run: the texts of its JSON
  // argument arrive whole.
  corvane::e2e::waitUntil([&] { return fs::exists(handoff("mail")); }, 10);
  const std::string text = corvane::test::readFile(handoff("mail"));
  EXPECT_NE(text.find("Subject=s%00t%EF%BF%BD"), std::string::npos) << text;
  // A URL, a file or an application name holding U+0000 names nothing.
  EXPECT_FALSE(fs::exists(handoff("open")));
  EXPECT_FALSE(fs::exists(handoff("file")));
  EXPECT_FALSE(fs::exists(handoff("launch")));
  EXPECT_EQ(log->find("cannot open corvanetest://cut"), std::string::npos) << *log;
  EXPECT_NE(log->find("no application named Corvane Recorder"), std::string::npos) << *log;
}

}  // namespace
