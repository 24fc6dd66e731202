#include "plugins/PluginBundle.h"

#include "app/InfoPlist.h"
#include "plugins/LibCallbackService.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace corvane {
namespace {

std::mutex g_bundlesLock;
std::map<std::string, std::shared_ptr<PluginBundle>> g_bundles;  // by real path
std::vector<std::shared_ptr<PluginBundle>> g_loadOrder;

// Class tables copied at the host's size, zero past the plug-in's own
// size, so fields a plug-in was built without read as absent. Never freed:
// pointers to them are handed out for the life of the process.
std::mutex g_classesLock;
std::deque<corvane_task_class> g_classes;
std::map<const corvane_task_class*, const corvane_task_class*> g_copies;  // plug-in table -> copy

// Where /proc shows the descriptor: a name for the object it is open on
// that no later rename or link changes.
std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The real path of the object open at `fd` (the bundle's key).
std::optional<std::string> realPathOf(int fd) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(descriptorPath(fd).c_str(), buffer, sizeof buffer - 1);
  if (n <= 0 || buffer[0] != '/') return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
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

// openat2 with RESOLVE_BENEATH: every step of `relative` stays inside the
// folder open at `dir` (links included, which must be relative and stay
// inside too); magic links of /proc never count.
int openBeneath(int dir, const std::string& relative, uint64_t flags) {
  open_how how{};
  how.flags = flags | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, dir, relative.c_str(), &how, sizeof how));
}

// EXDEV: the way leads out; ELOOP: through a magic link. Both are a way out.
bool leadsOutside(int error) { return error == EXDEV || error == ELOOP; }

std::shared_ptr<PluginBundle> registered(const std::string& key) {
  std::lock_guard<std::mutex> hold(g_bundlesLock);
  auto& slot = g_bundles[key];
  if (!slot) slot = std::make_shared<PluginBundle>(key);
  return slot;
}

}  // namespace

FolderHandle openFolderBeneath(int root, const std::string& relative, bool* outside) {
  if (outside) *outside = false;
  if (hasDotDotSegment(relative)) {
    if (outside) *outside = true;
    return FolderHandle();
  }
  const int fd = openBeneath(root, relative.empty() ? "." : relative, O_PATH | O_DIRECTORY);
  if (fd < 0 && outside) *outside = leadsOutside(errno);
  return FolderHandle(fd);
}

std::shared_ptr<PluginBundle> PluginBundle::bundleWithPath(const std::string& path) {
  if (path.empty()) return nullptr;
  const FolderHandle folder(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return folder ? bundleForFolder(folder) : nullptr;
}

std::shared_ptr<PluginBundle> PluginBundle::bundleForFolder(const FolderHandle& folder) {
  if (!folder) return nullptr;
  auto key = realPathOf(folder.get());
  if (!key) return nullptr;
  return registered(*key);
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

bool PluginBundle::load(const FolderHandle& folder, std::string* why) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (module_) return true;
    if (!folder) {
      if (why) *why = "the bundle folder is not open";
      return false;
    }
    if (!loadLocked(folder.get(), why)) return false;
  }
  // path_ is the bundle's key in g_bundles (its real path).
  std::lock_guard<std::mutex> hold(g_bundlesLock);
  if (auto it = g_bundles.find(path_); it != g_bundles.end()) g_loadOrder.push_back(it->second);
  return true;
}

void* PluginBundle::openExecutable(const FolderHandle& folder, std::string* why) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!folder) {
    if (why) *why = "the bundle folder is not open";
    return nullptr;
  }
  return openExecutableLocked(folder.get(), why);
}

void* PluginBundle::openExecutableLocked(int folder, std::string* why) {
  auto fail = [why](const std::string& reason) -> void* {
    if (why) *why = reason;
    return nullptr;
  };
  if (handle_) return handle_;
  // The Info.plist and the library are opened beneath the folder the caller
  // checked, and read and loaded through those descriptors.
  std::string plistError;
  std::optional<nlohmann::json> info;
  if (const FolderHandle plist(openBeneath(folder, "Contents/Info.plist", O_RDONLY | O_NONBLOCK)); plist) {
    struct stat st {};
    if (::fstat(plist.get(), &st) == 0 && S_ISREG(st.st_mode))
      info = readPropertyList(descriptorPath(plist.get()), &plistError);
    else
      plistError = "not a file";
  } else {
    plistError = leadsOutside(errno) ? "it lies outside the bundle" : std::strerror(errno);
  }
  if (!info || !info->is_object()) return fail("no readable Contents/Info.plist (" + plistError + ")");
  auto exe = info->find("CFBundleExecutable");
  if (exe == info->end() || !exe->is_string() || exe->get<std::string>().empty())
    return fail("Info.plist names no CFBundleExecutable");
  const std::string name = exe->get<std::string>();
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    return fail("CFBundleExecutable is not a file name: " + name);
  const std::string library = path_ + "/Contents/MacOS/" + name;
  // Not blocking: a FIFO there must not stall the page's call.
  FolderHandle file(openBeneath(folder, "Contents/MacOS/" + name, O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (!file) {
    // A link out of the bundle would load code the package does not hold.
    if (leadsOutside(errno)) return fail("the library lies outside the bundle: " + library);
    return fail("no library at " + library);
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("no library at " + library);

  // The descriptor stays open as long as the library: the loader knows a
  // library by the name it was loaded under, and a number given back could
  // name another library later.
  void* handle = dlopen(descriptorPath(file.get()).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = dlerror();
    return fail(e ? e : "the library does not load");
  }
  libraryFd_ = file.release();
  handle_ = handle;
  return handle_;
}

bool PluginBundle::loadLocked(int folder, std::string* why) {
  auto fail = [why](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  if (refused_) return fail(refusal_);
  void* handle = openExecutableLocked(folder, why);
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
