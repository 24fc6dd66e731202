#include "app/Log.h"

#include <spdlog/sinks/stdout_sinks.h>

#include <cstdlib>
#include <mutex>

namespace corvane {

spdlog::logger& log() {
  static std::once_flag once;
  static std::shared_ptr<spdlog::logger> logger;
  std::call_once(once, [] {
    // Unbuffered-per-line stderr sink: tests and users read these lines live,
    // and a crash must not swallow the last ones.
    logger = std::make_shared<spdlog::logger>(
        "corvane", std::make_shared<spdlog::sinks::stderr_sink_mt>());
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e corvane[%P] %^%l%$: %v");
    // CORVANE_LOG_LEVEL=trace shows the most detailed lines as well.
    auto level = spdlog::level::debug;
    if (const char* wanted = std::getenv("CORVANE_LOG_LEVEL"); wanted && *wanted)
      level = spdlog::level::from_str(wanted);
    logger->set_level(level);
    logger->flush_on(spdlog::level::trace);
  });
  return *logger;
}

}  // namespace corvane
