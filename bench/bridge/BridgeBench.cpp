// Bridge benchmarks, all measured in one run and printed as ratios:
//  - round trip: synchronous bridge calls per second of corvane.path.getFileExt
//    from a page loop, against a plain script function in the same page and
//    against WebKit's own asynchronous script-message round trip with reply
//    (window.webkit.messageHandlers) in a minimal WebKitGTK window;
//  - start-up: process start to the page's first script, the shell against
//    that minimal window loading the same page.
// Needs a display (DISPLAY) and a shell built with the test services.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

double epochMs() {
  using namespace std::chrono;
  return duration_cast<duration<double, std::milli>>(system_clock::now().time_since_epoch()).count();
}

// ---- the baseline: a minimal WebKitGTK window -----------------------------

int minimalWindow(const std::string& uri) {
  gtk_init(nullptr, nullptr);
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
                     std::cout << s << std::endl;
                     g_free(s);
                     gtk_main_quit();
                   }),
                   nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(ucm);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri.c_str());
  gtk_main();
  return 0;
}

// ---- the driver ------------------------------------------------------------

struct Run {
  double startupMs = 0;
  json report;
};

// Runs `argv` with its output in `outFile`; answers the epoch time of the
// start and the exit status.
int spawn(const std::vector<std::string>& argv, const std::string& outFile, double& startedAt,
          const std::vector<std::pair<std::string, std::string>>& env) {
  startedAt = epochMs();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* f = std::fopen(outFile.c_str(), "w");
    dup2(fileno(f), 1);
    int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 2);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

std::string makeBundle(const std::string& root) {
  const std::string app = root + "/BridgeBench.app";
  fs::create_directories(app + "/Contents/Resources/public");
  fs::create_directories(app + "/Contents/MacOS");
  std::ofstream(app + "/Contents/Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleName</key><string>BridgeBench</string>
<key>CFBundleExecutable</key><string>BridgeBench</string>
<key>CFBundleIdentifier</key><string>app.corvane.bridgebench</string>
<key>CFBundleShortVersionString</key><string>1.0</string>
</dict></plist>
)";
  std::ofstream(app + "/Contents/Resources/public/project.json") << R"({"AppExInfo": {}})";
  fs::copy_file(CORVANE_BENCH_PAGE, app + "/Contents/Resources/public/index.html",
                fs::copy_options::overwrite_existing);
  return app;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--minimal-window") return minimalWindow(argv[2]);
  if (!std::getenv("DISPLAY")) {
    std::cerr << "bridge_bench: needs a display (run it through scripts/with-session.sh)\n";
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char tmpl[] = "/tmp/corvane-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string app = makeBundle(root);
  const std::string page = "file://" + app + "/Contents/Resources/public/index.html";
  const std::string self = fs::canonical("/proc/self/exe").string();
  const std::vector<std::pair<std::string, std::string>> env = {
      {"HOME", root + "/home"}, {"CORVANE_TEST_SERVICES", "1"}, {"CORVANE_TEST_RESULT", root + "/report.json"}};

  std::vector<double> shellStart, minimalStart, bridgeRate, plainRate, messageRate;
  for (int i = 0; i < runs; ++i) {
    // Alternate the two so that warm caches favour neither.
    double t0;
    fs::remove(root + "/report.json");
    int s = spawn({CORVANE_BINARY, "--bundle", app}, root + "/shell.out", t0, env);
    json r = json::parse(slurp(root + "/report.json"), nullptr, false);
    if (s != 0 || !r.is_object() || !r.contains("bridgePerSec")) {
      std::cerr << "bridge_bench: the shell run failed (status " << s
                << "); is it built with CORVANE_TEST_SERVICES?\n";
      return 1;
    }
    shellStart.push_back(r["firstScriptAt"].get<double>() - t0);
    bridgeRate.push_back(r["bridgePerSec"]);
    plainRate.push_back(r["plainPerSec"]);

    s = spawn({self, "--minimal-window", page}, root + "/minimal.out", t0, {{"HOME", root + "/home"}});
    json m = json::parse(slurp(root + "/minimal.out"), nullptr, false);
    if (s != 0 || !m.is_object()) {
      std::cerr << "bridge_bench: the minimal window run failed\n";
      return 1;
    }
    minimalStart.push_back(m["firstScriptAt"].get<double>() - t0);
    messageRate.push_back(m["messageHandlerPerSec"]);
    plainRate.push_back(m["plainPerSec"]);
  }
  std::error_code ec;
  fs::remove_all(root, ec);

  const double bridge = median(bridgeRate), plain = median(plainRate), message = median(messageRate);
  const double shellMs = median(shellStart), minimalMs = median(minimalStart);
  std::printf("bridge round trip (medians of %d runs)\n", runs);
  std::printf("  corvane.path.getFileExt     %10.0f calls/s\n", bridge);
  std::printf("  plain script function       %10.0f calls/s   bridge/plain   = %.5f\n", plain, bridge / plain);
  std::printf("  messageHandlers with reply  %10.0f calls/s   bridge/message = %.2f\n", message, bridge / message);
  std::printf("  aim: >= 20000 synchronous calls/s: %s\n", bridge >= 20000 ? "met" : "NOT met");
  std::printf("start-up to the page's first script (medians)\n");
  std::printf("  corvane shell               %10.1f ms\n", shellMs);
  std::printf("  minimal WebKitGTK window    %10.1f ms   shell/minimal = %.3f\n", minimalMs, shellMs / minimalMs);
  std::printf("  aim: within 15 %%: %s\n", shellMs <= minimalMs * 1.15 ? "met" : "NOT met");
  return 0;
}
