#pragma once
// A test suite served by one run of the real shell: the run happens once,
// before the suite's tests, and each test checks what the page reported.
// `Suite` is the deriving fixture, so every suite has its own run.
#include "ShellHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace corvane::e2e {

template <class Suite>
class ShellSuite : public ::testing::Test {
 protected:
  // Runs the shell on the bundle made in `shell` with `env`, which this
  // process takes on too (so both see the same folders), and keeps the
  // page's report and the shell's log.
  static void runShell(const std::map<std::string, std::string>& env, int timeoutSeconds = 120) {
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    keep(shell->run(env, timeoutSeconds));
  }
  // The same with the person at the screen: `driver` runs on a thread of
  // its own while the shell runs, and should return once `done` is set.
  static void runShell(const std::map<std::string, std::string>& env, int timeoutSeconds,
                       const std::function<void(const std::atomic<bool>& done)>& driver) {
    std::atomic<bool> done{false};
    std::thread person([&] { driver(done); });
    runShell(env, timeoutSeconds);
    done = true;
    person.join();
  }
  // Keeps the report and the log of a run the suite drove itself, which
  // ended with `exitStatus` (-1: it had to be killed).
  static void keep(int exitStatus) {
    status = exitStatus;
    report = std::make_unique<nlohmann::json>(shell->report());
    log = std::make_unique<std::string>(shell->log());
  }
  static void TearDownTestSuite() {
    report.reset();
    log.reset();
    shell.reset();
  }
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no display: run the tests through scripts/with-session.sh";
    ASSERT_EQ(status, 0) << *log;
    ASSERT_TRUE(report->is_object()) << "the page sent no report\n" << *log;
    ASSERT_FALSE(report->contains("pageError")) << (*report)["pageError"] << "\n" << *log;
  }
  static const nlohmann::json& r(const char* key) { return (*report)[key]; }

  static inline std::unique_ptr<ShellHarness> shell;
  static inline int status = -1;
  static inline std::unique_ptr<nlohmann::json> report;
  static inline std::unique_ptr<std::string> log;
};

}  // namespace corvane::e2e
