#include "app/Log.h"

#include <spdlog/sinks/stdout_sinks.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>

namespace corvane {

namespace {

const char* environmentLevel() {
  const char* wanted = std::getenv("CORVANE_LOG_LEVEL");
  return wanted && *wanted ? wanted : nullptr;
}

}  // namespace

std::optional<spdlog::level::level_enum> logLevelNamed(std::string_view name) {
  std::string n(name);
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
  if (n == "verbose") return spdlog::level::trace;
  if (n == "quiet") return spdlog::level::warn;
  if (n == "warning") return spdlog::level::warn;
  if (n == "err") return spdlog::level::err;
  for (int l = spdlog::level::trace; l <= spdlog::level::off; ++l) {
    const auto level = static_cast<spdlog::level::level_enum>(l);
    if (n == spdlog::level::to_string_view(level)) return level;
  }
  return std::nullopt;
}

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
    bool unknown = false;
    if (const char* wanted = environmentLevel()) {
      if (auto named = logLevelNamed(wanted)) level = *named;
      else unknown = true;
    }
    logger->set_level(level);
    logger->flush_on(spdlog::level::trace);
    if (unknown)
      logger->warn("CORVANE_LOG_LEVEL \"{}\" is no log level (trace, debug, info, warn, error, critical, off, "
                   "verbose, quiet); logging at debug", environmentLevel());
  });
  return *logger;
}

void applyConfiguredLogLevel(std::string_view name) {
  if (environmentLevel()) return;
  if (auto level = logLevelNamed(name)) {
    log().set_level(*level);
    return;
  }
  log().warn("\"logLevel\" \"{}\" is no log level (trace, debug, info, warn, error, critical, off, verbose, quiet); "
             "the level stays {}", name, spdlog::level::to_string_view(log().level()));
}

}  // namespace corvane
