#include "bridge/PageConsole.h"

#include "app/Log.h"

namespace corvane {

namespace {

std::function<void(const ConsoleLine&)>& observer() {
  static std::function<void(const ConsoleLine&)> o;
  return o;
}

}  // namespace

std::string lastPathComponent(const std::string& uri) {
  std::string s = uri;
  auto q = s.find_first_of("?#");
  if (q != std::string::npos) s.resize(q);
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  auto slash = s.rfind('/');
  return slash == std::string::npos ? s : s.substr(slash + 1);
}

void reportConsoleLine(const ConsoleLine& line) {
  if (line.source == "exception")
    log().info("JavaScript console: {}", line.text);
  else
    log().info("JavaScript console: {}:{}: {}", lastPathComponent(line.url), line.line, line.text);
  if (observer()) observer()(line);
}

void setConsoleObserver(std::function<void(const ConsoleLine&)> o) { observer() = std::move(o); }

}  // namespace corvane
