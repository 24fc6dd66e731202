#pragma once
// One application bundle in a temporary folder, made from the events page,
// and the shells started on it: the page learns what to do from EVENTS_MODE
// and reports to report.json.
#include "../e2e/ShellHarness.h"
#include "LiveShell.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace corvane::life {

class LiveApp {
 public:
  explicit LiveApp(const nlohmann::json& project = nlohmann::json::object()) { make(project); }
  LiveApp(const LiveApp&) = delete;
  LiveApp& operator=(const LiveApp&) = delete;

  // (Re)builds the bundle with this main configuration.
  void make(const nlohmann::json& project) { shell.makeBundle(project, CORVANE_EVENTS_PAGES); }
  std::map<std::string, std::string> env(const std::string& mode) const {
    auto env = shell.sessionEnv();
    env["CORVANE_TEST_RESULT"] = shell.root() + "/report.json";
    env["EVENTS_MODE"] = mode;
    for (const auto& [k, v] : extraEnv) env[k] = v;
    return env;
  }
  std::unique_ptr<LiveShell> start(const std::string& mode, const std::string& logName,
                                   std::vector<std::string> arguments = {}, const std::string& cwd = "",
                                   const std::string& binary = CORVANE_BINARY) const {
    return std::make_unique<LiveShell>(binary, shell.bundlePath(),
                                       shell.root() + "/" + logName, env(mode), std::move(arguments), cwd);
  }
  // A file of that name (and content) in the shell's home.
  std::string file(const std::string& name) const {
    const std::string path = shell.root() + "/home/" + name;
    std::ofstream(path) << name;
    return path;
  }
  // The page's report, waiting for it up to `seconds`.
  nlohmann::json report(double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (shell.report().is_null() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return shell.report();
  }
  void clearReport() const { std::filesystem::remove(shell.root() + "/report.json"); }

  e2e::ShellHarness shell;
  std::map<std::string, std::string> extraEnv;
};

}  // namespace corvane::life
