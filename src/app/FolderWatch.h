#pragma once
// Watches folders and everything below them for saves, and reports each
// burst of changes once: after the tree has been quiet for `quiet`, and at
// the latest `longest` after the burst's first change. An editor's save is
// several events (write, close, rename, the backup file), and a build tool
// writes many files at once; one report per burst is what a reload wants.
//
// GIO file monitors on the main context; folders made later are watched as
// they appear. Editors' scratch files (".name", "name~", "*.swp", "4913")
// and the folders a page never loads (".git", "node_modules") are ignored.
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace corvane {

class FolderWatch {
 public:
  // Called on the main loop with the changed paths of one burst, sorted.
  using Handler = std::function<void(const std::vector<std::string>& paths)>;

  FolderWatch(const std::vector<std::string>& folders, Handler handler,
              std::chrono::milliseconds quiet = std::chrono::milliseconds(30),
              std::chrono::milliseconds longest = std::chrono::milliseconds(150));
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // The folders watched now (every folder of the trees, as far as the
  // limit goes).
  size_t watchedFolderCount() const;

  // Whether a change to an item of this name means nothing to a page.
  static bool ignoredName(const std::string& name);

  // At most this many folders are watched (inotify watches are a shared,
  // limited resource); the rest is left out with a warning.
  static constexpr size_t kMaxFolders = 4000;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Of `folders`, the existing ones that lie inside no other, canonical and
// without repeats: the trees to watch.
std::vector<std::string> outermostFolders(const std::vector<std::string>& folders);

}  // namespace corvane
