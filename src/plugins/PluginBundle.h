#pragma once
// Plug-in bundles: <Plugin>.bundle/Contents/Info.plist names the shared
// library in Contents/MacOS. One PluginBundle per path for the life of the
// process; its library is opened once (RTLD_LOCAL) and never closed, so the
// classes it answers, and their state, live as long as the process.
#include "corvane/plugin.h"

#include <memory>
#include <mutex>
#include <string>

namespace corvane {

class PluginBundle {
 public:
  // The bundle for `path`: the same object for the same path every time, or
  // nullptr when no folder is there.
  static std::shared_ptr<PluginBundle> bundleWithPath(const std::string& path);
  // A class of that name in any bundle loaded so far (in load order).
  static const corvane_task_class* loadedClassNamed(const std::string& name);

  const std::string& bundlePath() const { return path_; }

  // Loads the executable unless it is loaded already. Answers false, with
  // the reason in `why`, when the Info.plist, the library, its entry point
  // or its module table is missing or unusable, or when the library lies
  // outside the bundle (a symbolic link out of it).
  bool load(std::string* why = nullptr);
  bool isLoaded() const;
  // Opens the bundle's executable (Info.plist's CFBundleExecutable in
  // Contents/MacOS, a library inside the bundle) without asking it for a
  // plug-in module, for libraries with an entry point of another kind (the
  // purchase helpers). The same checks as load(); the handle is never
  // closed. nullptr with the reason in `why`.
  void* openExecutable(std::string* why = nullptr);
  // The loaded module's class of that name; nullptr when not loaded or absent.
  const corvane_task_class* classNamed(const std::string& name) const;

  explicit PluginBundle(std::string path) : path_(std::move(path)) {}

 private:
  bool loadLocked(std::string* why);
  void* openExecutableLocked(std::string* why);

  const std::string path_;
  mutable std::mutex mutex_;
  void* handle_ = nullptr;  // never closed
  const corvane_plugin_module* module_ = nullptr;
  bool refused_ = false;    // the library opened but is not a usable plug-in
  std::string refusal_;
};

// True when `path`, resolved through every symbolic link, lies inside the
// folder `root` (also resolved). A path with a ".." segment never does.
bool pathStaysInside(const std::string& path, const std::string& root);

}  // namespace corvane
