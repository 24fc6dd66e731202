#pragma once
// Helpers every test suite shares: temporary folders that remove
// themselves, whole-file reads and writes, and environment overrides that
// undo themselves.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

namespace corvane::test {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

// How often `what` occurs in `text` (log lines, say).
inline size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

inline void writeFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A bundle with just an Info.plist (name, identifier) and an empty main
// configuration: enough for Bundle::open and Utils.
inline std::string makeMinimalBundle(const std::string& dir, const std::string& name, const std::string& identifier) {
  const std::string app = dir + "/" + name + ".app";
  writeFile(app + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>CFBundleName</key><string>" +
                name + "</string>\n<key>CFBundleIdentifier</key><string>" + identifier + "</string></dict></plist>");
  writeFile(app + "/Contents/Resources/public/project.json", "{}");
  return app;
}

// Runs a shell command and answers its standard output (errors dropped).
inline std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Sets environment variables for one test and restores them afterwards.
class EnvGuard {
 public:
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    apply(name, value);
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace corvane::test
