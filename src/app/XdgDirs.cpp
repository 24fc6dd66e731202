#include "app/XdgDirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace corvane::xdg {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Base-directory variables must hold absolute paths to count.
std::string absEnvOr(const char* name, const std::string& fallback) {
  std::string v = env(name);
  return (!v.empty() && v.front() == '/') ? v : fallback;
}

}  // namespace

std::string homeDir() {
  std::string h = env("HOME");
  if (!h.empty()) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string configHome() { return absEnvOr("XDG_CONFIG_HOME", homeDir() + "/.config"); }
std::string dataHome() { return absEnvOr("XDG_DATA_HOME", homeDir() + "/.local/share"); }
std::string cacheHome() { return absEnvOr("XDG_CACHE_HOME", homeDir() + "/.cache"); }

std::string runtimeDir() {
  std::string v = env("XDG_RUNTIME_DIR");
  if (!v.empty()) return v;
  v = env("TMPDIR");
  return v.empty() ? "/tmp" : v;
}

std::string tempDir() {
  std::string v = env("TMPDIR");
  if (v.empty()) v = "/tmp";
  return v.back() == '/' ? v : v + "/";
}

std::string userDir(const std::string& name, const std::string& fallback) {
  const std::string home = homeDir();
  // user-dirs.dirs lines look like: XDG_DESKTOP_DIR="$HOME/Desktop"
  std::ifstream in(configHome() + "/user-dirs.dirs");
  const std::string key = "XDG_" + name + "_DIR=";
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string v = line.substr(key.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
    if (!v.empty() && v.front() == '/') return v;
  }
  return home + "/" + fallback;
}

}  // namespace corvane::xdg
