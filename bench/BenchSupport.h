#pragma once
// What the benchmark programs share: reading files and /proc, the median of
// a series, and the small application bundle each runs its page in.
#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace corvane::bench {

inline std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Resident memory in KiB of a process (VmRSS), 0 when it is gone.
inline long residentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// `root`/<name>.app with identifier app.corvane.<identifier>, an empty
// configuration and `page` as its index.html; `extraKeys` are more
// Info.plist entries. Answers the bundle's path.
inline std::string makeBundle(const std::string& root, const std::string& name, const std::string& identifier,
                              const std::string& page, const std::string& extraKeys = "") {
  const std::string app = root + "/" + name + ".app";
  std::filesystem::create_directories(app + "/Contents/Resources/public");
  std::ofstream(app + "/Contents/Info.plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                                 "<plist version=\"1.0\"><dict>\n"
                                                 "<key>CFBundleName</key><string>" +
                                                     name + "</string>\n" + extraKeys +
                                                     "<key>CFBundleIdentifier</key><string>app.corvane." + identifier +
                                                     "</string>\n</dict></plist>\n";
  std::ofstream(app + "/Contents/Resources/public/project.json") << R"({"AppExInfo": {}})";
  std::ofstream(app + "/Contents/Resources/public/index.html") << page;
  return app;
}

}  // namespace corvane::bench
