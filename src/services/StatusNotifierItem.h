#pragma once
// One tray icon as the StatusNotifierItem protocol has it, over GDBus: the
// item object (org.kde.StatusNotifierItem at /StatusNotifierItem) on a
// session-bus connection of its own under the name
// "org.kde.StatusNotifierItem-<pid>-<n>", registered with the desktop's
// org.kde.StatusNotifierWatcher whenever one runs. The host behind the
// watcher (the panel) draws it and calls Activate, SecondaryActivate,
// Scroll and ContextMenu; its menu is another object on the same
// connection (see DBusMenuExporter).
//
// Nothing waits on another process: the connection, the name and the
// registration are asynchronous, and the registration call is bounded.
// Without a watcher the item waits; a watcher that appears later (or
// restarts) gets it. Hiding gives up the name and the objects, which takes
// the item off every panel at once; the connection stays for the next
// showing, so showing and hiding cost a few messages only.
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class StatusNotifierItem {
 public:
  // An icon as the protocol sends it: a theme name, or images (ARGB32,
  // network byte order) of several sizes.
  struct Pixmap {
    int width = 0, height = 0;
    std::vector<unsigned char> argb;
  };
  struct Icon {
    std::string name;
    std::vector<Pixmap> pixmaps;
  };
  // Activate, SecondaryActivate and ContextMenu ("activate",
  // "secondaryActivate", "contextMenu") with the position the host gives.
  using ClickHandler = std::function<void(const std::string& kind, int x, int y)>;
  using ScrollHandler = std::function<void(int delta, const std::string& orientation)>;
  // Exports further objects (the menu) on the item's connection while it
  // is shown; answers a function that takes them off again.
  using Exporter = std::function<std::function<void()>(GDBusConnection*)>;

  StatusNotifierItem(std::string id, ClickHandler click, ScrollHandler scroll);
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  void setMenu(const std::string& objectPath, Exporter exporter);
  void setShown(bool shown);
  bool shown() const { return shown_; }
  // A watcher owns its name on the session bus now.
  bool watcherPresent();
  // The watcher accepted the item.
  bool registered() const { return registered_; }

  void setTitle(const std::string& title);
  void setToolTip(const std::string& text);
  void setIcon(Icon icon);
  void setAttentionIcon(Icon icon);
  void setNeedsAttention(bool attention);

  static constexpr const char* kObjectPath = "/StatusNotifierItem";
  static constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

  struct Link;  // the item's connection and what lives on it

 private:
  void connect();
  void publish();
  void withdraw();
  void registerWithWatcher();
  void changed(const char* signal, std::initializer_list<const char*> properties);
  GVariant* property(const std::string& name) const;
  std::string status() const;
  static GVariant* iconPixmaps(const Icon& icon);

  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                           GDBusMethodInvocation*, gpointer);
  static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                                 gpointer);

  std::string id_;
  ClickHandler click_;
  ScrollHandler scroll_;
  std::string menuPath_ = "/";
  Exporter exporter_;
  std::string title_, toolTip_;
  Icon icon_, attentionIcon_;
  bool attention_ = false;
  bool shown_ = false;
  bool registered_ = false;
  int watcherKnown_ = -1;  // -1 not yet known, else 0/1
  GDBusConnection* sessionBus_ = nullptr;  // the shared one: watches the watcher
  guint watcherWatch_ = 0;
  std::shared_ptr<Link> link_;
  std::string busName_;
};

}  // namespace corvane
