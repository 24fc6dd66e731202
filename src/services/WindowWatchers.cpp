// Change watchers for the page: one ChangeWatcher per created watcher, kept
// in VDKWatcherList; each file-system event calls the watcher's page
// function with "path" and "flag", on the main thread.
#include "services/Window.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/ChangeWatcher.h"

#include <cstdlib>

namespace corvane {
namespace {

// The watch flags as an unsigned 32-bit number (default all seven).
uint32_t watchFlags(const nlohmann::json& params) {
  auto it = params.find("flags");
  if (it == params.end()) return ChangeWatcher::kAll;
  if (it->is_number()) return static_cast<uint32_t>(static_cast<int64_t>(it->get<double>()));
  if (it->is_string()) return static_cast<uint32_t>(std::strtoull(it->get_ref<const std::string&>().c_str(), nullptr, 0));
  return ChangeWatcher::kAll;
}

}  // namespace

bool Window::common_createPathChangeWatcher(const nlohmann::json& argument, bool isDir) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string path = UtilTool::stringValue(params, "path");
    const uint32_t flags = watchFlags(params);
    if (path.empty()) return false;
    if (isDir ? !Utils::checkPathIsDir(path) : (!Utils::checkPathisExists(path) || Utils::checkPathIsDir(path)))
      return false;
    std::weak_ptr<PageScript> page = page_;
    auto watcher = std::make_unique<ChangeWatcher>(callback, [page, callback](const std::string& p, const std::string& f) {
      EvalJsWithWebView(page.lock(), callback, {{"path", p}, {"flag", f}});
    });
    if (!watcher->addPath(path, flags)) return false;
    VDKWatcherList_.push_back(std::move(watcher));
    return true;
  } catch (const std::exception& e) {
    log().info("{} [Line {}] {}", "-[Window common_createPathChangeWatcher:isDir:]", __LINE__, e.what());
    return false;
  }
}

bool Window::createDirChangeWatcher(const nlohmann::json& argument) {
  return common_createPathChangeWatcher(argument, true);
}

bool Window::createFileChangeWatcher(const nlohmann::json& argument) {
  return common_createPathChangeWatcher(argument, false);
}

bool Window::removeFromChangeWatcher(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string path = UtilTool::stringValue(params, "path");
  if (path.empty() || !Utils::checkPathisExists(path)) return false;
  const bool any = !VDKWatcherList_.empty();
  for (auto& watcher : VDKWatcherList_) watcher->removePath(path);
  std::erase_if(VDKWatcherList_, [](const auto& w) { return w->numberOfWatchedPaths() == 0; });
  return any;
}

}  // namespace corvane
