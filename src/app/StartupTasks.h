#pragma once
// The start-up tasks of the main configuration's "Tasks" list: tools to
// launch and files or folders to delete, each guarded by conditions, with
// per-build marks remembered in the user defaults.
#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>

namespace corvane {

class UserDefaults;
class Utils;

struct TaskError {
  std::string domain;  // "error", or the description of an exception
  int code = 0;        // 1 tool failed, 2 deletion failed, 3 exception
};

class StartupTasks {
 public:
  // Called with nullopt when every started task has succeeded (or none
  // started), with an error for each task that failed. May be called several
  // times, and before run() returns.
  using Completion = std::function<void(const std::optional<TaskError>&)>;

  StartupTasks(const Utils& utils, UserDefaults& defaults);

  // Runs the tasks of `tasks` (the "Tasks" value; anything but an array
  // runs nothing).
  void run(const nlohmann::json& tasks, const Completion& completion);
  // Reads the main configuration and runs its "Tasks" (process_tasks:).
  void process_tasks(const Completion& completion);

  // "%@%ld": the build version followed by the value, read as an integer.
  static int64_t buildMark(const std::string& buildVersion, int64_t value);

 private:
  bool conditionHolds(const nlohmann::json& condition) const;
  bool shouldRun(const nlohmann::json& task) const;
  enum class Outcome { Succeeded, Failed, Silent };
  // Runs one task; on failure fills `error`. Throws on an exception.
  Outcome execute(const nlohmann::json& task, const std::string& label, TaskError& error);
  void recordMarks(const nlohmann::json& task);

  const Utils& utils_;
  UserDefaults& defaults_;
};

}  // namespace corvane
