// Bridge benchmarks, all measured in one run and printed as ratios:
//  - round trip: synchronous bridge calls per second of corvane.path.getFileExt
//    from a page loop, against a plain script function in the same page and
//    against WebKit's own asynchronous script-message round trip with reply
//    (window.webkit.messageHandlers) in a minimal WebKitGTK window;
//  - large arguments: the same call with a 1 KiB, 64 KiB, 1 MiB and 8 MiB text
//    argument (and test.echo, which sends the text back), against the
//    message handler with the same texts;
//  - start-up: process start to the page's first script, the shell against
//    that minimal window loading the same page, with the shell's launch
//    steps (its "launch:" log lines) against the same clock; with the
//    argument "startup" only this, each run starting the minimal window
//    before and after the shell, so that the shell is held against the mean
//    of the two and the two against each other (the spread of one program);
//  - memory: resident memory of the UI process and of its web process
//    while the loaded page sits idle, the shell against that window.
// Needs a display (DISPLAY) and a shell built with the test services.
#include "../BenchSupport.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;
namespace bench = corvane::bench;
using bench::median;
using bench::residentKiB;
using bench::slurp;

namespace {

double epochMs() {
  using namespace std::chrono;
  return duration_cast<duration<double, std::milli>>(system_clock::now().time_since_epoch()).count();
}

// ---- the baseline: a minimal WebKitGTK window -----------------------------

// Its own steps, as the shell's log gives them, to compare with the shell's.
void minimalStep(const char* step) {
  std::printf("launch: 0 ms  %s  (clock %.1f)\n", step, epochMs());
  std::fflush(stdout);
}

int minimalWindow(const std::string& uri) {
  minimalStep("main entered");
  gtk_init(nullptr, nullptr);
  minimalStep("display opened");
  WebKitUserContentManager* ucm = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_with_reply(ucm, "benchReply", nullptr);
  webkit_user_content_manager_register_script_message_handler(ucm, "benchReport");
  g_signal_connect(ucm, "script-message-with-reply-received::benchReply",
                   G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                                  gpointer) -> gboolean {
                     char* s = jsc_value_to_string(value);
                     std::string p = s;
                     g_free(s);
                     auto dot = p.rfind('.');
                     JSCValue* answer = jsc_value_new_string(jsc_value_get_context(value),
                                                             dot == std::string::npos ? "" : p.c_str() + dot + 1);
                     webkit_script_message_reply_return_value(reply, answer);
                     g_object_unref(answer);
                     return TRUE;
                   }),
                   nullptr);
  g_signal_connect(ucm, "script-message-received::benchReport",
                   G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer) {
                     // The 4.1 API still hands the old result wrapper here.
                     G_GNUC_BEGIN_IGNORE_DEPRECATIONS
                     JSCValue* value = webkit_javascript_result_get_js_value(result);
                     G_GNUC_END_IGNORE_DEPRECATIONS
                     char* s = jsc_value_to_string(value);
                     const bool settled = std::strcmp(s, "settled") == 0;
                     std::cout << s << std::endl;
                     g_free(s);
                     // "settled" only marks the moment memory is sampled.
                     if (!settled) gtk_main_quit();
                   }),
                   nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // The size the shell's main window starts with: both paint as much.
  gtk_window_set_default_size(GTK_WINDOW(window), 1024, 720);
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(ucm);
  gtk_container_add(GTK_CONTAINER(window), view);
  minimalStep("web view made");
  gtk_widget_show_all(window);
  minimalStep("window shown");
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri.c_str());
  minimalStep("page load started");
  gtk_main();
  return 0;
}

// ---- the driver ------------------------------------------------------------

struct Run {
  double startupMs = 0;
  json report;
};

// The direct children of `parent` with their command names.
std::vector<std::pair<pid_t, std::string>> childrenOf(pid_t parent) {
  std::vector<std::pair<pid_t, std::string>> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (dirent* e = readdir(proc)) {
    const pid_t pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    // /proc/<pid>/stat: pid (comm) state ppid ...; comm may hold spaces.
    std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
      out.emplace_back(pid, stat.substr(open + 1, close - open - 1));
  }
  closedir(proc);
  return out;
}

struct Memory {
  double uiMiB = 0;
  double webMiB = 0;
};

// The UI process and its web process (WebKit names it WebKitWebProcess; the
// kernel keeps 15 characters of it).
Memory sampleMemory(pid_t ui) {
  Memory m;
  m.uiMiB = residentKiB(ui) / 1024.0;
  for (const auto& [pid, comm] : childrenOf(ui))
    if (comm.rfind("WebKitWebProces", 0) == 0) m.webMiB += residentKiB(pid) / 1024.0;
  return m;
}

// Runs `argv` with its standard output in `outFile` and its errors in
// `errFile`; answers the exit status and the epoch time of the start. When
// `marker` shows up in `markerFile` the process tree's memory is sampled.
int spawn(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
          double& startedAt, const std::vector<std::pair<std::string, std::string>>& env,
          const std::string& markerFile, const std::string& marker, Memory& memory) {
  // A marker left by the previous run must not count.
  fs::remove(markerFile);
  // The previous run's web and network processes outlive it for a moment
  // and its page's last work may still be on the machine: each start gets
  // a quiet machine, or the start-up figures measure the order of the runs.
  usleep(1500000);
  startedAt = epochMs();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* f = std::fopen(outFile.c_str(), "w");
    dup2(fileno(f), 1);
    FILE* e = std::fopen(errFile.c_str(), "w");
    dup2(fileno(e), 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  bool sampled = false;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (!sampled && slurp(markerFile).find(marker) != std::string::npos) {
      // From half a second into the page's idle second and a half (the
      // load's last work, first paint and collection, is over in both):
      // the mean of three samples 200 ms apart.
      usleep(500000);
      for (int k = 0; k < 3; ++k) {
        if (k) usleep(200000);
        const Memory m = sampleMemory(pid);
        memory.uiMiB += m.uiMiB / 3;
        memory.webMiB += m.webMiB / 3;
      }
      sampled = true;
    }
    usleep(sampled ? 20000 : 2000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string makeBundle(const std::string& root, bool startupOnly) {
  std::string page = bench::slurp(CORVANE_BENCH_PAGE);
  if (startupOnly) {
    const std::string off = "var startupOnly = false;";
    page.replace(page.find(off), off.size(), "var startupOnly = true;");
  }
  const std::string app = bench::makeBundle(root, "BridgeBench", "bridgebench", page,
                                            "<key>CFBundleExecutable</key><string>BridgeBench</string>\n"
                                            "<key>CFBundleShortVersionString</key><string>1.0</string>\n");
  fs::create_directories(app + "/Contents/MacOS");
  return app;
}

// The last line of a text (the minimal window prints "settled" first).
std::string lastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const auto nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

struct Series {
  std::vector<double> shell, minimal;
};

// The shell's launch steps in its log ("launch: <ms> ms  <step>  (clock
// <epoch ms>)") as milliseconds since `startedAt`, in their order.
std::vector<std::pair<std::string, double>> launchSteps(const std::string& log, double startedAt) {
  std::vector<std::pair<std::string, double>> steps;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find("launch: ");
    const auto clock = line.rfind("  (clock ");
    if (at == std::string::npos || clock == std::string::npos || clock < at) continue;
    const auto ms = line.find(" ms  ", at);
    if (ms == std::string::npos || ms > clock) continue;
    steps.emplace_back(line.substr(ms + 5, clock - ms - 5), std::atof(line.c_str() + clock + 9) - startedAt);
  }
  return steps;
}

// One start of the minimal window: `ms` to its first script, its steps
// added to `traces`.
bool minimalStartup(const std::string& self, const std::string& page, const std::string& root, double& ms,
                    std::vector<std::vector<std::pair<std::string, double>>>& traces) {
  double t0;
  Memory unused;
  const int s = spawn({self, "--minimal-window", page}, root + "/minimal.out", "/dev/null", t0,
                      {{"HOME", root + "/home"}}, root + "/minimal.out", "settled", unused);
  json m = json::parse(lastLine(slurp(root + "/minimal.out")), nullptr, false);
  if (s != 0 || !m.is_object()) return false;
  ms = m["firstScriptAt"].get<double>() - t0;
  traces.push_back(launchSteps(slurp(root + "/minimal.out"), t0));
  return true;
}

void printTrace(const std::vector<std::vector<std::pair<std::string, double>>>& runs, double firstScript) {
  if (runs.empty() || runs.front().empty()) {
    std::printf("  (no launch steps in the shell's log: is its level above debug?)\n");
    return;
  }
  std::printf("  launch steps, median ms from the process start:\n");
  for (size_t i = 0; i < runs.front().size(); ++i) {
    std::vector<double> at;
    for (const auto& r : runs)
      if (i < r.size() && r[i].first == runs.front()[i].first) at.push_back(r[i].second);
    std::printf("    %8.1f  %s\n", median(at), runs.front()[i].first.c_str());
  }
  std::printf("    %8.1f  the page's first script\n", firstScript);
}

// The highest of `values` (0 for none).
double highest(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void printRatios(const char* what, const std::vector<double>& ratios) {
  std::printf("  per run %s:", what);
  for (double r : ratios) std::printf(" %.3f", r);
  std::printf("\n    median %.3f, highest %.3f\n", median(ratios), highest(ratios));
}

// `control`: the minimal window against itself in the same runs (the
// machine's own spread), when measured.
void printStartup(const Series& start, const std::vector<double>& ratios, const std::vector<double>& control) {
  const double shellMs = median(start.shell), minimalMs = median(start.minimal);
  std::printf("start-up to the page's first script (medians of %zu alternating runs)\n", ratios.size());
  std::printf("  corvane shell               %10.1f ms\n", shellMs);
  std::printf("  minimal WebKitGTK window    %10.1f ms   shell/minimal = %.3f\n", minimalMs, shellMs / minimalMs);
  printRatios("shell/minimal", ratios);
  if (!control.empty()) printRatios("minimal/minimal (the same window twice: the spread of a run)", control);
  std::printf("  aim: median <= 1.05 and no run above 1.10: %s\n",
              median(ratios) <= 1.05 && highest(ratios) <= 1.10 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--minimal-window") return minimalWindow(argv[2]);
  if (!std::getenv("DISPLAY")) {
    std::cerr << "bridge_bench: needs a display (run it through scripts/with-session.sh)\n";
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool startupOnly = argc > 2 && std::string(argv[2]) == "startup";
  char tmpl[] = "/tmp/corvane-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string app = makeBundle(root, startupOnly);
  const std::string page = "file://" + app + "/Contents/Resources/public/index.html";
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::vector<std::pair<std::string, std::string>> env = {
      {"HOME", root + "/home"}, {"CORVANE_TEST_RESULT", root + "/report.json"}};
  const std::vector<std::string> sizes = {"1k", "64k", "1m", "8m"};

  Series start, uiMem, webMem;
  std::vector<double> startupRatios, control;
  std::vector<std::vector<std::pair<std::string, double>>> traces, minimalTraces;
  std::vector<double> bridgeRate, plainRate, messageRate;
  std::map<std::string, Series> large;
  std::map<std::string, std::vector<double>> echo;
  for (int i = 0; i < runs; ++i) {
    // Alternate the two so that warm caches favour neither.
    double t0;
    Memory mem;
    double before = 0, after = 0;
    if (startupOnly && !minimalStartup(self, page, root, before, minimalTraces)) {
      std::cerr << "bridge_bench: the minimal window run failed\n";
      return 1;
    }
    fs::remove(root + "/report.json");
    int s = spawn({CORVANE_BINARY, "--bundle", app}, root + "/shell.out", root + "/shell.err", t0, env,
                  root + "/shell.err", "bench settled", mem);
    json r = json::parse(slurp(root + "/report.json"), nullptr, false);
    if (s != 0 || !r.is_object() || (!startupOnly && !r.contains("bridgePerSec"))) {
      std::cerr << "bridge_bench: the shell run failed (status " << s
                << "); is the tests' shell built?\n";
      return 1;
    }
    start.shell.push_back(r["firstScriptAt"].get<double>() - t0);
    traces.push_back(launchSteps(slurp(root + "/shell.err"), t0));
    if (startupOnly) {
      // The minimal window before and after the shell: the shell is held
      // against the mean of the two, and the second against the first says
      // how far two starts of the same program lie apart in this run.
      if (!minimalStartup(self, page, root, after, minimalTraces)) {
        std::cerr << "bridge_bench: the minimal window run failed\n";
        return 1;
      }
      start.minimal.push_back((before + after) / 2);
      startupRatios.push_back(start.shell.back() / start.minimal.back());
      control.push_back(after / before);
      continue;
    }
    bridgeRate.push_back(r["bridgePerSec"]);
    plainRate.push_back(r["plainPerSec"]);
    uiMem.shell.push_back(mem.uiMiB);
    webMem.shell.push_back(mem.webMiB);
    for (const auto& k : sizes) {
      large[k].shell.push_back(r["large"][k]);
      echo[k].push_back(r["echo"][k]);
    }

    mem = Memory{};
    s = spawn({self, "--minimal-window", page}, root + "/minimal.out", "/dev/null", t0, {{"HOME", root + "/home"}},
              root + "/minimal.out", "settled", mem);
    json m = json::parse(lastLine(slurp(root + "/minimal.out")), nullptr, false);
    if (s != 0 || !m.is_object()) {
      std::cerr << "bridge_bench: the minimal window run failed\n";
      return 1;
    }
    start.minimal.push_back(m["firstScriptAt"].get<double>() - t0);
    messageRate.push_back(m["messageHandlerPerSec"]);
    plainRate.push_back(m["plainPerSec"]);
    uiMem.minimal.push_back(mem.uiMiB);
    webMem.minimal.push_back(mem.webMiB);
    for (const auto& k : sizes) large[k].minimal.push_back(m["large"][k]);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  if (startupOnly) {
    printStartup(start, startupRatios, control);
    printTrace(traces, median(start.shell));
    std::printf("  the minimal window's steps:\n");
    printTrace(minimalTraces, median(start.minimal));
    return 0;
  }

  const double bridge = median(bridgeRate), plain = median(plainRate), message = median(messageRate);
  std::printf("bridge round trip (medians of %d runs)\n", runs);
  std::printf("  corvane.path.getFileExt     %10.0f calls/s\n", bridge);
  std::printf("  plain script function       %10.0f calls/s   bridge/plain   = %.5f\n", plain, bridge / plain);
  std::printf("  messageHandlers with reply  %10.0f calls/s   bridge/message = %.2f\n", message, bridge / message);
  std::printf("  aim: >= 20000 synchronous calls/s: %s\n", bridge >= 20000 ? "met" : "NOT met");

  std::printf("large text arguments (medians): getFileExt(text), test.echo(text), messageHandlers(text)\n");
  std::map<std::string, double> perCall;  // microseconds per getFileExt call
  const std::map<std::string, double> bytes = {{"1k", 1024}, {"64k", 65536}, {"1m", 1048576}, {"8m", 8388608}};
  for (const auto& k : sizes) {
    const double b = median(large[k].shell), e = median(echo[k]), mh = median(large[k].minimal);
    perCall[k] = 1e6 / b;
    std::printf("  %-4s  getFileExt %9.0f calls/s (%7.1f us)   echo %9.0f calls/s   message %9.0f calls/s"
                "   bridge/message = %.2f\n",
                k.c_str(), b, perCall[k], e, mh, b / mh);
  }
  // Linear cost: the cost of each further byte stays the same from 64 KiB
  // to 1 MiB as from 1 KiB to 64 KiB.
  const double small = (perCall["64k"] - perCall["1k"]) / (bytes.at("64k") - bytes.at("1k"));
  const double big = (perCall["1m"] - perCall["64k"]) / (bytes.at("1m") - bytes.at("64k"));
  const double huge = (perCall["8m"] - perCall["1m"]) / (bytes.at("8m") - bytes.at("1m"));
  std::printf("  per-byte cost 64K..1M / 1K..64K = %.2f, 1M..8M / 1K..64K = %.2f (1 = linear)\n", big / small,
              huge / small);
  const double r64 = median(large["64k"].shell), r1m = median(large["1m"].shell);
  std::printf("  aim: 64 KiB >= 10000 calls/s: %s; 1 MiB >= 1000 calls/s: %s\n", r64 >= 10000 ? "met" : "NOT met",
              r1m >= 1000 ? "met" : "NOT met");

  for (size_t i = 0; i < start.shell.size(); ++i) startupRatios.push_back(start.shell[i] / start.minimal[i]);
  printStartup(start, startupRatios, {});
  printTrace(traces, median(start.shell));

  const double shellUi = median(uiMem.shell), shellWeb = median(webMem.shell);
  const double minUi = median(uiMem.minimal), minWeb = median(webMem.minimal);
  std::printf("resident memory with the page loaded and idle (medians)\n");
  std::printf("  UI process      shell %7.1f MiB   minimal %7.1f MiB   difference %+6.1f MiB\n", shellUi, minUi,
              shellUi - minUi);
  std::printf("  web process     shell %7.1f MiB   minimal %7.1f MiB   difference %+6.1f MiB\n", shellWeb, minWeb,
              shellWeb - minWeb);
  const double extra = (shellUi + shellWeb) - (minUi + minWeb);
  std::printf("  both            shell %7.1f MiB   minimal %7.1f MiB   difference %+6.1f MiB   shell/minimal = %.3f\n",
              shellUi + shellWeb, minUi + minWeb, extra, (shellUi + shellWeb) / (minUi + minWeb));
  std::printf("  aim: at most 15 MB more: %s\n", extra * 1048576 <= 15e6 ? "met" : "NOT met");
  return 0;
}
