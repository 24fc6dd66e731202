// The desktop-facing services on the test session's display and bus: the
// badge signal as a launcher receives it, the alert's panel, fonts against
// fc-list, the clipboard shared with xclip (another X client) and the sound
// theme lookup.
#include "app/Bundle.h"
#include "app/Utils.h"
#include "services/Clipboard.h"
#include "services/Dock.h"
#include "services/Fonts.h"
#include "services/Notice.h"
#include "services/Sound.h"
#include "support/FontList.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace corvane;
using nlohmann::json;
using corvane::test::fcList;

namespace {

std::string sh(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// Spins the main loop until `done` or a generous deadline.
bool spinUntil(const std::function<bool()>& done, int seconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    g_main_context_iteration(nullptr, FALSE);
  }
  return done();
}

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

TEST_F(Desktop, TheBadgeReachesLaunchersAsTheLauncherEntrySignal) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr) << "no session bus: run through scripts/with-session.sh";
  std::vector<json> updates;
  guint sub = g_dbus_connection_signal_subscribe(
      bus, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params, gpointer out) {
        const gchar* uri = nullptr;
        GVariant* props = nullptr;
        g_variant_get(params, "(&s@a{sv})", &uri, &props);
        int64_t count = -1;
        gboolean visible = FALSE;
        g_variant_lookup(props, "count", "x", &count);
        g_variant_lookup(props, "count-visible", "b", &visible);
        static_cast<std::vector<json>*>(out)->push_back({uri, count, static_cast<bool>(visible)});
        g_variant_unref(props);
      },
      &updates, nullptr);
  Dock dock;
  EXPECT_EQ(dock.badge(), json(nullptr));
  dock.setBadge("3");
  EXPECT_EQ(dock.badge(), "3");
  EXPECT_EQ(dock.fieldValue("badge"), "3");
  dock.setBadge("new");
  EXPECT_EQ(dock.badge(), "new");
  dock.setBadge("");
  EXPECT_EQ(dock.badge(), json(nullptr));
  ASSERT_TRUE(spinUntil([&] { return updates.size() >= 3; })) << updates.size();
  const std::string uri = "application://app.corvane.desktoptest.desktop";
  EXPECT_EQ(updates[0], (json{uri, 3, true}));
  EXPECT_EQ(updates[1], (json{uri, 0, false}));
  EXPECT_EQ(updates[2], (json{uri, 0, false}));
  g_dbus_connection_signal_unsubscribe(bus, sub);
  g_object_unref(bus);
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

TEST_F(Desktop, FontListsAreWhatFcListShows) {
  Fonts fonts;
  const json ps = fonts.availableFonts();
  const json families = fonts.availableFontFamilies();
  EXPECT_EQ(std::set<std::string>(ps.begin(), ps.end()), fcList("postscriptname"));
  EXPECT_EQ(std::set<std::string>(families.begin(), families.end()), fcList("family"));
  ASSERT_FALSE(families.empty());
  EXPECT_TRUE(std::is_sorted(ps.begin(), ps.end()));
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

TEST_F(Desktop, ClipboardTextGoesBothWaysWithAnotherXClient) {
  Clipboard clipboard;
  clipboard.copy("abc \xc3\xa9");
  EXPECT_EQ(clipboard.paste(), "abc \xc3\xa9");
  // xclip asks this process for the text: the main loop must serve it.
  const std::string out = *root / "xclip.out";
  gchar* argv[] = {const_cast<gchar*>("sh"), const_cast<gchar*>("-c"),
                   g_strdup_printf("xclip -o -selection clipboard > '%s'", out.c_str()), nullptr};
  GPid pid;
  bool ended = false;
  ASSERT_TRUE(g_spawn_async(nullptr, argv, nullptr, static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                            nullptr, nullptr, &pid, nullptr));
  g_free(argv[2]);
  g_child_watch_add(pid, +[](GPid, gint, gpointer e) { *static_cast<bool*>(e) = true; }, &ended);
  ASSERT_TRUE(spinUntil([&] { return ended; }));
  std::ifstream in(out);
  std::string got((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(got, "abc \xc3\xa9");

  // Text another client owns; xclip serves one request and ends.
  sh("printf 'from xclip' | xclip -i -selection clipboard -loops 1 >/dev/null 2>&1 &");
  ASSERT_TRUE(spinUntil([&] { return clipboard.paste() == "from xclip"; }, 20));
  clipboard.copy("");
  EXPECT_EQ(clipboard.paste(), "");
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
