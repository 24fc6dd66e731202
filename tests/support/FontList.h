#pragma once
// What fc-list shows: one property of every installed font, each value once.
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace corvane::test {

inline std::set<std::string> fcList(const std::string& property) {
  std::string text;
  if (FILE* p = popen(("fc-list --format '%{" + property + "[0]}\\n' 2>/dev/null").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    pclose(p);
  }
  std::set<std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) out.insert(line);
  return out;
}

}  // namespace corvane::test
