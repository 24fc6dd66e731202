// The drag rules of the web view and the one saved window frame. Needs a
// display (the test session provides one).
#include "ui/DevMode.h"
#include "ui/MainWebView.h"
#include "ui/WindowController.h"

#include "app/Bundle.h"
#include "bridge/PageConsole.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
using namespace corvane;

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

}  // namespace

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
