// Texts holding U+0000 and unpaired surrogates, through app and path and
// back (text-pages/texts.js).
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include "app/Utils.h"

#include <gtest/gtest.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

const std::string kNul(1, '\0');
const std::string kFFFD = "\xEF\xBF\xBD";

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

TEST_F(TextsE2E, APathHoldingNulOrASurrogateNamesNoFileForEveryCheck) {
  for (const auto& [method, answers] : r("paths").items()) {
    SCOPED_TRACE(method);
    // fileIsZeroSize answers true where nothing is, as for any missing path.
    const json expected = method == "fileIsZeroSize" ? json{true, true, true} : json{false, false, false};
    EXPECT_EQ(answers, expected);
  }
  EXPECT_EQ(r("paths").size(), 8u);
  // The prefixes (a file, a folder) answer as they are, so a cut text would
  // show; each check also answers for its own query.
  EXPECT_EQ(r("prefixes"), (json{{"pathIsExist", {true, true}},
                                 {"fileIsZeroSize", {false, false}},
                                 {"checkPathIsWritable", {false, true}},
                                 {"checkPathIsReadable", {true, true}},
                                 {"checkPathIsExecutable", {false, true}},
                                 {"checkPathIsDeletable", {true, true}},
                                 {"checkPathIsFile", {true, false}},
                                 {"checkPathIsDir", {false, true}}}));
  EXPECT_EQ(r("property"), (json{true, ""}));
  EXPECT_EQ(r("icon"), "");
  EXPECT_EQ(r("sizes"), (json{true, 0, 0}));
}

TEST_F(TextsE2E, NamePiecesAndAppTextsUseTheWholeText) {
  const json& n = r("names");
  EXPECT_EQ(n["surrogate"], "abc" + kFFFD + "def");
  EXPECT_EQ(n["nul"], "x" + kNul + "y");
  EXPECT_EQ(n["withoutExt"], "n" + kNul);
  EXPECT_EQ(n["ext"], "t" + kNul + "t");
  EXPECT_EQ(n["parent"], "/a" + kNul + "b");
  EXPECT_EQ(n["env"], shell->root() + "/home" + kNul + kFFFD);
  EXPECT_EQ(r("tempEnd"), "_n" + kNul + kFFFD);
  EXPECT_EQ(r("tempInTemp"), true);
  EXPECT_EQ(r("md5"), (json{corvane::Utils::md5Digest("a" + kNul + "b"), corvane::Utils::md5Digest(kFFFD),
                            corvane::Utils::md5Digest("\xF0\x9F\x98\x80")}));
  EXPECT_EQ(r("languageSet"), true);
  EXPECT_EQ(r("language"), "x" + kNul + "y" + kFFFD);
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

TEST_F(TextsE2E, TextsComeBackWholeThroughValuesCallbacksFunctionsAndEvents) {
  EXPECT_EQ(r("echoText"), "a" + kNul + "b" + kFFFD + kFFFD + "\xF0\x9F\x98\x80");
  EXPECT_EQ(r("echoObject"), (json{{"k" + kNul, {"v" + kNul, kFFFD}}}));
  // Values that carry native objects take another way into the page.
  EXPECT_EQ(r("echoWithObject"), (json{kNul + kFFFD, {"p" + kNul + "q"}, true}));
  EXPECT_EQ(r("callbackByName"), "c" + kNul + kFFFD);
  EXPECT_EQ(r("cutNameCalls"), 0);
  EXPECT_EQ(r("functionArgs"), (json{"f" + kNul + kFFFD, {{"key" + kNul, "val" + kNul}}}));
  EXPECT_EQ(r("eventData"), (json{{"s", "e" + kNul + kFFFD}}));
  EXPECT_EQ(r("later"), (json{"l" + kNul + kFFFD, "later"}));
}

}  // namespace
