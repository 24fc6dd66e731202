// Plug-in and built-in tasks for the page: the bridge half of
// plugins/PluginTasks, which holds the work and the bookkeeping.
#include "services/Window.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"

namespace corvane {

std::unique_ptr<PluginTasks> Window::makePluginTasks(std::shared_ptr<PageScript> page) {
  // The delegate's page: a weak hold, so a plug-in message that comes late
  // never keeps a closed page alive.
  std::weak_ptr<PageScript> weak = page;
  return std::make_unique<PluginTasks>(
      Utils::sharedInstance().bundle().contentsPath(),
      [weak](const std::string& callback, const nlohmann::json& value) {
        if (auto view = weak.lock()) EvalJsWithWebView(view, callback, value);
      });
}

namespace {

using TaskCall = PluginTasks::Answer (PluginTasks::*)(const nlohmann::json&);

void answerTask(PluginTasks& tasks, const std::shared_ptr<PageScript>& page, const nlohmann::json& argument,
                TaskCall call, const char* method) {
  // An argument that is not a text gives no callback name: only the log.
  if (!argument.is_string()) {
    log().info("{} [Line {}] error = {}", method, __LINE__, "the argument is not a JSON text");
    return;
  }
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  PluginTasks::Answer answer = (tasks.*call)(params);
  if (answer.answer) EvalJsWithWebView(page, UtilTool::callbackName(params), answer.result);
}

}  // namespace

void Window::execTask(const nlohmann::json& argument) {
  answerTask(*tasks_, page_, argument, &PluginTasks::execTask, "-[Window execTask:]");
}

void Window::execBuildInTask(const nlohmann::json& argument) {
  answerTask(*tasks_, page_, argument, &PluginTasks::execBuildInTask, "-[Window execBuildInTask:]");
}

std::string Window::lastPluginBundlePath() const { return tasks_->lastPluginBundlePath(); }

nlohmann::json Window::pluginBundlePath2BundelTaskDic() const {
  nlohmann::json registry = nlohmann::json::object();
  for (const auto& [path, bundle] : tasks_->pluginBundlePath2BundelTaskDic()) registry[path] = bundle->bundlePath();
  return registry;
}

}  // namespace corvane
