// Menu benchmark. A page makes 10,000 items in a menu of its own (each with
// a page function), then removes every one, five rounds in a row; all
// figures come from one run of the shell and are printed as ratios:
//  - speed: the time to make the 10,000 items against the time of 10,000
//    of the cheapest bridge calls (corvane.path.getFileExt) in the same
//    page, measured just before; the removal likewise;
//  - memory: the resident memory of the UI process and of its web process
//    after each round (the page idles 1.5 s after each); growth from the
//    first round to the last, per item made and removed, shows what the
//    shell keeps of items that are gone. JavaScriptCore runs with every
//    collection a full one (JSC_useGenerationalGC=false): its generational
//    collector otherwise lets the web process's heap grow for many rounds
//    before a full collection gives it back, whatever the page still holds.
// Needs a display (DISPLAY) and a shell built with the test services.
#include "../BenchSupport.h"

#include <nlohmann/json.hpp>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

constexpr int kItems = 10000;
constexpr int kRounds = 5;

// The UI process's web process (WebKit names it WebKitWebProcess; the kernel
// keeps 15 characters of it).
long webProcessKiB(pid_t ui) {
  long total = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  while (dirent* e = readdir(proc)) {
    const pid_t pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == ui &&
        stat.compare(open + 1, 15, "WebKitWebProces") == 0)
      total += residentKiB(pid);
  }
  closedir(proc);
  return total;
}

struct Sample {
  double uiMiB = 0, webMiB = 0;
};

std::string makeBundle(const std::string& root) {
  return bench::makeBundle(root, "MenuBench", "menubench", bench::slurp(CORVANE_MENU_BENCH_PAGE));
}

// One run: the page's report and the memory after each round.
json runOnce(const std::string& root, const std::string& app, std::vector<Sample>& memory) {
  fs::remove(root + "/report.json");
  const std::string err = root + "/shell.err";
  fs::remove(err);
  // The previous run's web process outlives it for a moment.
  usleep(1500000);
  pid_t pid = fork();
  if (pid == 0) {
    (void)!freopen("/dev/null", "w", stdout);
    (void)!freopen(err.c_str(), "w", stderr);
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("CORVANE_TEST_RESULT", (root + "/report.json").c_str(), 1);
    setenv("JSC_useGenerationalGC", "false", 1);  // read by the web process
    execl(CORVANE_BINARY, CORVANE_BINARY, "--bundle", app.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  int next = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (next < kRounds && slurp(err).find("bench round " + std::to_string(next)) != std::string::npos) {
      // Half a second into the page's idle time, the mean of three samples.
      usleep(500000);
      Sample s;
      for (int k = 0; k < 3; ++k) {
        if (k) usleep(200000);
        s.uiMiB += residentKiB(pid) / 1024.0 / 3;
        s.webMiB += webProcessKiB(pid) / 1024.0 / 3;
      }
      memory.push_back(s);
      ++next;
    }
    usleep(20000);
  }
  json r = json::parse(slurp(root + "/report.json"), nullptr, false);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !r.is_object() || next != kRounds) return nullptr;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::cerr << "menu_bench: needs a display (run it through scripts/with-session.sh)\n";
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char tmpl[] = "/tmp/corvane-menu-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string app = makeBundle(root);

  std::vector<double> baseline, create, remove, firstCreate, uiGrowth, webGrowth, uiFirst, webFirst;
  std::vector<std::vector<double>> uiRounds(kRounds), webRounds(kRounds);
  std::string refusal;
  for (int i = 0; i < runs; ++i) {
    std::vector<Sample> memory;
    const json r = runOnce(root, app, memory);
    if (r.is_null()) {
      std::cerr << "menu_bench: the shell run failed; is corvane-test-shell built?\n"
                << slurp(root + "/shell.err").substr(0, 4000);
      return 1;
    }
    baseline.push_back(r["baselineMs"]);
    std::vector<double> c, d;
    for (const auto& round : r["rounds"]) {
      c.push_back(round["create"]);
      d.push_back(round["remove"]);
    }
    firstCreate.push_back(c.front());
    create.push_back(median(c));
    remove.push_back(median(d));
    refusal = r["rounds"].back()["refusal"];
    // Growth per round (the least-squares slope over all rounds, which one
    // noisy sample moves less than a difference of two), per item.
    auto slope = [&](double Sample::*of) {
      double mx = (kRounds - 1) / 2.0, my = 0, sxy = 0, sxx = 0;
      for (const auto& m : memory) my += m.*of / kRounds;
      for (int k = 0; k < kRounds; ++k) {
        sxy += (k - mx) * (memory[k].*of - my);
        sxx += (k - mx) * (k - mx);
      }
      return sxy / sxx * 1048576 / kItems;
    };
    uiGrowth.push_back(slope(&Sample::uiMiB));
    webGrowth.push_back(slope(&Sample::webMiB));
    uiFirst.push_back(memory.front().uiMiB);
    webFirst.push_back(memory.front().webMiB);
    for (int k = 0; k < kRounds; ++k) {
      uiRounds[k].push_back(memory[k].uiMiB);
      webRounds[k].push_back(memory[k].webMiB);
    }
  }
  std::error_code ec;
  fs::remove_all(root, ec);

  const double base = median(baseline), made = median(create), gone = median(remove);
  std::printf("menu items from a page, %d items per round, %d rounds (medians of %d runs)\n", kItems, kRounds, runs);
  std::printf("  %d bridge calls (getFileExt)   %8.1f ms\n", kItems, base);
  std::printf("  %d items made (addItem)        %8.1f ms   made/calls   = %.2f   (first round %.1f ms)\n", kItems,
              made, made / base, median(firstCreate));
  std::printf("  %d items removed (remove)      %8.1f ms   removed/calls = %.2f\n", kItems, gone, gone / base);
  std::printf("  a removed item's object answers: \"%s\"\n", refusal.c_str());
  std::printf("  aim: %d items made in under 1 s: %s\n", kItems, made < 1000 ? "met" : "NOT met");
  const double ui = median(uiGrowth), web = median(webGrowth);
  std::printf("resident memory after round 1: UI %.1f MiB, web %.1f MiB; growth per round, per item made and removed\n",
              median(uiFirst), median(webFirst));
  std::printf("  UI process   %+8.1f bytes/item   (MiB after each round:", ui);
  for (const auto& k : uiRounds) std::printf(" %.1f", median(k));
  std::printf(")\n  web process  %+8.1f bytes/item   (MiB after each round:", web);
  for (const auto& k : webRounds) std::printf(" %.1f", median(k));
  std::printf(")\n");
  // The web process's samples move by about a MiB either way (its script
  // heap), 100 bytes per item of one round: below 20 bytes per item over
  // five rounds is no growth. Items that were kept cost 150 bytes and more.
  std::printf("  aim: no growth (under 20 bytes/item in each): %s\n", ui < 20 && web < 20 ? "met" : "NOT met");
  return 0;
}
