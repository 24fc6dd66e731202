#pragma once
// One change watcher of the Window object: GIO file monitors (inotify on
// Linux) on the paths added to it, each with the watch flags given, turning
// what the kernel reports into the seven event kinds pages know. A file
// watch keeps following its path when another program replaces the file
// (an editor's atomic save), and reports the replacement as a write. Events are
// delivered on the thread-default main context of the thread that added the
// path (the main thread for the Window object). Platform-free (GIO).
#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace corvane {

class ChangeWatcher {
 public:
  // The watch flags: the kernel event bits pages pass.
  enum Flag : uint32_t {
    kDelete = 0x01,
    kWrite = 0x02,
    kExtend = 0x04,
    kAttrib = 0x08,
    kLink = 0x10,
    kRename = 0x20,
    kRevoke = 0x40,
    kAll = 0x7F,
  };
  // Called with the watched path and the event's name ("FileWritten",
  // "FileSizeIncreased", ...).
  using Handler = std::function<void(const std::string& path, const std::string& flag)>;

  ChangeWatcher(std::string jsCallback, Handler handler);
  ~ChangeWatcher();
  ChangeWatcher(const ChangeWatcher&) = delete;
  ChangeWatcher& operator=(const ChangeWatcher&) = delete;

  const std::string& jsCallback() const { return jsCallback_; }
  // addPath:notifyingAbout: — false when the monitor cannot be made.
  bool addPath(const std::string& path, uint32_t flags);
  void removePath(const std::string& path);
  size_t numberOfWatchedPaths() const { return watched_.size(); }

  // The event name of a flag bit ("FileDeleted" for kDelete, ...).
  static const char* flagName(Flag flag);

 private:
  struct Watched;
  static void onChanged(GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event, gpointer data);
  void emit(Watched& w, Flag flag);
  void rearm(Watched& w);
  void replaced(Watched& w, const struct stat& before);

  std::string jsCallback_;
  Handler handler_;
  std::map<std::string, std::unique_ptr<Watched>> watched_;
};

}  // namespace corvane
