#pragma once
// Plug-in bundles: <Plugin>.bundle/Contents/Info.plist names the shared
// library in Contents/MacOS. One PluginBundle per bundle folder (by its real
// path) for the life of the process; its library is opened once
// (RTLD_LOCAL) and never closed, so the classes it answers, and their
// state, live as long as the process.
//
// Loading a library runs its code, so what is loaded is exactly what was
// checked: folders are opened once, without leaving the folder they are
// looked up in (openat2 RESOLVE_BENEATH: no "..", no link out of it), and
// the library is loaded through its open descriptor. Nothing is looked up
// again by name between the check and the load, so a folder swapped for a
// link while a page loads a plug-in cannot send the load elsewhere.
#include "app/UniqueFd.h"
#include "corvane/plugin.h"

#include <memory>
#include <mutex>
#include <string>

namespace corvane {

using FolderHandle = UniqueFd;

// Opens the folder `relative` (no leading "/") inside the folder open at
// `root`, resolved once and never outside it: no ".." segment, no link
// that leaves it. An invalid handle otherwise, with `outside` telling
// whether the path leads out of `root` (rather than naming nothing).
FolderHandle openFolderBeneath(int root, const std::string& relative, bool* outside);

class PluginBundle {
 public:
  // The bundle for the folder at `path` (followed as given): the same
  // object for the same folder every time, or nullptr when no folder is
  // there.
  static std::shared_ptr<PluginBundle> bundleWithPath(const std::string& path);
  // The bundle for the folder open at `folder`, likewise.
  static std::shared_ptr<PluginBundle> bundleForFolder(const FolderHandle& folder);
  // A class of that name in any bundle loaded so far (in load order).
  static const corvane_task_class* loadedClassNamed(const std::string& name);

  const std::string& bundlePath() const { return path_; }

  // Loads the executable of the bundle folder open at `folder` (the one the
  // caller checked), unless the library is loaded already. Answers false,
  // with the reason in `why`, when the Info.plist, the library, its entry
  // point or its module table is missing or unusable, or when the library
  // lies outside the bundle (a link out of it).
  bool load(const FolderHandle& folder, std::string* why = nullptr);
  bool isLoaded() const;
  // Opens the executable of the bundle folder open at `folder` (Info.plist's
  // CFBundleExecutable in Contents/MacOS, a library inside the bundle)
  // without asking it for a plug-in module, for libraries with an entry
  // point of another kind (the purchase helpers). The same checks as
  // load(); the handle is never closed. nullptr with the reason in `why`.
  void* openExecutable(const FolderHandle& folder, std::string* why = nullptr);
  // The loaded module's class of that name; nullptr when not loaded or absent.
  const corvane_task_class* classNamed(const std::string& name) const;

  explicit PluginBundle(std::string path) : path_(std::move(path)) {}

 private:
  bool loadLocked(int folder, std::string* why);
  void* openExecutableLocked(int folder, std::string* why);

  const std::string path_;
  mutable std::mutex mutex_;
  void* handle_ = nullptr;  // never closed
  int libraryFd_ = -1;      // the descriptor it was loaded through, never closed either
  const corvane_plugin_module* module_ = nullptr;
  bool refused_ = false;    // the library opened but is not a usable plug-in
  std::string refusal_;
};

}  // namespace corvane
