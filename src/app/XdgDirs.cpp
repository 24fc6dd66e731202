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

std::string trimmed(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// Base-directory variables must hold absolute paths to count.
std::string absEnvOr(const char* name, const std::string& fallback) {
  std::string v = env(name);
  return (!v.empty() && v.front() == '/') ? trimmed(v) : fallback;
}

}  // namespace

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string homeDir() {
  std::string h = env("HOME");
  if (!h.empty()) return trimmed(h);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return trimmed(pw->pw_dir);
  return "/";
}

std::string configHome() { return absEnvOr("XDG_CONFIG_HOME", join(homeDir(), ".config")); }
std::string dataHome() { return absEnvOr("XDG_DATA_HOME", join(homeDir(), ".local/share")); }
std::string cacheHome() { return absEnvOr("XDG_CACHE_HOME", join(homeDir(), ".cache")); }

std::string runtimeDir() {
  std::string v = env("XDG_RUNTIME_DIR");
  if (!v.empty()) return trimmed(v);
  v = env("TMPDIR");
  return v.empty() ? "/tmp" : trimmed(v);
}

std::string tempDir() {
  std::string v = env("TMPDIR");
  if (v.empty()) v = "/tmp";
  return join(trimmed(v), "");
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
    if (v == "$HOME") v = home;
    else if (v.rfind("$HOME/", 0) == 0) v = join(home, v.substr(6));
    if (!v.empty() && v.front() == '/') return trimmed(v);
  }
  return join(home, fallback);
}

}  // namespace corvane::xdg
