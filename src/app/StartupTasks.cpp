#include "app/StartupTasks.h"

#include "app/ChildProcess.h"
#include "app/Log.h"
#include "app/TerminationSignal.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"

#include <glib.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace corvane {
namespace {

std::string text(const nlohmann::json& task, const char* key, const std::string& fallback = "") {
  return UtilTool::stringValue(task, key, fallback);
}

// A key that must hold text: absent (or null) gives `fallback`; a value of
// any other type gives nullopt, which matches none of the known texts (so a
// "taskType" of 7 does nothing and a "conditionType" of 5 never runs).
std::optional<std::string> textOr(const nlohmann::json& object, const char* key, const std::string& fallback) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return fallback;
  if (!it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// "id" and "descript" may hold any JSON value; they only appear in logs.
std::string shown(const nlohmann::json& task, const char* key) {
  auto it = task.find(key);
  if (it == task.end() || it->is_null()) return "(null)";
  return it->is_string() ? it->get<std::string>() : it->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Unsigned conversion that exists for JSON numbers only: text throws.
uint64_t unsignedValue(const nlohmann::json& v) {
  if (!v.is_number()) throw std::runtime_error("value " + v.dump() + " is not a number");
  return v.get<uint64_t>();
}

uint64_t indexOf(const nlohmann::json& task) {
  auto it = task.find("index");
  return it == task.end() || it->is_null() ? 0 : unsignedValue(*it);
}

// A tool nobody waits for is reaped by the main loop whenever it ends.
void reapWhenDone(pid_t pid) {
  g_child_watch_add(pid, [](GPid, gint, gpointer) {}, nullptr);
}

}  // namespace

StartupTasks::StartupTasks(const Utils& utils, UserDefaults& defaults)
    : utils_(utils), defaults_(defaults) {}

int64_t StartupTasks::buildMark(const std::string& buildVersion, int64_t value) {
  const std::string mark = buildVersion + std::to_string(value);
  return std::strtoll(mark.c_str(), nullptr, 10);
}

bool StartupTasks::conditionHolds(const nlohmann::json& c) const {
  const std::optional<std::string> type = textOr(c, "type", "compare");
  if (type == "compare") {
    auto valueIt = c.find("value");
    const int64_t value = valueIt == c.end() ? 0 : static_cast<int64_t>(unsignedValue(*valueIt));
    const uint64_t target =
        static_cast<uint64_t>(buildMark(utils_.getAppBuildVersion(), value));
    const std::optional<std::string> keyText = textOr(c, "key", "");
    if (!keyText) return false;
    const std::string& key = *keyText;
    auto stored = defaults_.objectForKey(key);
    if (!stored) return true;
    const uint64_t s = static_cast<uint64_t>(defaults_.integerForKey(key));
    const std::string op = text(c, "op");
    if (op == ">") return s > target;
    if (op == "<") return s < target;
    if (op == ">=") return s >= target;
    if (op == "<=") return s <= target;
    if (op == "==") return s == target;
    if (op == "!=") return s != target;
    return false;
  }
  if (type == "path_exist") {
    auto valueIt = c.find("value");
    const bool expected = valueIt != c.end() && jsonBoolValue(*valueIt);
    return Utils::checkPathisExists(utils_.update_env_string(text(c, "path"))) == expected;
  }
  return false;
}

bool StartupTasks::shouldRun(const nlohmann::json& task) const {
  const std::optional<std::string> combine = textOr(task, "conditionType", "||");
  if (combine != "||" && combine != "&&") return false;
  const bool all = combine == "&&";
  try {
    auto it = task.find("conditions");
    std::vector<bool> results;
    if (it != task.end() && it->is_array())
      for (const auto& c : *it) results.push_back(c.is_object() && conditionHolds(c));
    if (all) return std::all_of(results.begin(), results.end(), [](bool b) { return b; });
    return std::any_of(results.begin(), results.end(), [](bool b) { return b; });
  } catch (const std::exception&) {
    return all;  // the starting value of the combination
  }
}

StartupTasks::Outcome StartupTasks::execute(const nlohmann::json& task, const std::string& label,
                                            TaskError& error) {
  const std::optional<std::string> type = textOr(task, "taskType", "exec_task");
  if (type == "exec_task") {
    ChildSpec spec;
    spec.tool = utils_.update_env_string(text(task, "taskAppPath"));
    if (auto it = task.find("command"); it != task.end() && it->is_array())
      for (const auto& a : *it)
        spec.arguments.push_back(utils_.update_env_string(a.is_string() ? a.get<std::string>() : a.dump()));
    log().info("taskCommand = {}", nlohmann::json(spec.arguments).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    if (auto it = task.find("environmentDic"); it != task.end() && it->is_object())
      for (const auto& [k, v] : it->items()) spec.env[k] = v.is_string() ? v.get<std::string>() : v.dump();
    spec.workingFolder = utils_.update_env_string(text(task, "currentDirectoryPath"));
    auto waitIt = task.find("waitUntilExit");
    const bool wait = waitIt != task.end() && jsonBoolValue(*waitIt);
    const pid_t pid = startChild(spec);
    // A task that does not wait has done its part once its tool runs.
    int status = 0;
    if (wait) {
      // A termination signal does not wait for the tool: the shell's own
      // termination steps start at once, and no further task runs.
      const std::optional<int> ended = waitForChildUnlessTerminated(pid);
      if (!ended) throw std::runtime_error("interrupted by a termination signal");
      status = WIFEXITED(*ended) ? WEXITSTATUS(*ended) : 128 + (WIFSIGNALED(*ended) ? WTERMSIG(*ended) : 0);
    }
    if (!wait) reapWhenDone(pid);
    if (status == 0) {
      log().info("<app>process_task {} success.", label);
      return Outcome::Succeeded;
    }
    log().info("<app>process_task {} failed.", label);
    error = TaskError{"error", 1};
    return Outcome::Failed;
  }
  if (type == "delete_file" || type == "delete_dir") {
    const std::string path = utils_.update_env_string(text(task, "path"));
    const bool ok = type == "delete_file" ? Utils::removeFile(path) : Utils::removeDir(path);
    log().info("<app>process_task {} {}.", label, ok ? "success" : "failed");
    if (ok) return Outcome::Succeeded;
    error = TaskError{"error", 2};
    return Outcome::Failed;
  }
  return Outcome::Silent;  // an unknown type: started, but it never reports
}

void StartupTasks::recordMarks(const nlohmann::json& task) {
  auto it = task.find("conditions");
  if (it == task.end() || !it->is_array()) return;
  bool changed = false;
  for (const auto& c : *it) {
    if (!c.is_object() || textOr(c, "type", "compare") != "compare") continue;
    const std::optional<std::string> key = textOr(c, "key", "");
    if (!key) continue;
    int64_t value = 0;
    try {
      if (auto v = c.find("value"); v != c.end()) value = static_cast<int64_t>(unsignedValue(*v));
    } catch (const std::exception&) {
      continue;
    }
    defaults_.setObject(*key, buildMark(utils_.getAppBuildVersion(), value));
    changed = true;
  }
  if (changed) defaults_.synchronize();
}

void StartupTasks::process_tasks(const Completion& completion) {
  log().info("<App> process_tasks");
  auto config = utils_.getMainconfigDic();
  if (!config) return;
  auto it = config->find("Tasks");
  if (it == config->end()) return;
  run(*it, completion);
}

void StartupTasks::run(const nlohmann::json& tasksValue, const Completion& completion) {
  try {
    if (!tasksValue.is_array() || tasksValue.empty()) return;
    std::vector<nlohmann::json> tasks(tasksValue.begin(), tasksValue.end());
    if (tasks.size() >= 2) {
      // Keys first, so that an "index" written as text ends the whole run.
      std::vector<std::pair<uint64_t, size_t>> order;
      for (size_t i = 0; i < tasks.size(); ++i)
        order.emplace_back(tasks[i].is_object() ? indexOf(tasks[i]) : 0, i);
      std::stable_sort(order.begin(), order.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      std::vector<nlohmann::json> sorted;
      for (const auto& [idx, i] : order) sorted.push_back(std::move(tasks[i]));
      tasks = std::move(sorted);
    }

    // Every tool inherits every exported folder variable, not only those
    // the configuration's placeholders happened to touch.
    utils_.exportEnvironment();

    int started = 0, finished = 0;
    for (size_t n = 0; n < tasks.size(); ++n) {
      if (terminationRequested()) return;  // the shell is on its way out
      const nlohmann::json& task = tasks[n];
      if (!task.is_object()) throw std::runtime_error("task " + task.dump() + " is not an object");
      const std::string label =
          "[id:" + shown(task, "id") + ", descript:" + shown(task, "descript") + "]";
      bool cutShort = false;
      if (!shouldRun(task)) {
        log().info("不符合条件 <app>process_task {}.", label);
      } else {
        ++started;
        try {
          TaskError error;
          switch (execute(task, label, error)) {
            case Outcome::Succeeded:
              if (++finished == started) completion(std::nullopt);
              recordMarks(task);
              break;
            case Outcome::Failed:
              completion(error);
              break;
            case Outcome::Silent:
              break;
          }
        } catch (const std::exception& e) {
          if (terminationRequested()) return;
          log().info("发现错误: {}", e.what());
          completion(TaskError{e.what(), 3});
          cutShort = true;
        }
      }
      if (!cutShort && n + 1 == tasks.size() && started == 0) completion(std::nullopt);
    }
  } catch (const std::exception& e) {
    log().info("error: {}", e.what());
  }
}

}  // namespace corvane
