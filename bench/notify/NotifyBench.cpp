// Notification benchmark: a page times notice.notify and growl.notify
// against a trivial bridge call (path.getFileExt, the baseline, measured
// in the same run), first with a real notification daemon (dunst) on a
// private session bus, then with that daemon stopped (SIGSTOP). Prints
// milliseconds per call and the ratio to the baseline. Needs a display and
// a shell built with the test services.
#include "../BenchSupport.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;
namespace bench = corvane::bench;
using bench::median;
using bench::residentKiB;
using bench::slurp;

namespace {

std::string sh(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string makeBundle(const std::string& root) {
  return bench::makeBundle(root, "NotifyBench", "notifybench", bench::slurp(CORVANE_NOTIFY_BENCH_PAGE));
}

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    (void)!freopen("/dev/null", "w", stdout);
    (void)!freopen("/dev/null", "w", stderr);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGCONT);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// One shell run on a bus and daemon of its own.
json runOnce(const std::string& root, const std::string& app) {
  const std::string work = root + "/out";
  fs::remove_all(work);
  fs::create_directories(work);
  fs::remove(root + "/report.json");
  std::ofstream(root + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
         "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
         "<allow own=\"*\"/></policy></busconfig>\n";
  std::ofstream(root + "/dunstrc") << "[global]\n    follow = none\n[urgency_normal]\n    timeout = 2\n";
  const std::string bus = sh("dbus-daemon --config-file=" + root + "/bus.conf --fork --print-address=1 --print-pid=1");
  const std::string address = bus.substr(0, bus.find('\n'));
  const pid_t busPid = std::atoi(bus.substr(bus.find('\n') + 1).c_str());
  const std::map<std::string, std::string> busEnv{{"DBUS_SESSION_BUS_ADDRESS", address}};
  const pid_t dunst = spawn({"dunst", "-config", root + "/dunstrc"}, busEnv);
  for (int i = 0; i < 200 && sh("DBUS_SESSION_BUS_ADDRESS='" + address + "' dunstctl is-paused").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

  std::map<std::string, std::string> env = busEnv;
  env["HOME"] = root + "/home";
  env["CORVANE_TEST_RESULT"] = root + "/report.json";
  env["CORVANE_BENCH_DIR"] = work;
  env["CORVANE_LOG_LEVEL"] = "warn";  // the figures are about the calls
  const pid_t shell = spawn({CORVANE_BINARY, "--bundle", app}, env);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  bool stopped = false;
  while (waitpid(shell, nullptr, WNOHANG) != shell) {
    if (!stopped && fs::exists(work + "/stop-now")) {
      kill(dunst, SIGSTOP);
      std::ofstream(work + "/stopped") << "";
      stopped = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(shell, SIGKILL);
      waitpid(shell, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop(dunst);
  stop(busPid);
  json r = json::parse(slurp(root + "/report.json"), nullptr, false);
  return r.is_object() && r.value("hasNotice", false) ? r : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::cerr << "notify_bench: needs a display (run it through scripts/with-session.sh)\n";
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char tmpl[] = "/tmp/corvane-notify-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string app = makeBundle(root);
  std::map<std::string, std::vector<double>> ms;
  for (int i = 0; i < runs; ++i) {
    json r = runOnce(root, app);
    if (r.is_null()) {
      std::cerr << "notify_bench: the shell run failed (no test services, or no notification service)\n";
      return 1;
    }
    for (const auto& [key, value] : r.items())
      if (value.is_number()) ms[key].push_back(value.get<double>());
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  auto m = [&](const char* key) { return median(ms[key]); };
  const double base = m("baselineMs");
  std::printf("notification calls from a page (medians of %d runs; the page's clock moves in 1 ms steps,\n"
              "so each figure is a total over 30 or 60 calls divided by their number)\n", runs);
  std::printf("  baseline path.getFileExt      %9.4f ms per call\n", base);
  for (const auto& [label, key] : std::vector<std::pair<const char*, const char*>>{
           {"notice.notify, daemon running", "healthyNoticeMs"},
           {"growl.notify, daemon running", "healthyGrowlMs"},
           {"notice.notify, daemon stopped", "stoppedNoticeMs"},
           {"growl.notify, daemon stopped", "stoppedGrowlMs"}})
    std::printf("  %-29s %9.4f ms per call = %7.1f x baseline\n", label, m(key), m(key) / base);
  std::printf("  aim: every notification call under 250 ms, daemon running or stopped: %s\n",
              std::max({m("healthyNoticeMs"), m("healthyGrowlMs"), m("stoppedNoticeMs"), m("stoppedGrowlMs")}) < 250
                  ? "met"
                  : "NOT met");
  return 0;
}
