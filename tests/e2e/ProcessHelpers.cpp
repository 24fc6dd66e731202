#include "ProcessHelpers.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane::e2e {

std::vector<pid_t> webProcessesOf(pid_t shell) {
  std::vector<pid_t> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    const std::string comm = line.substr(line.find('(') + 1, close - line.find('(') - 1);
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == shell && comm.rfind("WebKitWebProces", 0) == 0) out.push_back(std::stoi(name));
  }
  return out;
}

std::string managedWindowNamed(const std::string& name) {
  std::istringstream ids(sh("xdotool search --name '^" + name + "$'"));
  for (std::string id; ids >> id;)
    if (sh("xprop -id " + id + " WM_STATE").find("window state") != std::string::npos) return id;
  return "";
}

}  // namespace corvane::e2e
