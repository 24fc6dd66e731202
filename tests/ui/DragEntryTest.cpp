// A real drag (XTEST, on a display of the test's own) onto the web view:
// many motions are one entry per time the pointer comes in.
#include "ui/MainWebView.h"

#include "app/Bundle.h"
#include "app/Utils.h"
#include "bridge/GSignal.h"
#include "support/PrivateDesktop.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace corvane;

namespace {

struct Recorder : MainWebViewDelegate {
  std::vector<std::string> dropped;
  void dragDropViewFileList(const std::vector<std::string>& items, MainWebView*) override { dropped = items; }
};

GtkWidget* windowAt(int x, int y, int w, int h, GtkWidget* child) {
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(win), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(win), w, h);
  gtk_window_move(GTK_WINDOW(win), x, y);
  gtk_container_add(GTK_CONTAINER(win), child);
  gtk_widget_show_all(win);
  return win;
}

void serve(const std::function<bool()>& done, int seconds) {
  const gint64 end = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
  while (!done() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
}

}  // namespace

TEST(DragEntry, OneLinePerEntryHoweverManyMotions) {
  test::PrivateDesktop desktop(false);
  test::TempDir tmp;
  const std::string root = tmp.path();
  const std::string app = test::makeMinimalBundle(root, "DragTest", "app.corvane.dragtest");
  const std::string dropped = root + "/dropped file.txt";
  test::writeFile(dropped, "x");
  for (const char* v : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) setenv(v, root.c_str(), 1);
  setenv("DISPLAY", desktop.display().c_str(), 1);
  Bundle::setMain(*Bundle::open(app));
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));

  // The source: a label offering one file.
  GtkWidget* source = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(source), gtk_label_new("drag me"));
  gtk_drag_source_set(source, GDK_BUTTON1_MASK, nullptr, 0, GDK_ACTION_COPY);
  gtk_drag_source_add_uri_targets(source);
  gchar* uriText = g_filename_to_uri(dropped.c_str(), nullptr, nullptr);
  auto uri = std::make_unique<std::string>(uriText);
  g_free(uriText);
  g_signal_connect(source, "drag-data-get",
                   signalHandler([](GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer u) {
                     const gchar* uris[] = {static_cast<std::string*>(u)->c_str(), nullptr};
                     gtk_selection_data_set_uris(data, const_cast<gchar**>(uris));
                   }),
                   uri.get());
  windowAt(0, 0, 200, 200, source);

  MainWebView view;
  Recorder recorder;
  view.exDelegate = &recorder;
  webkit_web_view_load_html(view.view(), "<body>drop here</body>", "about:blank");
  windowAt(400, 0, 400, 400, view.widget());
  serve([] { return false; }, 2);  // both windows mapped and drawn

  testing::internal::CaptureStderr();
  // Press on the source, move into the view with many motions, out to an
  // empty spot, in again, and drop.
  std::vector<std::string> moves{"mousemove", "100", "100", "sleep", "0.3", "mousedown", "1"};
  auto step = [&](int x, int y) {
    moves.insert(moves.end(), {"sleep", "0.08", "mousemove", std::to_string(x), std::to_string(y)});
  };
  for (int x = 110; x <= 190; x += 20) step(x, 100);
  for (int i = 0; i < 8; ++i) step(450 + 20 * i, 100 + 10 * i);
  step(300, 600);
  step(250, 650);
  for (int i = 0; i < 8; ++i) step(500 + 10 * i, 200 + 10 * i);
  moves.insert(moves.end(), {"sleep", "0.3", "mouseup", "1"});
  // The pointer moves on a thread of its own while this one serves the drag.
  std::atomic<bool> exited{false};
  std::thread person([&] {
    desktop.xdotool(moves);
    exited = true;
  });
  serve([&] { return exited && !recorder.dropped.empty(); }, 60);
  person.join();
  const std::string log = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(exited);
  EXPECT_EQ(recorder.dropped, std::vector<std::string>{dropped}) << log;
  EXPECT_EQ(test::countOf(log, "[MainWebView draggingEntered:]"), 2u) << log;
}
