// File-writer benchmark: a page writes 8 MiB and 64 MiB files in 1 MiB
// chunks with writeBinaryArray and base64ToFile; each is set against
// carrying the same argument texts over the bridge to a method that does
// nothing (the baseline, measured in the same run). Prints MiB/s of file
// bytes, the writer's overhead over the carry, and how the time grows from
// 8 MiB to 64 MiB. Needs a display and a shell built with the test services.
#include "../BenchSupport.h"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;
namespace bench = corvane::bench;
using bench::median;
using bench::residentKiB;
using bench::slurp;

namespace {

std::string makeBundle(const std::string& root) {
  return bench::makeBundle(root, "WriterBench", "writerbench", bench::slurp(CORVANE_WRITER_BENCH_PAGE));
}

json runOnce(const std::string& root, const std::string& app) {
  fs::remove(root + "/report.json");
  fs::remove_all(root + "/out");
  fs::create_directories(root + "/out");
  pid_t pid = fork();
  if (pid == 0) {
    (void)!freopen("/dev/null", "w", stdout);
    (void)!freopen("/dev/null", "w", stderr);
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("CORVANE_TEST_RESULT", (root + "/report.json").c_str(), 1);
    setenv("CORVANE_BENCH_DIR", (root + "/out").c_str(), 1);
    // Both sides log the same lines; the figures are about the work.
    setenv("CORVANE_LOG_LEVEL", "warn", 1);
    execl(CORVANE_BINARY, CORVANE_BINARY, "--bundle", app.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  json r = json::parse(slurp(root + "/report.json"), nullptr, false);
  if (!r.is_object() || !r.contains("64")) return nullptr;
  if (fs::file_size(root + "/out/array-64.bin") != 64u * 1024 * 1024) return nullptr;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("DISPLAY")) {
    std::cerr << "writer_bench: needs a display (run it through scripts/with-session.sh)\n";
    return 2;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char tmpl[] = "/tmp/corvane-writer-bench-XXXXXX";
  const std::string root = mkdtemp(tmpl);
  const std::string app = makeBundle(root);
  std::map<std::string, std::vector<double>> ms;
  for (int i = 0; i < runs; ++i) {
    json r = runOnce(root, app);
    if (r.is_null()) {
      std::cerr << "writer_bench: the shell run failed; is the tests' shell built?\n";
      return 1;
    }
    for (const char* size : {"8", "64"})
      for (const auto& [key, value] : r[size].items()) ms[std::string(size) + key].push_back(value.get<double>());
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  auto m = [&](const std::string& key) { return median(ms[key]); };
  std::printf("file writer, 1 MiB chunks (medians of %d runs)\n", runs);
  for (const char* kind : {"array", "base64"}) {
    const double write64 = m(std::string("64") + kind + "WriteMs"), carry64 = m(std::string("64") + kind + "CarryMs");
    const double write8 = m(std::string("8") + kind + "WriteMs");
    const double overhead = write64 / carry64 - 1;
    std::printf("  %-7s 64 MiB: write %8.1f MiB/s, carry alone %8.1f MiB/s, writer/carry = %.3f (overhead %+.1f %%)\n",
                kind, 64 / (write64 / 1000), 64 / (carry64 / 1000), write64 / carry64, overhead * 100);
    std::printf("          time 64 MiB / 8 MiB = %.2f (linear: 8)\n", write64 / write8);
    std::printf("          aim: overhead at most 25 %%: %s\n", overhead <= 0.25 ? "met" : "NOT met");
  }
  return 0;
}
