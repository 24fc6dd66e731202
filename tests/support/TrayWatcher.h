#pragma once
// A status notifier watcher and host of a test's own, on a private bus: it
// owns org.kde.StatusNotifierWatcher (served on a thread of its own, so the
// test may block), records the items that register, and reads and drives
// an item the way a panel does (its properties, its menu's layout, clicks,
// scrolls, menu events). stop() drops the watcher's name, as a panel that
// ends does; start() brings it back.
#include <gio/gio.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

class TrayWatcher {
 public:
  explicit TrayWatcher(std::string busAddress);
  ~TrayWatcher();

  void start();
  void stop();

  // Every RegisterStatusNotifierItem call so far, in order: the service as
  // the item gave it.
  struct Registration {
    std::string service;
  };
  std::vector<Registration> registrations() const;

  // The panel's side, on a connection of its own. Throw std::runtime_error
  // with the bus's error text.
  GVariant* property(const std::string& service, const std::string& name) const;  // owned by the caller
  void call(const std::string& service, const std::string& path, const std::string& interface,
            const std::string& method, GVariant* args, GVariant** reply = nullptr) const;
  bool nameHasOwner(const std::string& name) const;

 private:
  void serve();
  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                           GDBusMethodInvocation*, gpointer);
  static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                                 gpointer);

  std::string address_;
  GDBusConnection* panel_ = nullptr;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
  GDBusConnection* watcher_ = nullptr;  // owned by the thread
  mutable std::mutex mutex_;
  std::vector<Registration> registrations_;
};

}  // namespace corvane::test
