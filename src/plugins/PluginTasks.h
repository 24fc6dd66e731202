#pragma once
// The two page-facing task calls without the bridge around them: "execTask"
// runs a class of a plug-in bundle inside the application package,
// synchronously on the calling (main) thread; "execBuildInTask" configures
// a task class known by name on the calling thread and runs its method on
// the background pool. One PluginTasks belongs to one page (the Window
// object) and keeps that page's bundle registry.
//
// A task that cannot run (no bundle, a bundle outside the package, a
// library that does not load, no such class, an operation that fails)
// is logged and answered to the call's "callback" with "success" false and
// an "error" text, whether or not "useThread" was set. A task that runs
// answers through its delegate only.
#include "plugins/LibCallbackService.h"
#include "plugins/PluginBundle.h"

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvane {

class PluginTasks {
 public:
  // What the call answers: `answer` says whether "callback" gets `result`.
  struct Answer {
    nlohmann::json result;
    bool answer = false;
  };

  // `contentsPath`: the application package's Contents folder; `evaluate`
  // calls a page function of this page (see LibCallbackService).
  PluginTasks(std::string contentsPath, LibCallbackService::Evaluate evaluate);

  Answer execTask(const nlohmann::json& params);
  Answer execBuildInTask(const nlohmann::json& params);

  // "/plugin/..." and "/Plugin..." name the PlugIns folder.
  static std::string rewriteToolPath(const std::string& toolPath);

  LibCallbackService& service() { return service_; }
  const std::string& lastPluginBundlePath() const { return lastPluginBundlePath_; }
  const std::shared_ptr<PluginBundle>& lastBundleTask() const { return lastBundleTask_; }
  // Every distinct bundle used, by the full path it was first used under.
  const std::map<std::string, std::shared_ptr<PluginBundle>>& pluginBundlePath2BundelTaskDic() const {
    return pluginBundlePath2BundelTaskDic_;
  }

 private:
  struct Params;
  // The bundle run of "execTask" (useThread set); the reason when it could
  // not start. Failures of a started run are thrown.
  std::optional<std::string> runBundle(const Params& p);
  // The start of "execBuildInTask" (useThread set), likewise.
  std::optional<std::string> startBuiltIn(const Params& p);

  const std::string contentsPath_;
  LibCallbackService::Evaluate evaluate_;
  LibCallbackService service_;
  std::shared_ptr<PluginBundle> lastBundleTask_;
  std::map<std::string, std::shared_ptr<PluginBundle>> pluginBundlePath2BundelTaskDic_;
  std::string lastPluginBundlePath_;
};

}  // namespace corvane
