#include "plugins/PluginTasks.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "bridge/UtilTool.h"
#include "plugins/BuiltInTaskRegistry.h"

#include <fcntl.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace corvane {
namespace {

constexpr const char* kExecTask = "-[Window execTask:]";
constexpr const char* kExecBuildInTask = "-[Window execBuildInTask:]";

// An operation of a task class that raised (or that the class lacks).
struct TaskRaised : std::runtime_error {
  TaskRaised(const std::string& description, std::string debug)
      : std::runtime_error(description), debugDescription(std::move(debug)) {}
  std::string debugDescription;
};

// Calls the operations of one task class on one target (NULL: the class).
class TaskCall {
 public:
  TaskCall(const corvane_task_class& cls, void* self) : cls_(cls), self_(self) {}

  void setMyDelegate(corvane_delegate* d) {
    run("setMyDelegate:", cls_.set_my_delegate, [&](corvane_error* e) { return cls_.set_my_delegate(self_, d, e); });
  }
  void setMyPassback(const std::string& s) {
    run("setMyPassback:", cls_.set_my_passback,
        [&](corvane_error* e) { return cls_.set_my_passback(self_, s.c_str(), e); });
  }
  void setMyLifecycle() {
    run("setMyLifecycle:", cls_.set_my_lifecycle,
        [&](corvane_error* e) { return cls_.set_my_lifecycle(self_, kPluginLifecycleToken, e); });
  }
  void setMySelfBundlePath(const std::string& s) {
    run("setMySelfBundlePath:", cls_.set_my_self_bundle_path,
        [&](corvane_error* e) { return cls_.set_my_self_bundle_path(self_, s.c_str(), e); });
  }
  void runWithArgv(const std::string& args) {
    run("runWithArgv:", cls_.run_with_argv, [&](corvane_error* e) { return cls_.run_with_argv(self_, args.c_str(), e); });
  }
  void callMethodWithArgv(const std::string& method, const std::string& args) {
    run("callMethod:WithArgv:", cls_.call_method_with_argv,
        [&](corvane_error* e) { return cls_.call_method_with_argv(self_, method.c_str(), args.c_str(), e); });
  }
  // The three setters every task gets, in their order.
  void configure(corvane_delegate* d, const std::string& passBack) {
    setMyDelegate(d);
    setMyPassback(passBack);
    setMyLifecycle();
  }

 private:
  template <class Op, class Fn>
  void run(const char* selector, Op* op, Fn fn) {
    const std::string where = std::string(self_ ? "-[" : "+[") + cls_.name + " " + selector + "]";
    if (!op) throw TaskRaised(where + ": the class lacks this operation", "unrecognized selector " + where);
    char buffer[1024] = "";
    corvane_error error{buffer, sizeof buffer};
    int status = -1;
    try {
      status = fn(&error);
    } catch (...) {  // a C++ plug-in that let an exception out
      throw TaskRaised(where + ": raised", "exception thrown by " + where);
    }
    if (status != 0) {
      const std::string message = buffer[0] ? buffer : "failed";
      throw TaskRaised(message, where + ": " + message);
    }
  }

  const corvane_task_class& cls_;
  void* self_;
};

std::string argumentsText(const nlohmann::json& params) {
  auto it = params.find("arguments");
  return it == params.end() ? "null" : it->dump();
}

void logDebug(const TaskRaised& e, const char* method, int line) {
  log().info("{}{} [Line {}] ", e.debugDescription, method, line);
}

std::string errorText(const TaskRaised& e) { return std::string(e.what()) + ", " + e.debugDescription; }

}  // namespace

struct PluginTasks::Params {
  explicit Params(const nlohmann::json& params)
      : callback(UtilTool::callbackName(params)),
        useThread(jsonBoolValue(params.contains("useThread") ? params["useThread"] : nlohmann::json(), false)),
        passBack(UtilTool::stringValue(params, "passBack")),
        packageMode(UtilTool::stringValue(params, "packageMode", "bundle")),
        taskToolPath(UtilTool::stringValue(params, "taskToolPath")),
        bundleClassName(UtilTool::stringValue(params, "bundleClassName", "className")),
        className(UtilTool::stringValue(params, "className", "className")),
        callMethod(UtilTool::stringValue(params, "callMethod")),
        arguments(argumentsText(params)) {}
  std::string callback;
  bool useThread;
  std::string passBack, packageMode, taskToolPath, bundleClassName, className, callMethod, arguments;
};

PluginTasks::PluginTasks(std::string contentsPath, LibCallbackService::Evaluate evaluate)
    : contentsPath_(std::move(contentsPath)), evaluate_(evaluate), service_(std::move(evaluate)) {}

std::string PluginTasks::rewriteToolPath(const std::string& toolPath) {
  if (toolPath.rfind("/plugin/", 0) != 0 && toolPath.rfind("/Plugin", 0) != 0) return toolPath;
  auto replaceAll = [](std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
    return text;
  };
  return replaceAll(replaceAll(toolPath, "/plugin/", "/PlugIns/"), "/Plugin/", "/PlugIns/");
}

// The frame both calls share: the work (only when "useThread" is set)
// answers why the task could not start, or raises once it has started; the
// answer goes to "callback" unless a started task answers for itself.
static PluginTasks::Answer answerFor(const char* method, bool useThread,
                                     const std::function<std::optional<std::string>()>& work) {
  PluginTasks::Answer out{UtilTool::resultDictionary(), false};
  std::optional<std::string> failure;
  try {
    if (useThread) failure = work();
    out.result["success"] = true;
  } catch (const TaskRaised& e) {
    logDebug(e, method, __LINE__);
    out.result["error"] = errorText(e);
  } catch (const std::exception& e) {
    log().info("{}{} [Line {}] ", e.what(), method, __LINE__);
    out.result["error"] = std::string(e.what()) + ", " + e.what();
  }
  if (failure) {
    out.result["success"] = false;
    out.result["error"] = *failure;
  }
  out.answer = !useThread || out.result.contains("error");
  return out;
}

PluginTasks::Answer PluginTasks::execTask(const nlohmann::json& params) {
  const Params p(params);
  return answerFor(kExecTask, p.useThread, [&] { return runBundle(p); });
}

std::optional<std::string> PluginTasks::runBundle(const Params& p) {
  if (p.packageMode != "bundle") {
    log().info("... comeon soon{} [Line {}] ", kExecTask, __LINE__);
    return "packageMode \"" + p.packageMode + "\" is not supported; use \"bundle\"";
  }
  const std::string tool = rewriteToolPath(p.taskToolPath);
  const std::string bundlePath = contentsPath_ + tool;
  // Loading a library runs its code: only bundles the package holds, never
  // one reached through ".." or a link out of Contents. The folder is
  // resolved once, beneath Contents, and what is loaded is what was opened.
  // (Without its leading "/" the tool names no folder in Contents.)
  bool outside = false;
  FolderHandle folder;
  if (const FolderHandle contents(::open(contentsPath_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      contents && !tool.empty() && tool.front() == '/') {
    folder = openFolderBeneath(contents.get(), tool.substr(1), &outside);
  }
  if (!folder && !outside) {
    lastBundleTask_ = nullptr;
    log().info("can't find [{}] plugin{} [Line {}] ", tool, kExecTask, __LINE__);
    return "can't find plugin " + tool;
  }
  if (!folder) {
    lastBundleTask_ = nullptr;
    log().info("refused [{}] plugin: it lies outside the application package{} [Line {}] ", tool, kExecTask,
               __LINE__);
    return "refused plugin " + tool + ": it lies outside the application package";
  }
  std::shared_ptr<PluginBundle> bundle = PluginBundle::bundleForFolder(folder);
  if (!bundle) {
    lastBundleTask_ = nullptr;
    log().info("can't find [{}] plugin{} [Line {}] ", tool, kExecTask, __LINE__);
    return "can't find plugin " + tool;
  }
  lastBundleTask_ = bundle;
  const bool known = std::any_of(pluginBundlePath2BundelTaskDic_.begin(), pluginBundlePath2BundelTaskDic_.end(),
                                 [&](const auto& entry) { return entry.second == bundle; });
  if (!known) {
    lastPluginBundlePath_ = bundlePath;
    pluginBundlePath2BundelTaskDic_.emplace(bundlePath, bundle);
  }

  std::string why;
  if (!bundle->load(folder, &why)) {
    log().info("can't load [{}] plugin: {}{} [Line {}] ", tool, why, kExecTask, __LINE__);
    return "can't load plugin " + tool + ": " + why;
  }
  const corvane_task_class* cls = bundle->classNamed(p.bundleClassName);
  if (!cls) {
    log().info("can't find class [{}] in [{}] plugin{} [Line {}] ", p.bundleClassName, tool, kExecTask, __LINE__);
    return "can't find class " + p.bundleClassName + " in plugin " + tool;
  }
  TaskCall call(*cls, nullptr);
  try {
    call.configure(service_.handle(), p.passBack);
  } catch (const TaskRaised& e) {
    log().info("error = {}{} [Line {}] ", e.what(), kExecTask, __LINE__);
    return e.what();
  }
  if (cls->set_my_self_bundle_path) {
    try {
      call.setMySelfBundlePath(bundle->bundlePath());
    } catch (const TaskRaised&) {  // optional: its failure does not stop the run
    }
  }
  call.configure(service_.handle(), p.passBack);
  if (p.callMethod.empty())
    call.runWithArgv(p.arguments);
  else
    call.callMethodWithArgv(p.callMethod, p.arguments);
  return std::nullopt;
}

PluginTasks::Answer PluginTasks::execBuildInTask(const nlohmann::json& params) {
  const Params p(params);
  return answerFor(kExecBuildInTask, p.useThread, [&] { return startBuiltIn(p); });
}

std::optional<std::string> PluginTasks::startBuiltIn(const Params& p) {
  const corvane_task_class* cls = BuiltInTaskRegistry::shared().classNamed(p.className);
  if (!cls) {
    log().info("can't find task class [{}]{} [Line {}] ", p.className, kExecBuildInTask, __LINE__);
    return "can't find task class " + p.className;
  }
  // The shared instance when the class offers one, else a fresh one.
  void* instance = nullptr;
  if (cls->get_share_instance) {
    char buffer[256] = "";
    corvane_error error{buffer, sizeof buffer};
    instance = cls->get_share_instance(&error);
  }
  const bool fresh = !instance && cls->new_instance;
  if (fresh) instance = cls->new_instance();
  try {
    TaskCall(*cls, instance).configure(service_.handle(), p.passBack);
  } catch (...) {
    if (fresh && cls->release_instance) cls->release_instance(instance);
    throw;
  }
  BuiltInTaskRegistry::runInBackground([cls, instance, fresh, method = p.callMethod, arguments = p.arguments,
                                        callback = p.callback, evaluate = evaluate_] {
    try {
      TaskCall(*cls, instance).callMethodWithArgv(method, arguments);
    } catch (const TaskRaised& e) {
      logDebug(e, kExecBuildInTask, __LINE__);
      nlohmann::json result = UtilTool::resultDictionary();
      result["error"] = errorText(e);
      evaluate(callback, result);
    }
    if (fresh && cls->release_instance) cls->release_instance(instance);
  });
  return std::nullopt;
}

}  // namespace corvane
