// The reminder's rules without network or display: the query address, the
// server's answer, launch counting per version, the dialog's buttons and
// what each choice leaves in the user defaults.
#include "app/UserDefaults.h"
#include "rate/RateRules.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::rate;
using nlohmann::json;

namespace {

class RateRules : public testing::Test {
 protected:
  test::TempDir dir;
  UserDefaults defaults{dir / "defaults.json"};

  // A fresh reader of the same file: what the next launch sees.
  UserDefaults reread() const { return UserDefaults(dir / "defaults.json"); }
};

Answer enabled(json extra = json::object()) {
  json j = {{"enableRate", true}, {"ReviewURL", "https://example.test/review"}};
  j.update(extra);
  return parseAnswer(j.dump());
}

}  // namespace

TEST(RateQuery, ValuesAreEscapedAsComponentsAndTheServerKeepsItsOwnEscapes) {
  const std::string q = queryAddress("http://127.0.0.1:8080/base path/a%20b", "Tom & Jerry=1 Ü", "2.0 beta#1", 1.0);
  EXPECT_EQ(q.substr(0, q.find("/services/")), "http://127.0.0.1:8080/base%20path/a%20b");
  EXPECT_NE(q.find("appName=Tom%20%26%20Jerry%3D1%20%C3%9C&version=2.0%20beta%231&app_name=Tom%20%26"),
            std::string::npos)
      << q;
  EXPECT_NE(q.find("&_=1.000000"), std::string::npos);
}

TEST(RateAnswerParsing, DefaultsAndTypes) {
  for (const char* notAnObject : {"", "not json", "[1,2]", "\"text\"", "null"}) {
    Answer a = parseAnswer(notAnObject);
    EXPECT_FALSE(a.enableRate) << notAnObject;
    EXPECT_FALSE(a.reviewURL) << notAnObject;
  }
  Answer d = parseAnswer("{}");
  EXPECT_FALSE(d.enableRate);
  EXPECT_EQ(d.startRunningSecs, 90u);
  EXPECT_EQ(d.maxRunTimes, 3u);
  EXPECT_FALSE(d.enableUserClose);
  EXPECT_FALSE(d.faqURL);

  Answer a = parseAnswer(R"({"enableRate":1,"startRunningSecs":"7","maxRunTimes":-4,"enableUserClose":"YES",
                             "FAQURL":"","ReviewURL":"r","rateMessage":"Rate us"})");
  EXPECT_TRUE(a.enableRate);
  EXPECT_EQ(a.startRunningSecs, 7u);
  EXPECT_EQ(a.maxRunTimes, 0u);
  EXPECT_TRUE(a.enableUserClose);
  EXPECT_FALSE(a.faqURL) << "an empty FAQ address hides the button";
  EXPECT_EQ(a.reviewURL, "r");
  EXPECT_EQ(a.rateMessage, "Rate us");
  EXPECT_EQ(parseAnswer(R"({"maxRunTimes":2.9,"startRunningSecs":1e30})").maxRunTimes, 2u);
  EXPECT_EQ(parseAnswer(R"({"startRunningSecs":1e30})").startRunningSecs, UINT64_MAX);
}

TEST(RateAgentReply, TextOrObjectAndOnlySuccessCounts) {
  std::string info;
  EXPECT_EQ(agentAnswerText(json(R"({"success":true,"info":"{\"enableRate\":true}"})"), &info),
            R"({"enableRate":true})");
  EXPECT_EQ(info, R"({"enableRate":true})");
  EXPECT_EQ(agentAnswerText(json{{"success", true}, {"info", "x"}}, &info), "x");
  EXPECT_FALSE(agentAnswerText(json{{"success", false}, {"info", "offline"}}, &info));
  EXPECT_EQ(info, "offline") << "the log line shows the info of a failed fetch too";
  EXPECT_FALSE(agentAnswerText(json{{"success", true}}, &info));
  EXPECT_FALSE(agentAnswerText(json("not json"), &info));
  EXPECT_EQ(agentMessage("http://a/b"), (json{{"ms_type", "HTTP_QUEST"}, {"ms_obj", {{"url", "http://a/b"}}}}));
}

TEST_F(RateRules, LaunchesWithoutEnableRateOrReviewUrlAreNotCounted) {
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer(R"({"enableRate":false,"ReviewURL":"x"})")).counted);
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer(R"({"enableRate":true})")).counted);
  EXPECT_FALSE(countLaunch(defaults, "1.0", parseAnswer("<html>busy</html>")).counted);
  EXPECT_FALSE(reread().objectForKey("1.0_RateInfo_runTimes"));
}

// The title, the buttons of a rated version and the choices kept are
// checked end to end.
TEST_F(RateRules, AnEmptyMessageIsTheDefaultAndClosingIsOfferedWhenAllowed) {
  auto plan = planDialog(defaults, "Notes", "1.2", enabled({{"rateMessage", ""}, {"enableUserClose", true}}));
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->message, "Your evaluation, our motivation.");
  EXPECT_EQ(plan->buttons, (std::vector<Button>{Button::RateApp, Button::RemindLater, Button::DontRemind}));
  EXPECT_EQ(buttonCode(*plan, Button::DontRemind), 1002);
  EXPECT_EQ(planDialog(defaults, "Notes", "1.2", enabled({{"rateMessage", "Like it?"}}))->message, "Like it?");
}

TEST(RateOpenAddress, WebAddressesOnly) {
  EXPECT_EQ(webAddressToOpen("  localhost:8080/rate \n"), "https://localhost:8080/rate");
  EXPECT_EQ(webAddressToOpen("https://example.test/a b"), "https://example.test/a%20b");
  std::string why;
  for (const char* bad : {"file:///etc/passwd", "FILE:/etc/passwd", "javascript:alert(1)", "mailto:a@b.test",
                          "corvanetest://x", "ftp://example.test/f", "https:///nohost", "", "   "}) {
    EXPECT_FALSE(webAddressToOpen(bad, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  webAddressToOpen("file:///etc/passwd", &why);
  EXPECT_NE(why.find("\"file:\""), std::string::npos) << why;
}
