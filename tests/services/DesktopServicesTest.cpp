// The badge's count, and the alert's panel on the test session's display:
// its kinds and buttons (what a page sees of them, and of fonts and sounds,
// is checked end to end), the fonts' traits and the sound names.
#include "app/Bundle.h"
#include "app/Utils.h"
#include "services/Dock.h"
#include "services/Fonts.h"
#include "services/Notice.h"
#include "services/Sound.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// Text that is not a whole number hides the count.
TEST(DockBadge, NumbersAreCountsAndEverythingElseHidesTheCount) {
  for (const auto& [text, count] : std::vector<std::pair<std::string, std::optional<int64_t>>>{
           {"3", 3}, {" 42 ", 42}, {"-2", -2}, {"", std::nullopt}, {"new", std::nullopt}, {"1.5", std::nullopt},
           {"99999999999999999999", std::nullopt}})
    EXPECT_EQ(Dock::countOf(text), count) << text;
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
  for (const json& refused : {json{{"alertType", "alert"}, {"buttons", {"x"}}}, json{{"buttons", json::array()}},
                              json{{"buttons", {"1", "2", "3", "4", "5"}}}, json::object()})
    EXPECT_EQ(Notice::makeAlert(refused, nullptr), nullptr) << refused;
  Notice notice;
  EXPECT_EQ(notice.alert(R"({"alertType": "Other", "buttons": ["x"]})"), UINT64_MAX);
}

// Beyond the regular face pages see: weights, traits, order, and nothing
// for unknown names.
TEST_F(Desktop, FontMembersCarryWeightsAndTraitsAndUnknownFontsHaveNone) {
  Fonts fonts;
  const json members = fonts.availableMembersOfFontFamily("DejaVu Sans");
  json boldOblique;
  for (const auto& m : members)
    if (m[0] == "DejaVuSans-BoldOblique") boldOblique = m;
  ASSERT_TRUE(boldOblique.is_array()) << members;
  EXPECT_EQ(boldOblique[2], 9);
  EXPECT_EQ(boldOblique[3], Fonts::kBold | Fonts::kItalic);
  EXPECT_NE(std::find(members.begin(), members.end(), json{"DejaVuSans", "Book", 5, 0}), members.end()) << members;
  EXPECT_LE(members.front()[2].get<int>(), members.back()[2].get<int>()) << "lightest first";
  EXPECT_TRUE(fonts.availableMembersOfFontFamily("DejaVu Sans Mono")[0][3].get<int>() & Fonts::kFixedPitch);
  EXPECT_EQ(fonts.availableMembersOfFontFamily("No Such Family"), json::array());
  // DejaVu Sans: ascent + descent is about 1.164 em.
  EXPECT_NEAR(fonts.defaultLineHeightForFont("DejaVu Sans", 24), 24 * 1.164, 1.0);
  EXPECT_EQ(fonts.defaultLineHeightForFont("NoSuchFont", 12), 0);
  EXPECT_EQ(fonts.defaultLineHeightForFont("DejaVuSans", 0), 0);
}

TEST(SystemSounds, OnlyNamesOfTheSoundTheme) {
  EXPECT_TRUE(Sound::pathForSystemSound("bell")) << "sound-theme-freedesktop is installed by scripts/deps.sh";
  for (const char* name : {"no-such-sound", "../freedesktop/stereo/bell", ""})
    EXPECT_FALSE(Sound::pathForSystemSound(name)) << name;
}

}  // namespace
