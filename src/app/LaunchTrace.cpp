#include "app/LaunchTrace.h"

#include "app/Log.h"

#include <atomic>
#include <chrono>

namespace corvane {

namespace {

std::chrono::steady_clock::time_point g_start = std::chrono::steady_clock::now();
double g_startClock = 0;
std::atomic<bool> g_done{false};
bool g_started = false;

double clockMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

void launchTraceStart() {
  g_start = std::chrono::steady_clock::now();
  g_startClock = clockMs();
}

void launchStep(std::string_view step, bool last) {
  if (g_done.load(std::memory_order_relaxed)) return;
  if (last) g_done = true;
  if (!log().should_log(spdlog::level::debug)) return;
  // The first line waits for the configured log level; main's own moment
  // goes out with it.
  if (!g_started) {
    g_started = true;
    if (g_startClock > 0) log().debug("launch: {:8.1f} ms  {}  (clock {:.1f})", 0.0, "main entered", g_startClock);
  }
  using namespace std::chrono;
  const double sinceMain = duration<double, std::milli>(steady_clock::now() - g_start).count();
  log().debug("launch: {:8.1f} ms  {}  (clock {:.1f})", sinceMain, step, clockMs());
}

}  // namespace corvane
