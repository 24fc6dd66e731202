#pragma once
// Shared helpers of the core tests: temporary folders, test bundles and
// environment overrides that undo themselves.
#include "app/Bundle.h"
#include "support/TestFiles.h"

#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

namespace corvane::test {

namespace fs = std::filesystem;

// A bundle folder "<root>/<name>.app" with an XML Info.plist of string keys.
inline std::string makeBundle(const std::string& root, const std::string& name,
                              const std::map<std::string, std::string>& info) {
  const std::string bundle = root + "/" + name + ".app";
  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
  for (const auto& [k, v] : info) plist += "<key>" + k + "</key><string>" + v + "</string>\n";
  plist += "</dict>\n</plist>\n";
  writeFile(bundle + "/Contents/Info.plist", plist);
  fs::create_directories(bundle + "/Contents/Resources/public");
  fs::create_directories(bundle + "/Contents/PlugIns");
  fs::create_directories(bundle + "/Contents/MacOS");
  return bundle;
}

inline Bundle openBundle(const std::string& path) {
  auto b = Bundle::open(path);
  EXPECT_TRUE(b.has_value()) << path;
  return b ? *b : Bundle(path, nlohmann::json::object());
}

// A shell command run to its end: its exit status and its output.
struct Run {
  int status = -1;
  std::string output;  // stdout and stderr together
};

inline Run run(const std::string& command) {
  Run r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace corvane::test
