// Window geometry and state. Positions and sizes are screen points with
// the origin at the lower left of the main screen (the primary monitor);
// GTK counts from the top left, so every frame is converted both ways. A
// frame is the visible window: title bar and content, without client-side
// shadows.
#include "services/Window.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "ui/WindowController.h"
#include "ui/WindowFrame.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <cfloat>
#include <functional>
#include <cmath>

namespace corvane {
namespace {

struct Frame {
  int x = 0, y = 0, width = 0, height = 0;  // lower-left origin
  bool operator==(const Frame&) const = default;
};

// The main screen, whole or less panels and docks (the work area, from
// _NET_WORKAREA; the whole screen where no window manager reports one).
GdkRectangle mainMonitorRect(bool workArea) {
  GdkRectangle r{0, 0, 0, 0};
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return r;
  GdkMonitor* m = gdk_display_get_primary_monitor(display);
  if (!m) m = gdk_display_get_monitor(display, 0);
  if (m && workArea) gdk_monitor_get_workarea(m, &r);
  else if (m) gdk_monitor_get_geometry(m, &r);
  return r;
}
GdkRectangle mainScreen() { return mainMonitorRect(false); }
GdkRectangle mainWorkArea() { return mainMonitorRect(true); }

int flipY(int y, int height) {
  const GdkRectangle s = mainScreen();
  return s.y + s.height - y - height;
}

Frame frameOfRect(const GdkRectangle& r) { return {r.x, flipY(r.y, r.height), r.width, r.height}; }

// The window as a person sees it, in root coordinates from the top left:
// the title bar and the content, without the invisible border that GTK
// draws shadows and resize handles in (it differs with and without a
// compositor, so it is measured, not assumed).
GdkRectangle visibleRect(GtkWindow* w) {
  int x = 0, y = 0, width = 0, height = 0;
  gtk_window_get_position(w, &x, &y);
  gtk_window_get_size(w, &width, &height);
  GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w));
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
  if (!g || !child || !gtk_widget_get_mapped(GTK_WIDGET(w))) return {x, y, width, height};
  GtkAllocation c;
  gtk_widget_get_allocation(child, &c);
  int top = c.y;
  if (GtkWidget* title = gtk_window_get_titlebar(w); title && gtk_widget_get_visible(title)) {
    GtkAllocation t;
    gtk_widget_get_allocation(title, &t);
    top = std::min(top, t.y);
  }
  int ox = 0, oy = 0;
  gdk_window_get_origin(g, &ox, &oy);
  return {ox + c.x, oy + top, c.width, c.y + c.height - top};
}

Frame readFrame(GtkWindow* w) { return w ? frameOfRect(visibleRect(w)) : Frame{}; }

void waitForFrame(GtkWindow* w, const Frame& f);
Frame withinLimits(GtkWindow* w, Frame f);
void waitForSteadyFrame(GtkWindow* w);
void waitUntil(GtkWindow* w, const std::function<bool()>& done, int seconds = 1);

bool windowManagerMaximizes(GtkWindow* w) {
#ifdef GDK_WINDOWING_X11
  GdkScreen* screen = gtk_widget_get_screen(GTK_WIDGET(w));
  if (GDK_IS_X11_SCREEN(screen))
    return gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_WM_STATE_MAXIMIZED_VERT"));
#endif
  (void)w;
  return true;  // other back ends always have a compositor that maximises
}

// Sets the frame and waits (the window keeps drawing) until the window
// system reports it, so a read right after a change sees the change. GTK
// positions and sizes count slightly different parts of the window, so
// the change is applied as a difference to what GTK reports. A window
// manager that refuses the frame ends the wait after a second.
void applyFrame(GtkWindow* w, Frame f) {
  if (!w) return;
  // A size outside the window's limits would be cut down by the window
  // manager around the window's top-left corner, moving its lower edge:
  // the frame asked for is the limited one, placed where asked.
  f = withinLimits(w, f);
  bool leftMaximized = false;
  if (gtk_window_is_maximized(w)) {
    // A maximised window takes no new frame: leave that state first. The
    // window manager reports the state before it restores the earlier
    // frame, and GTK gives the window back its invisible border only then;
    // the step below reads both, so it waits for the restored frame too
    // (longer than for a plain change: a busy window manager is slow here).
    const Frame maximized = readFrame(w);
    gtk_window_unmaximize(w);
    waitUntil(w, [w, maximized] { return !gtk_window_is_maximized(w) && readFrame(w) != maximized; }, 3);
    leftMaximized = true;
  }
  // The difference is taken from what GTK knows; right after leaving the
  // maximised state the window manager's restored frame may still be on
  // its way, and the first step then lands off by the window's invisible
  // border. A step that moved the window but not onto the frame is
  // therefore taken again from the new readings; a frame the window
  // manager refused (nothing moved) is left as it is.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Frame before = readFrame(w);
    const GdkRectangle now = visibleRect(w);
    const int top = flipY(f.y, f.height);
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(w, &x, &y);
    gtk_window_get_size(w, &width, &height);
    gtk_window_move(w, x + f.x - now.x, y + top - now.y);
    gtk_window_resize(w, std::max(1, width + f.width - now.width), std::max(1, height + f.height - now.height));
    gtk_widget_queue_draw(GTK_WIDGET(w));
    waitForFrame(w, f);
    // Having left the maximised state, GTK puts the window's invisible
    // border back only on a later layout, which shifts the visible window
    // after it first showed the frame: the frame must hold a moment.
    if (leftMaximized) waitForSteadyFrame(w);
    const Frame after = readFrame(w);
    if (after == f || after == before) break;
  }
  // A limit the shell does not know (GTK's own minimum for the content, a
  // window manager's rule) gave another size: that size goes where asked.
  const Frame now = readFrame(w);
  if ((now.width != f.width || now.height != f.height) && (now.x != f.x || now.y != f.y)) {
    const Frame placed{f.x, f.y, now.width, now.height};
    const int top = flipY(placed.y, placed.height);
    const GdkRectangle visible = visibleRect(w);
    int x = 0, y = 0;
    gtk_window_get_position(w, &x, &y);
    gtk_window_move(w, x + placed.x - visible.x, y + top - visible.y);
    waitForFrame(w, placed);
  }
}

Frame withinLimits(GtkWindow* w, Frame f) {
  if (auto max = frame::maxFrameSize(w)) {
    f.width = std::min(f.width, max->first);
    f.height = std::min(f.height, max->second);
  }
  if (auto min = frame::minFrameSize(w)) {
    f.width = std::max(f.width, min->first);
    f.height = std::max(f.height, min->second);
  }
  return f;
}

void waitForSteadyFrame(GtkWindow* w) {
  constexpr gint64 kSteady = 150 * 1000;  // microseconds without a change
  Frame last = readFrame(w);
  gint64 since = g_get_monotonic_time();
  waitUntil(
      w,
      [w, &last, &since] {
        const Frame now = readFrame(w);
        if (!(now == last)) {
          last = now;
          since = g_get_monotonic_time();
        }
        return g_get_monotonic_time() - since >= kSteady;
      },
      2);
}

void waitForFrame(GtkWindow* w, const Frame& f) {
  waitUntil(w, [w, f] { return readFrame(w) == f; });
}

void waitUntil(GtkWindow* w, const std::function<bool()>& done, int seconds) {
  if (!gtk_widget_get_mapped(GTK_WIDGET(w))) return;
  GMainContext* main = g_main_context_default();
  if (!g_main_context_is_owner(main)) return;
  gdk_display_flush(gtk_widget_get_display(GTK_WIDGET(w)));
  const gint64 deadline = g_get_monotonic_time() + seconds * G_USEC_PER_SEC;
  // A tick wakes the loop to look again even when nothing else happens.
  guint tick = g_timeout_add(20, +[](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(main, TRUE);
  g_source_remove(tick);
}

int numberValue(const nlohmann::json& params, const char* key) {
  auto it = params.find(key);
  if (it == params.end() || !it->is_number()) return 0;  // missing or not a number reads as 0
  return static_cast<int>(std::lround(it->get<double>()));
}

std::string sizeText(double width, double height) {
  return nlohmann::json{{"width", width}, {"height", height}}.dump();
}

}  // namespace

GdkRectangle Window::mainScreenRect() { return mainScreen(); }

void Window::open(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string url = UtilTool::stringValue(params, "url");
  auto controller = WindowController::initWithURL(url, nullptr);
  // The earlier window stays open for its user; only the reference moves.
  if (windowController_) earlierControllers_.push_back(std::move(windowController_));
  windowController_ = std::move(controller);
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    gtk_application_add_window(GTK_APPLICATION(app), windowController_->window());
  windowController_->showWindow();
}

void Window::minimize() {
  if (GtkWindow* w = mainWindow()) gtk_window_iconify(w);
}

void Window::restore() {
  if (GtkWindow* w = mainWindow()) gtk_window_deiconify(w);
}

void Window::toggleFullscreen() {
  GtkWindow* w = mainWindow();
  if (!w) return;
  GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w));
  if (g && (gdk_window_get_state(g) & GDK_WINDOW_STATE_FULLSCREEN))
    gtk_window_unfullscreen(w);
  else
    gtk_window_fullscreen(w);
}

void Window::maximize() {
  GtkWindow* w = mainWindow();
  if (!w) return;
  const Frame target = frameOfRect(mainWorkArea());
  if (windowManagerMaximizes(w) && gtk_widget_get_mapped(GTK_WIDGET(w))) {
    // The window manager's own maximised state: the window fills the work
    // area exactly (GTK drops its invisible border) and its zoom button
    // shows the way back.
    gtk_window_maximize(w);
    waitForFrame(w, target);
    if (readFrame(w) == target) return;
  }
  applyFrame(w, target);
}

bool Window::isMaximized() {
  // No main window compares a zero frame.
  return readFrame(mainWindow()) == frameOfRect(mainWorkArea());
}

std::string Window::getOrigin() {
  const Frame f = readFrame(hostWindow());
  return nlohmann::json{{"x", f.x}, {"y", f.y}}.dump();
}

void Window::move(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  GtkWindow* w = hostWindow();
  if (!w) return;
  Frame f = readFrame(w);
  f.x = numberValue(params, "x");
  f.y = numberValue(params, "y");
  applyFrame(w, f);
}

void Window::resize(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  GtkWindow* w = hostWindow();
  if (!w) return;
  // The lower-left corner stays: x and y are unchanged in these coordinates.
  Frame f = readFrame(w);
  f.width = numberValue(params, "width");
  f.height = numberValue(params, "height");
  applyFrame(w, f);
}

std::string Window::getSize() {
  const Frame f = readFrame(hostWindow());
  return sizeText(f.width, f.height);
}

// GTK applies size hints to the whole X window, invisible border included;
// pages give limits for the visible window.
std::string Window::getMinsize() {
  GtkWindow* w = hostWindow();
  auto limit = w ? frame::minFrameSize(w) : std::nullopt;
  if (!limit) return sizeText(0, 0);
  return sizeText(limit->first, limit->second);
}

std::string Window::getMaxsize() {
  // Without a limit the size is unbounded: the largest float, as the
  // design's windows answer.
  GtkWindow* w = hostWindow();
  auto limit = w ? frame::maxFrameSize(w) : std::nullopt;
  if (!limit) return sizeText(FLT_MAX, FLT_MAX);
  return sizeText(limit->first, limit->second);
}

void Window::setMinsize(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  // Limits are kept in the frame's box, with every other hint of the window.
  if (GtkWindow* w = hostWindow())
    frame::setMinFrameSize(w, frame::Size{static_cast<int>(numberValue(params, "width")),
                                         static_cast<int>(numberValue(params, "height"))});
}

void Window::setMaxsize(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  // Limits are kept in the frame's box, with every other hint of the window.
  if (GtkWindow* w = hostWindow())
    frame::setMaxFrameSize(w, frame::Size{static_cast<int>(numberValue(params, "width")),
                                         static_cast<int>(numberValue(params, "height"))});
}

}  // namespace corvane
