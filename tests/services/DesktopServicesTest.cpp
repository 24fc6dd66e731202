// The alert's panel on the test session's display: its kinds and buttons
// (what a page sees of it, and of the badge, fonts and sounds, is checked
// end to end).
#include "app/Bundle.h"
#include "app/Utils.h"
#include "services/Notice.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

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

}  // namespace
