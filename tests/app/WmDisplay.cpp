#include "WmDisplay.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace corvane::life {

std::string WmDisplay::run(const std::string& command) const {
  // Bounded: an X tool waiting on a server starved by a loaded machine must
  // not hold the test past its own time-out without a word.
  const std::string full = "DISPLAY=" + name() + " timeout -k 2 20 " + command + " 2>/dev/null";
  std::string out;
  FILE* p = popen(full.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  pclose(p);
  return out;
}

XGeometry geometryOf(const WmDisplay& display, long window) {
  XGeometry g;
  g.window = window;
  // WINDOW=.. X=.. Y=.. WIDTH=.. HEIGHT=.. SCREEN=..
  std::istringstream lines(display.run("xdotool getwindowgeometry --shell " + std::to_string(window)));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") g.x = value;
    else if (key == "Y") g.y = value;
    else if (key == "WIDTH") g.width = value;
    else if (key == "HEIGHT") g.height = value;
  }
  return g;
}

XGeometry mainWindowOf(const WmDisplay& display, pid_t pid) {
  XGeometry best;
  std::istringstream ids(display.run("xdotool search --onlyvisible --pid " + std::to_string(pid)));
  for (long id; ids >> id;) {
    XGeometry g = geometryOf(display, id);
    if (g.width * g.height > best.width * best.height) best = g;
  }
  return best;
}

}  // namespace corvane::life
