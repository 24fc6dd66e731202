#include "services/ChangeWatcher.h"

#include "app/Log.h"
#include "app/Utils.h"

#include <sys/stat.h>

namespace corvane {

struct ChangeWatcher::Watched {
  ChangeWatcher* owner = nullptr;
  std::string path;
  uint32_t flags = 0;
  bool isDir = false;
  GFile* file = nullptr;
  // The item itself (a watch of its folder that follows its name, plus for
  // files a watch of the file's own inode) and, for folders, their entries.
  GFileMonitor* self = nullptr;
  GFileMonitor* entries = nullptr;
  // What was last reported, so that the two watches that see one change
  // report it once and growth and link-count changes can be told apart.
  struct stat seen{};
  bool gone = false;

  struct stat now() const {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) st = seen;
    return st;
  }
  static void drop(GFileMonitor*& m, Watched* w) {
    if (!m) return;
    g_signal_handlers_disconnect_by_data(m, w);
    g_file_monitor_cancel(m);
    g_object_unref(m);
    m = nullptr;
  }
  ~Watched() {
    drop(self, this);
    drop(entries, this);
    if (file) g_object_unref(file);
  }
};

namespace {
bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

ChangeWatcher::ChangeWatcher(std::string jsCallback, Handler handler)
    : jsCallback_(std::move(jsCallback)), handler_(std::move(handler)) {}

ChangeWatcher::~ChangeWatcher() = default;

const char* ChangeWatcher::flagName(Flag flag) {
  switch (flag) {
    case kDelete: return "FileDeleted";
    case kWrite: return "FileWritten";
    case kExtend: return "FileSizeIncreased";
    case kAttrib: return "FileAttributesChanged";
    case kLink: return "LinkCountChanged";
    case kRename: return "FileRenamed";
    case kRevoke: return "AccessWasRevoked";
    default: return "";
  }
}

bool ChangeWatcher::addPath(const std::string& path, uint32_t flags) {
  if (watched_.count(path)) return true;  // a path is watched once per watcher
  auto w = std::make_unique<Watched>();
  w->owner = this;
  w->path = path;
  w->flags = flags;
  // A path holding U+0000 names no file; GIO would watch its prefix.
  if (Utils::namesNoFile(path)) return false;
  w->file = g_file_new_for_path(path.c_str());
  struct stat st{};
  w->isDir = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  w->seen = st;
  GError* error = nullptr;
  // Hard-link watching adds an inotify watch on the file itself, which is
  // what sees link-count changes; the folder's watch alone does not.
  const auto selfFlags = static_cast<GFileMonitorFlags>(G_FILE_MONITOR_WATCH_MOVES |
                                                        (w->isDir ? 0 : G_FILE_MONITOR_WATCH_HARD_LINKS));
  w->self = g_file_monitor_file(w->file, selfFlags, nullptr, &error);
  if (w->self && w->isDir) w->entries = g_file_monitor_directory(w->file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &error);
  if (!w->self || (w->isDir && !w->entries)) {
    log().info("cannot watch {}: {}", path, error ? error->message : "no monitor");
    if (error) g_error_free(error);
    return false;
  }
  for (GFileMonitor* m : {w->self, w->entries}) {
    if (!m) continue;
    g_file_monitor_set_rate_limit(m, 0);  // every write as it happens
    g_signal_connect(m, "changed", G_CALLBACK(onChanged), w.get());
  }
  watched_[path] = std::move(w);
  return true;
}

// The file watch follows an inode, and after an editor's atomic save (a new
// file renamed onto the name) that inode is gone: GIO then reports nothing
// more for the path. A new watch on the name follows the new file.
void ChangeWatcher::rearm(Watched& w) {
  if (w.isDir) return;
  // The old watch goes first: GIO shares one inotify watch per folder among
  // its monitors, and ending the old one after the new one started could
  // take the shared watch with it.
  Watched::drop(w.self, &w);
  GError* error = nullptr;
  w.self = g_file_monitor_file(
      w.file, static_cast<GFileMonitorFlags>(G_FILE_MONITOR_WATCH_MOVES | G_FILE_MONITOR_WATCH_HARD_LINKS), nullptr,
      &error);
  if (!w.self) {
    log().info("cannot watch {} again: {}", w.path, error ? error->message : "no monitor");
    if (error) g_error_free(error);
    return;
  }
  g_file_monitor_set_rate_limit(w.self, 0);
  g_signal_connect(w.self, "changed", G_CALLBACK(onChanged), &w);
}

// Another file now holds the watched name with its content: to the page,
// the file changed.
void ChangeWatcher::replaced(Watched& w, const struct stat& before) {
  w.gone = false;
  rearm(w);
  w.seen = w.now();
  emit(w, kWrite);
  if (w.seen.st_size > before.st_size) emit(w, kExtend);
}

void ChangeWatcher::removePath(const std::string& path) { watched_.erase(path); }

void ChangeWatcher::emit(Watched& w, Flag flag) {
  if ((w.flags & flag) && handler_) handler_(w.path, flagName(flag));
}

// inotify, as GIO reports it, to the kernel event kinds of a watched vnode:
//   the item's content changed            -> FileWritten (+ FileSizeIncreased when it grew)
//   an entry of a watched folder came, went or was renamed -> FileWritten on the folder
//   the item's link count moved (a hard link, a subfolder) -> LinkCountChanged
//   other attributes changed              -> FileAttributesChanged
//   the item was deleted                  -> FileDeleted
//   another file took its name (an atomic save) -> FileWritten (+ FileSizeIncreased)
//   the item was renamed or moved away    -> FileRenamed
//   its file system was unmounted         -> AccessWasRevoked
void ChangeWatcher::onChanged(GFileMonitor* monitor, GFile* file, GFile* other, GFileMonitorEvent event,
                              gpointer data) {
  auto& w = *static_cast<Watched*>(data);
  ChangeWatcher& self = *w.owner;
  if (event == G_FILE_MONITOR_EVENT_UNMOUNTED) {
    self.emit(w, kRevoke);
    return;
  }
  const struct stat before = w.seen;
  if (monitor == w.entries) {
    // Entries only; the item itself is the other watch's business.
    if (g_file_equal(file, w.file)) return;
    switch (event) {
      case G_FILE_MONITOR_EVENT_CREATED:
      case G_FILE_MONITOR_EVENT_DELETED:
      case G_FILE_MONITOR_EVENT_MOVED_IN:
      case G_FILE_MONITOR_EVENT_MOVED_OUT:
      case G_FILE_MONITOR_EVENT_RENAMED:
      case G_FILE_MONITOR_EVENT_MOVED:
        w.seen = w.now();
        self.emit(w, kWrite);
        if (w.seen.st_nlink != before.st_nlink) self.emit(w, kLink);
        break;
      default:
        break;
    }
    return;
  }
  const bool isSelf = g_file_equal(file, w.file);
  const bool onto = other && g_file_equal(other, w.file);
  switch (event) {
    case G_FILE_MONITOR_EVENT_CHANGED:
      if (!isSelf) break;
      w.seen = w.now();
      w.gone = false;
      if (!sameTime(w.seen.st_mtim, before.st_mtim) || w.seen.st_size != before.st_size) {
        self.emit(w, kWrite);
        if (w.seen.st_size > before.st_size) self.emit(w, kExtend);
      }
      if (w.seen.st_nlink != before.st_nlink) self.emit(w, kLink);
      break;
    case G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED:
      if (!isSelf) break;
      w.seen = w.now();
      if (w.seen.st_nlink != before.st_nlink)
        self.emit(w, kLink);
      else if (!sameTime(w.seen.st_ctim, before.st_ctim))
        self.emit(w, kAttrib);
      break;
    case G_FILE_MONITOR_EVENT_DELETED:
      if (isSelf && !w.gone) {
        w.gone = true;
        self.emit(w, kDelete);
      }
      break;
    case G_FILE_MONITOR_EVENT_RENAMED:
    case G_FILE_MONITOR_EVENT_MOVED_OUT:
    case G_FILE_MONITOR_EVENT_MOVED:
      if (isSelf && !w.gone) {
        w.gone = true;
        self.emit(w, kRename);
      } else if (onto) {
        // A file renamed onto the name: how editors save.
        self.replaced(w, before);
      }
      break;
    case G_FILE_MONITOR_EVENT_MOVED_IN:
      // A file moved here from another folder onto the name.
      if (isSelf || onto) self.replaced(w, before);
      break;
    case G_FILE_MONITOR_EVENT_CREATED:
      if (isSelf || onto) {
        // The name is back, as a new file. What was written into it before
        // the new watch began is reported here; later writes by the watch.
        w.gone = false;
        self.rearm(w);
        w.seen = w.now();
        if (w.seen.st_size > 0) {
          self.emit(w, kWrite);
          self.emit(w, kExtend);
        }
      }
      break;
    default:
      break;
  }
}

}  // namespace corvane
