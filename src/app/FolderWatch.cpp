#include "app/FolderWatch.h"

#include "app/Log.h"

#include <gio/gio.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace corvane {

struct FolderWatch::State : std::enable_shared_from_this<FolderWatch::State> {
  Handler handler;
  guint quietMs = 30;
  guint longestMs = 150;
  std::map<std::string, GFileMonitor*> monitors;  // folder -> its monitor
  std::set<std::string> changed;
  guint quietTimer = 0;
  guint longestTimer = 0;
  bool warnedLimit = false;

  ~State() {
    for (auto& [path, monitor] : monitors) {
      g_signal_handlers_disconnect_by_data(monitor, this);
      g_file_monitor_cancel(monitor);
      g_object_unref(monitor);
    }
    if (quietTimer) g_source_remove(quietTimer);
    if (longestTimer) g_source_remove(longestTimer);
  }

  void watchTree(const std::string& root) {
    watchFolder(root);
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      std::error_code typeError;
      if (!it->is_directory(typeError) || it->is_symlink(typeError)) continue;
      if (ignoredFolder(name)) {
        it.disable_recursion_pending();
        continue;
      }
      if (!watchFolder(it->path().string())) return;
    }
  }

  static bool ignoredFolder(const std::string& name) {
    return name.empty() || name.front() == '.' || name == "node_modules";
  }

  // False once the limit is reached.
  bool watchFolder(const std::string& path) {
    if (monitors.count(path)) return true;
    if (monitors.size() >= kMaxFolders) {
      if (!warnedLimit)
        log().warn("watching the first {} folders only: changes below {} are not seen", kMaxFolders, path);
      warnedLimit = true;
      return false;
    }
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    GFileMonitor* monitor = g_file_monitor_directory(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &error);
    g_object_unref(file);
    if (!monitor) {
      log().warn("cannot watch {}: {}", path, error ? error->message : "no monitor");
      if (error) g_error_free(error);
      return true;
    }
    g_signal_connect(monitor, "changed", G_CALLBACK(&State::onChanged), this);
    monitors[path] = monitor;
    return true;
  }

  void forgetBelow(const std::string& path) {
    for (auto it = monitors.begin(); it != monitors.end();) {
      if (it->first == path || it->first.rfind(path + "/", 0) == 0) {
        g_signal_handlers_disconnect_by_data(it->second, this);
        g_file_monitor_cancel(it->second);
        g_object_unref(it->second);
        it = monitors.erase(it);
      } else {
        ++it;
      }
    }
  }

  static void onChanged(GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event, gpointer data) {
    auto* self = static_cast<State*>(data);
    // Attributes (a touch of the access time, permissions) change nothing a
    // page shows; the hint only closes a write already reported.
    if (event == G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED || event == G_FILE_MONITOR_EVENT_CHANGES_DONE_HINT ||
        event == G_FILE_MONITOR_EVENT_PRE_UNMOUNT || event == G_FILE_MONITOR_EVENT_UNMOUNTED)
      return;
    for (GFile* f : {file, other}) {
      if (!f) continue;
      gchar* p = g_file_get_path(f);
      if (!p) continue;
      const std::string path = p;
      g_free(p);
      if (ignoredName(fs::path(path).filename().string())) continue;
      // Folders come and go with their contents.
      if (event == G_FILE_MONITOR_EVENT_DELETED || event == G_FILE_MONITOR_EVENT_MOVED_OUT ||
          (event == G_FILE_MONITOR_EVENT_RENAMED && f == file))
        self->forgetBelow(path);
      std::error_code ec;
      if (fs::is_directory(path, ec) && !fs::is_symlink(path, ec) &&
          !ignoredFolder(fs::path(path).filename().string()))
        self->watchTree(path);
      self->note(path);
    }
  }

  void note(const std::string& path) {
    changed.insert(path);
    if (quietTimer) g_source_remove(quietTimer);
    quietTimer = g_timeout_add(quietMs, &State::onTimer, this);
    if (!longestTimer) longestTimer = g_timeout_add(longestMs, &State::onTimer, this);
  }

  static gboolean onTimer(gpointer data) {
    auto* self = static_cast<State*>(data);
    // Both timers end here: whichever fires first reports the burst.
    if (self->quietTimer) g_source_remove(self->quietTimer);
    if (self->longestTimer) g_source_remove(self->longestTimer);
    self->quietTimer = self->longestTimer = 0;
    std::vector<std::string> paths(self->changed.begin(), self->changed.end());
    self->changed.clear();
    // The handler may end the watch; keep the state alive until it returns.
    auto keep = self->shared_from_this();
    if (!paths.empty() && self->handler) self->handler(paths);
    return G_SOURCE_REMOVE;
  }
};

FolderWatch::FolderWatch(const std::vector<std::string>& folders, Handler handler, std::chrono::milliseconds quiet,
                         std::chrono::milliseconds longest)
    : state_(std::make_shared<State>()) {
  state_->handler = std::move(handler);
  state_->quietMs = static_cast<guint>(quiet.count());
  state_->longestMs = static_cast<guint>(std::max(longest, quiet).count());
  for (const auto& folder : outermostFolders(folders)) state_->watchTree(folder);
}

FolderWatch::~FolderWatch() = default;

size_t FolderWatch::watchedFolderCount() const { return state_->monitors.size(); }

bool FolderWatch::ignoredName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.back() == '~') return true;
  if (name == "4913" || name == "node_modules") return true;  // vim's probe for a writable folder
  const auto dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  return ext == ".swp" || ext == ".swx" || ext == ".swo" || ext == ".tmp" || ext == ".part" ||
         ext == ".crdownload";
}

std::vector<std::string> outermostFolders(const std::vector<std::string>& folders) {
  std::vector<std::string> canonical;
  for (const auto& folder : folders) {
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) continue;
    const std::string c = fs::canonical(folder, ec).string();
    if (!ec) canonical.push_back(c);
  }
  std::sort(canonical.begin(), canonical.end());
  canonical.erase(std::unique(canonical.begin(), canonical.end()), canonical.end());
  std::vector<std::string> out;
  for (const auto& c : canonical) {
    const bool inside = std::any_of(out.begin(), out.end(), [&](const std::string& o) {
      return o == "/" || c.rfind(o + "/", 0) == 0;
    });
    if (!inside) out.push_back(c);
  }
  return out;
}

}  // namespace corvane
