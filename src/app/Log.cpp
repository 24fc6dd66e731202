#include "app/Log.h"

#include <spdlog/sinks/stdout_sinks.h>

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
    logger->set_level(spdlog::level::debug);
    logger->flush_on(spdlog::level::debug);
  });
  return *logger;
}

}  // namespace corvane
