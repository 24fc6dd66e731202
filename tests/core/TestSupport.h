#pragma once
// Test bundles for the core tests, beside the shared file helpers.
#include "app/Bundle.h"
#include "support/TestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <string>

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

}  // namespace corvane::test
