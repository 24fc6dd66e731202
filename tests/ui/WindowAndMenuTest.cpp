// The web view, the window frame, the development console and desktop
// services on the test session's display, beyond what pages see of them.
#include "ui/DevMode.h"
#include "ui/MainWebView.h"
#include "ui/WindowController.h"

#include "app/Bundle.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/PageConsole.h"
#include "services/ActivationWatcher.h"
#include "services/Dock.h"
#include "services/Fonts.h"
#include "services/Notice.h"
#include "services/Sound.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstdlib>

using namespace corvane;
using nlohmann::json;

namespace {

class Ui : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root = new test::TempDir;
    const std::string app = test::makeMinimalBundle(root->path(), "UiTest", "app.corvane.uitest");
    setenv("HOME", (*root / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (*root / "home/.config").c_str(), 1);
    Bundle::setMain(*Bundle::open(app));
    displayOk = gtk_init_check(nullptr, nullptr);
  }
  static void TearDownTestSuite() { delete root; }
  void SetUp() override { ASSERT_TRUE(displayOk) << "no display: run through scripts/with-session.sh"; }

  static test::TempDir* root;
  static bool displayOk;
};
test::TempDir* Ui::root = nullptr;
bool Ui::displayOk = false;

TEST_F(Ui, DragsOfferLinkOnlyForALinkOnlySource) {
  EXPECT_EQ(MainWebView::offeredAction(GDK_ACTION_LINK), GDK_ACTION_LINK);
  EXPECT_EQ(MainWebView::offeredAction(GDK_ACTION_COPY), GDK_ACTION_COPY);
  EXPECT_EQ(MainWebView::offeredAction(static_cast<GdkDragAction>(GDK_ACTION_LINK | GDK_ACTION_COPY)),
            GDK_ACTION_COPY);
  EXPECT_EQ(MainWebView::offeredAction(static_cast<GdkDragAction>(GDK_ACTION_LINK | GDK_ACTION_MOVE)),
            GDK_ACTION_COPY);
}

TEST_F(Ui, OneWindowFrameIsRestoredAndSavedForAllWindows) {
  auto& defaults = Utils::sharedInstance().userDefaults();
  defaults.setObject("NSWindow Frame CorvaneWindow", "10 20 640 480");
  auto first = WindowController::initWithRequest(nullptr);
  int w = 0, h = 0;
  gtk_window_get_default_size(first->window(), &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);

  first->showWindow();
  gtk_window_resize(first->window(), 700, 500);
  // The frame is written once the window settles; serve the loop until then.
  std::string saved;
  for (int i = 0; i < 3000; ++i) {
    g_main_context_iteration(nullptr, FALSE);
    saved = defaults.stringForKey("NSWindow Frame CorvaneWindow");
    if (saved.find(" 700 500") != std::string::npos) break;
    g_usleep(1000);
  }
  EXPECT_NE(saved.find(" 700 500"), std::string::npos) << saved;

  // A second window starts from the same frame.
  auto second = WindowController::initWithRequest(nullptr);
  gtk_window_get_default_size(second->window(), &w, &h);
  EXPECT_EQ(w, 700);
  EXPECT_EQ(h, 500);
}

// How development mode shows a page's console line on the terminal.
TEST(DevModeConsole, LevelPlaceAndMessageWithoutTheTerminalsControlCharacters) {
  const std::vector<std::string> folders{"/apps/A.app/Contents/Resources/public"};
  struct Case {
    corvane::ConsoleLine line;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {{"warn", "console", "file:///elsewhere/x.js", 1, "careful"}, "warn  x.js:1            careful"},
      {{"error", "exception", "", 0, "page.js:1:2: Error: boom"}, "ERROR uncaught  page.js:1:2: Error: boom"},
      {{"log", "console", "", 0, "from a promise"}, "log   page              from a promise"},
      // A page cannot drive the developer's terminal.
      {{"log", "console", "file:///apps/A.app/Contents/Resources/public/a.js", 1, "\x1b]0;owned\x07\x1b[2J\xc2\x9b" "6n\tok\nnext"},
       "log   a.js:1            \\x1B]0;owned\\x07\\x1B[2J\\u009B6n\tok\nnext"},
  };
  for (const auto& c : cases) EXPECT_EQ(corvane::DevMode::consoleText(c.line, folders), c.shown) << c.line.text;
}

// Text that is not a whole number hides the count.
TEST(DockBadge, NumbersAreCountsAndEverythingElseHidesTheCount) {
  for (const auto& [text, count] : std::vector<std::pair<std::string, std::optional<int64_t>>>{
           {"3", 3}, {" 42 ", 42}, {"-2", -2}, {"", std::nullopt}, {"new", std::nullopt}, {"1.5", std::nullopt},
           {"99999999999999999999", std::nullopt}})
    EXPECT_EQ(Dock::countOf(text), count) << text;
}

TEST_F(Ui, AlertPanelsHaveTheKindsAndAtMostThreeButtons) {
  // The type, the buttons left to right (the first at the right) and the
  // message, shown literally.
  auto panel = [](GtkWidget* dialog) {
    json seen = {{"buttons", json::array()}};
    for (int id : {3, 2, 1})
      if (GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), id))
        seen["buttons"].push_back(gtk_button_get_label(GTK_BUTTON(b)));
    GtkMessageType type;
    gchar* secondary = nullptr;
    g_object_get(dialog, "message-type", &type, "secondary-text", &secondary, nullptr);
    seen["type"] = type;
    seen["message"] = secondary ? secondary : "";
    g_free(secondary);
    gtk_widget_destroy(dialog);
    return seen;
  };
  for (const auto& [params, expected] : std::vector<std::pair<json, json>>{
           {{{"buttons", {"OK"}}, {"message", "50%d %@ %s <b>x</b>"}},
            {{"type", GTK_MESSAGE_WARNING}, {"buttons", {"OK"}}, {"message", "50%d %@ %s <b>x</b>"}}},
           {{{"alertType", "Critical"}, {"buttons", {"_A", "B", "C", "D"}}},
            {{"type", GTK_MESSAGE_ERROR}, {"buttons", {"C", "B", "_A"}}, {"message", ""}}},
           {{{"alertType", "Information"}, {"buttons", {"x", "y"}}},
            {{"type", GTK_MESSAGE_INFO}, {"buttons", {"y", "x"}}, {"message", ""}}}}) {
    GtkWidget* d = Notice::makeAlert(params, nullptr);
    ASSERT_NE(d, nullptr) << params;
    EXPECT_EQ(panel(d), expected) << params;
  }
  for (const json& refused : {json{{"alertType", "alert"}, {"buttons", {"x"}}}, json{{"buttons", json::array()}},
                              json{{"buttons", {"1", "2", "3", "4", "5"}}}, json::object()})
    EXPECT_EQ(Notice::makeAlert(refused, nullptr), nullptr) << refused;
  Notice notice;
  EXPECT_EQ(notice.alert(R"({"alertType": "Other", "buttons": ["x"]})"), UINT64_MAX);
}

// Beyond the regular face pages see: weights, traits, order, and nothing
// for unknown names.
TEST_F(Ui, FontMembersCarryWeightsAndTraitsAndUnknownFontsHaveNone) {
  Fonts fonts;
  const json members = fonts.availableMembersOfFontFamily("DejaVu Sans");
  for (const json& member : {json{"DejaVuSans-BoldOblique", "Bold Oblique", 9, Fonts::kBold | Fonts::kItalic},
                             json{"DejaVuSans", "Book", 5, 0}})
    EXPECT_NE(std::find(members.begin(), members.end(), member), members.end()) << member << " in " << members;
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

// Another application's window can close just as the window manager names
// it active: asking about it then fails, and must not end the shell.
TEST_F(Ui, AnActiveWindowOfAnotherApplicationThatIsGoneIsIgnored) {
  Display* other = XOpenDisplay(nullptr);  // the other application's connection
  ASSERT_NE(other, nullptr);
  const ::Window root = DefaultRootWindow(other);
  const Atom active = XInternAtom(other, "_NET_ACTIVE_WINDOW", False);
  auto activateAndClose = [&] {
    ::Window w = XCreateSimpleWindow(other, root, 0, 0, 10, 10, 0, 0, 0);
    XChangeProperty(other, root, active, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&w), 1);
    XDestroyWindow(other, w);
    XSync(other, False);
  };
  activateAndClose();  // gone before the watcher looks
  int changes = 0;
  ActivationWatcher watcher([&](const std::string&, const std::string&) { ++changes; });
  activateAndClose();  // gone before the watcher hears of it
  gdk_display_sync(gdk_display_get_default());
  for (int i = 0; i < 100; ++i) g_main_context_iteration(nullptr, FALSE);
  XCloseDisplay(other);
  EXPECT_LE(changes, 1);  // still running, and it said so at most once
}

}  // namespace
