#include "ui/PageFirstKeys.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <deque>
#include <optional>

namespace corvane {

// How it works. GTK offers a key to the window's accelerators before the
// focus widget; this handler turns that round for a focused web view.
//
// WebKit takes the key from the window at once ("handled") and hands it to
// the web process. When the page leaves it alone, WebKit arms its view to
// pass the next key on and sends the very same event through the window
// again. The handler knows that event by its identity, lets the view pass it
// on (which disarms the view) and only then offers it to the accelerators:
// so an accelerator fires once, and only for keys the page did not take.
namespace {

struct KeyIdentity {
  guint32 time;
  guint16 keycode;
  guint state;
  guint keyval;
  bool operator==(const KeyIdentity&) const = default;
};

struct Router {
  // Keys handed to the page whose answer has not come back; WebKit answers
  // in order, and a handled key never comes back.
  std::deque<KeyIdentity> atThePage;
  // The last key that came back, in case it ever came back twice.
  std::optional<KeyIdentity> returned;
};

constexpr size_t kMaxOutstanding = 64;

KeyIdentity identityOf(const GdkEventKey* e) {
  return {e->time, e->hardware_keycode, e->state, e->keyval};
}

gboolean onKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  auto* router = static_cast<Router*>(data);
  GtkWindow* window = GTK_WINDOW(widget);
  GtkWidget* focus = gtk_window_get_focus(window);
  if (!focus || !WEBKIT_IS_WEB_VIEW(focus)) return FALSE;  // GTK's own order for other widgets

  const KeyIdentity key = identityOf(event);
  auto& pending = router->atThePage;
  if (auto it = std::find(pending.begin(), pending.end(), key); it != pending.end()) {
    // The page left it alone. Keys sent before it were handled.
    pending.erase(pending.begin(), it + 1);
    router->returned = key;
    gtk_window_propagate_key_event(window, event);
    gtk_window_activate_key(window, event);
    return TRUE;
  }
  if (router->returned == key) {
    // Back once more: never hand it to the page again.
    gtk_window_activate_key(window, event);
    return TRUE;
  }
  pending.push_back(key);
  if (pending.size() > kMaxOutstanding) pending.pop_front();  // a page that never answers
  if (!gtk_window_propagate_key_event(window, event)) {
    // The view did not take it to the page.
    pending.pop_back();
    gtk_window_activate_key(window, event);
  }
  return TRUE;
}

}  // namespace

void routeKeysToPageFirst(GtkWindow* window) {
  auto* router = new Router();
  g_object_set_data_full(G_OBJECT(window), "corvane-key-router", router,
                         [](gpointer p) { delete static_cast<Router*>(p); });
  g_signal_connect(window, "key-press-event", G_CALLBACK(onKeyPress), router);
}

}  // namespace corvane
