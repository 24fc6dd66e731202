#include "plugins/PluginBundle.h"

#include "app/InfoPlist.h"
#include "plugins/LibCallbackService.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace corvane {
namespace {

std::mutex g_bundlesLock;
std::map<std::string, std::shared_ptr<PluginBundle>> g_bundles;  // by resolved path
std::vector<std::shared_ptr<PluginBundle>> g_loadOrder;

// Class tables copied at the host's size, zero past the plug-in's own
// size, so fields a plug-in was built without read as absent. Never freed:
// pointers to them are handed out for the life of the process.
std::mutex g_classesLock;
std::deque<corvane_task_class> g_classes;
std::map<const corvane_task_class*, const corvane_task_class*> g_copies;  // plug-in table -> copy

std::optional<std::string> resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string out(real);
  free(real);
  return out;
}

bool hasDotDotSegment(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool pathStaysInside(const std::string& path, const std::string& root) {
  if (hasDotDotSegment(path)) return false;
  auto realPath = resolved(path);
  auto realRoot = resolved(root);
  if (!realPath || !realRoot) return false;
  std::string prefix = *realRoot;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  return realPath->size() > prefix.size() && realPath->compare(0, prefix.size(), prefix) == 0;
}

std::shared_ptr<PluginBundle> PluginBundle::bundleWithPath(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  auto key = resolved(path);
  if (!key) return nullptr;
  std::lock_guard<std::mutex> hold(g_bundlesLock);
  auto& slot = g_bundles[*key];
  if (!slot) slot = std::make_shared<PluginBundle>(*key);
  return slot;
}

const corvane_task_class* PluginBundle::loadedClassNamed(const std::string& name) {
  std::vector<std::shared_ptr<PluginBundle>> bundles;
  {
    std::lock_guard<std::mutex> hold(g_bundlesLock);
    bundles = g_loadOrder;
  }
  for (const auto& bundle : bundles)
    if (const corvane_task_class* cls = bundle->classNamed(name)) return cls;
  return nullptr;
}

bool PluginBundle::isLoaded() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return module_ != nullptr;
}

bool PluginBundle::load(std::string* why) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (module_) return true;
    if (!loadLocked(why)) return false;
  }
  // path_ is the bundle's key in g_bundles (its resolved path).
  std::lock_guard<std::mutex> hold(g_bundlesLock);
  if (auto it = g_bundles.find(path_); it != g_bundles.end()) g_loadOrder.push_back(it->second);
  return true;
}

void* PluginBundle::openExecutable(std::string* why) {
  std::lock_guard<std::mutex> hold(mutex_);
  return openExecutableLocked(why);
}

void* PluginBundle::openExecutableLocked(std::string* why) {
  auto fail = [why](const std::string& reason) -> void* {
    if (why) *why = reason;
    return nullptr;
  };
  if (handle_) return handle_;
  std::string plistError;
  auto info = readPropertyList(path_ + "/Contents/Info.plist", &plistError);
  if (!info || !info->is_object()) return fail("no readable Contents/Info.plist (" + plistError + ")");
  auto exe = info->find("CFBundleExecutable");
  if (exe == info->end() || !exe->is_string() || exe->get<std::string>().empty())
    return fail("Info.plist names no CFBundleExecutable");
  const std::string name = exe->get<std::string>();
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    return fail("CFBundleExecutable is not a file name: " + name);
  const std::string library = path_ + "/Contents/MacOS/" + name;
  struct stat st {};
  if (stat(library.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("no library at " + library);
  // A link out of the bundle would load code the package does not hold.
  if (!pathStaysInside(library, path_)) return fail("the library lies outside the bundle: " + library);

  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = dlerror();
    return fail(e ? e : "the library does not load");
  }
  handle_ = handle;
  return handle_;
}

bool PluginBundle::loadLocked(std::string* why) {
  auto fail = [why](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  if (refused_) return fail(refusal_);
  void* handle = openExecutableLocked(why);
  if (!handle) return false;
  // From here on the library stays open whatever happens: closing a library
  // whose initialisers ran is not safe, and a refusal is final.
  auto refuse = [&](const std::string& reason) {
    refused_ = true;
    refusal_ = reason;
    return fail(reason);
  };
  auto entry = reinterpret_cast<corvane_plugin_entry_fn>(dlsym(handle, CORVANE_PLUGIN_ENTRY_SYMBOL));
  if (!entry) return refuse(std::string("the library exports no ") + CORVANE_PLUGIN_ENTRY_SYMBOL);
  const corvane_plugin_module* module = entry(pluginHostApi());
  if (!module) return refuse("the plug-in refused to load");
  if (module->struct_size < offsetof(corvane_plugin_module, classes) + sizeof(module->classes))
    return refuse("the plug-in's module table is too small");
  if (module->api_version == 0 || module->api_version > CORVANE_PLUGIN_API_VERSION)
    return refuse("the plug-in needs interface version " + std::to_string(module->api_version));
  module_ = module;
  return true;
}

const corvane_task_class* PluginBundle::classNamed(const std::string& name) const {
  const corvane_task_class* found = nullptr;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!module_ || !module_->classes) return nullptr;
    for (auto* const* c = module_->classes; *c; ++c)
      if ((*c)->struct_size >= offsetof(corvane_task_class, name) + sizeof((*c)->name) && (*c)->name &&
          name == (*c)->name) {
        found = *c;
        break;
      }
  }
  if (!found) return nullptr;
  std::lock_guard<std::mutex> hold(g_classesLock);
  auto copied = g_copies.find(found);
  if (copied != g_copies.end()) return copied->second;
  corvane_task_class& copy = g_classes.emplace_back();
  std::memcpy(&copy, found, std::min<size_t>(found->struct_size, sizeof copy));
  g_copies.emplace(found, &copy);
  return &copy;
}

}  // namespace corvane
