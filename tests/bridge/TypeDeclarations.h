#pragma once
// Reads the interfaces of data/types/corvane.d.ts (the bridge's TypeScript
// declarations) far enough to compare them with the bridge's own script
// faces: each interface's methods and properties, and the type each
// property is declared with. The file is ours and regular: an interface
// opens with "  interface Name" and ends with "  }", and each of its
// members starts a line of its own, four spaces in.
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace corvane::test {

struct DeclaredInterface {
  std::set<std::string> methods;
  std::map<std::string, std::string> properties;  // name -> declared type
};

inline std::map<std::string, DeclaredInterface> parseDeclarations(const std::string& source) {
  static const std::regex open(R"(^  interface (\w+))"), method(R"(^    (\w+)\??\s*[(<])"),
      property(R"(^    (?:readonly )?(\w+)\??:\s*(.*?);?\s*$)");
  std::map<std::string, DeclaredInterface> out;
  DeclaredInterface* face = nullptr;
  std::istringstream lines(source);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, m, open)) {
      face = &out[m[1]];
    } else if (line.rfind("  }", 0) == 0) {
      face = nullptr;
    } else if (face && std::regex_search(line, m, method)) {
      face->methods.insert(m[1]);
    } else if (face && std::regex_search(line, m, property)) {
      face->properties[m[1]] = m[2];
    }
  }
  return out;
}

}  // namespace corvane::test
