// The desktop-facing services on the test session's display: the badge's
// count, the alert's panel, font families and line heights, and the sound
// theme lookup (what a page sees of them is checked end to end).
#include "app/Bundle.h"
#include "app/Utils.h"
#include "services/Dock.h"
#include "services/Fonts.h"
#include "services/Notice.h"
#include "services/Sound.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace corvane;
using nlohmann::json;

namespace {

class Desktop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root = new corvane::test::TempDir();
    Bundle::setMain(*Bundle::open(corvane::test::makeMinimalBundle(root->path(), "Desk", "app.corvane.desktoptest")));
    displayOk = gtk_init_check(nullptr, nullptr);
  }
  static void TearDownTestSuite() { delete root; }
  void SetUp() override { ASSERT_TRUE(displayOk) << "no display: run through scripts/with-session.sh"; }
  static corvane::test::TempDir* root;
  static bool displayOk;
};
corvane::test::TempDir* Desktop::root = nullptr;
bool Desktop::displayOk = false;

TEST(DockBadge, NumbersAreCountsAndEverythingElseHidesTheCount) {
  EXPECT_EQ(Dock::countOf("3"), 3);
  EXPECT_EQ(Dock::countOf(" 42 "), 42);
  EXPECT_EQ(Dock::countOf("-2"), -2);
  EXPECT_EQ(Dock::countOf(""), std::nullopt);
  EXPECT_EQ(Dock::countOf("new"), std::nullopt);
  EXPECT_EQ(Dock::countOf("1.5"), std::nullopt);
  EXPECT_EQ(Dock::countOf("99999999999999999999"), std::nullopt);
}

TEST_F(Desktop, AlertPanelsHaveTheKindsAndAtMostThreeButtons) {
  auto buttons = [](GtkWidget* dialog) {
    std::vector<std::string> labels;
    for (int id : {3, 2, 1})
      if (GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), id))
        labels.push_back(gtk_button_get_label(GTK_BUTTON(b)));
    return labels;
  };
  auto type = [](GtkWidget* dialog) {
    GtkMessageType t;
    g_object_get(dialog, "message-type", &t, nullptr);
    return t;
  };
  GtkWidget* d = Notice::makeAlert({{"buttons", {"OK"}}, {"message", "50%d %@ %s <b>x</b>"}}, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(type(d), GTK_MESSAGE_WARNING);
  EXPECT_EQ(buttons(d), std::vector<std::string>{"OK"});
  gchar* secondary = nullptr;
  g_object_get(d, "secondary-text", &secondary, nullptr);
  EXPECT_STREQ(secondary, "50%d %@ %s <b>x</b>");  // shown literally
  g_free(secondary);
  gtk_widget_destroy(d);

  d = Notice::makeAlert({{"alertType", "Critical"}, {"buttons", {"_A", "B", "C", "D"}}}, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(type(d), GTK_MESSAGE_ERROR);
  EXPECT_EQ(buttons(d), (std::vector<std::string>{"C", "B", "_A"}));  // left to right; the first at the right
  gtk_widget_destroy(d);

  d = Notice::makeAlert({{"alertType", "Information"}, {"buttons", {"x", "y"}}}, nullptr);
  EXPECT_EQ(type(d), GTK_MESSAGE_INFO);
  gtk_widget_destroy(d);
  EXPECT_EQ(Notice::makeAlert({{"alertType", "alert"}, {"buttons", {"x"}}}, nullptr), nullptr);
  EXPECT_EQ(Notice::makeAlert({{"buttons", json::array()}}, nullptr), nullptr);
  EXPECT_EQ(Notice::makeAlert({{"buttons", {"1", "2", "3", "4", "5"}}}, nullptr), nullptr);
  EXPECT_EQ(Notice::makeAlert(json::object(), nullptr), nullptr);
  Notice notice;
  EXPECT_EQ(notice.alert(R"({"alertType": "Other", "buttons": ["x"]})"), UINT64_MAX);
}

TEST_F(Desktop, FamilyMembersCarryWeightsAndTraits) {
  Fonts fonts;
  const json members = fonts.availableMembersOfFontFamily("DejaVu Sans");
  ASSERT_FALSE(members.empty()) << "fonts-dejavu-core is installed by scripts/deps.sh";
  std::map<std::string, json> byName;
  for (const auto& m : members) byName[m[0]] = m;
  ASSERT_TRUE(byName.count("DejaVuSans")) << members;
  EXPECT_EQ(byName["DejaVuSans"], (json{"DejaVuSans", "Book", 5, 0}));
  ASSERT_TRUE(byName.count("DejaVuSans-BoldOblique")) << members;
  EXPECT_EQ(byName["DejaVuSans-BoldOblique"][2], 9);
  EXPECT_EQ(byName["DejaVuSans-BoldOblique"][3], Fonts::kBold | Fonts::kItalic);
  // Lightest first.
  EXPECT_LE(members.front()[2].get<int>(), members.back()[2].get<int>());
  const json mono = fonts.availableMembersOfFontFamily("DejaVu Sans Mono");
  ASSERT_FALSE(mono.empty());
  EXPECT_TRUE(mono[0][3].get<int>() & Fonts::kFixedPitch);
  EXPECT_EQ(fonts.availableMembersOfFontFamily("No Such Family"), json::array());
}

TEST_F(Desktop, LineHeightsGrowWithTheSizeAndUnknownFontsHaveNone) {
  Fonts fonts;
  const double h12 = fonts.defaultLineHeightForFont("DejaVuSans", 12);
  const double h24 = fonts.defaultLineHeightForFont("DejaVu Sans", 24);
  // DejaVu Sans: ascent + descent is about 1.164 em.
  EXPECT_NEAR(h12, 12 * 1.164, 1.0);
  EXPECT_NEAR(h24, 2 * h12, 1.0);
  EXPECT_EQ(fonts.defaultLineHeightForFont("NoSuchFont", 12), 0);
  EXPECT_EQ(fonts.defaultLineHeightForFont("DejaVuSans", 0), 0);
}

TEST_F(Desktop, SystemSoundsComeFromTheSoundTheme) {
  auto bell = Sound::pathForSystemSound("bell");
  ASSERT_TRUE(bell) << "sound-theme-freedesktop is installed by scripts/deps.sh";
  EXPECT_NE(bell->find("/sounds/freedesktop/stereo/bell.oga"), std::string::npos);
  EXPECT_FALSE(Sound::pathForSystemSound("no-such-sound"));
  EXPECT_FALSE(Sound::pathForSystemSound("../freedesktop/stereo/bell"));
  EXPECT_FALSE(Sound::pathForSystemSound(""));
  Sound sound(nullptr);
  sound.playSystemWithCB("no-such-sound", nullptr);
  EXPECT_EQ(sound.pending(), json::array());
}

}  // namespace
