#pragma once
// Reads the interfaces of data/types/corvane.d.ts (the bridge's TypeScript
// declarations) far enough to compare them with the bridge's own script
// faces: each interface's methods and properties, and the type each
// property is declared with. The file is ours and regular; comments and
// strings are skipped, nested object types are stepped over.
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace corvane::test {

struct DeclaredInterface {
  std::set<std::string> methods;
  std::map<std::string, std::string> properties;  // name -> declared type
};

inline std::string withoutCommentsAndStrings(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && text[i] != '\n') ++i;
      out += '\n';
    } else if (text.compare(i, 2, "/*") == 0) {
      const size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 1;
      out += ' ';
    } else if (text[i] == '"' || text[i] == '\'' || text[i] == '`') {
      const char quote = text[i];
      for (++i; i < text.size() && text[i] != quote; ++i)
        if (text[i] == '\\') ++i;
      out += "\"\"";
    } else {
      out += text[i];
    }
  }
  return out;
}

inline std::map<std::string, DeclaredInterface> parseDeclarations(const std::string& source) {
  const std::string text = withoutCommentsAndStrings(source);
  std::map<std::string, DeclaredInterface> out;
  auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; };
  for (size_t at = text.find("interface "); at != std::string::npos; at = text.find("interface ", at + 1)) {
    if (at > 0 && isWord(text[at - 1])) continue;
    size_t i = at + 10;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t nameStart = i;
    while (i < text.size() && isWord(text[i])) ++i;
    const std::string name = text.substr(nameStart, i - nameStart);
    const size_t open = text.find('{', i);
    if (open == std::string::npos) break;
    DeclaredInterface& face = out[name];
    // Members at depth 0 of the body, each ending with ";" (or the body's end).
    size_t p = open + 1;
    int depth = 0;
    while (p < text.size()) {
      while (p < text.size() && (std::isspace(static_cast<unsigned char>(text[p])) || text[p] == ';')) ++p;
      if (p >= text.size() || text[p] == '}') break;
      size_t q = p;
      if (text.compare(q, 9, "readonly ") == 0) q += 9;
      const size_t memberStart = q;
      while (q < text.size() && isWord(text[q])) ++q;
      const std::string member = text.substr(memberStart, q - memberStart);
      if (q < text.size() && text[q] == '?') ++q;
      while (q < text.size() && std::isspace(static_cast<unsigned char>(text[q]))) ++q;
      const bool method = q < text.size() && (text[q] == '(' || text[q] == '<');
      const size_t typeStart = q + 1;
      // The member ends at the first ";" outside brackets.
      size_t e = q;
      depth = 0;
      for (; e < text.size(); ++e) {
        const char c = text[e];
        if (c == '(' || c == '{' || c == '[') ++depth;
        else if (c == ')' || c == '}' || c == ']') {
          if (depth == 0) break;  // the body's own end
          --depth;
        } else if (c == ';' && depth == 0) {
          break;
        }
      }
      if (!member.empty()) {
        if (method) {
          face.methods.insert(member);
        } else {
          std::string type = text.substr(typeStart, e - typeStart);
          const auto first = type.find_first_not_of(" \t\n");
          const auto last = type.find_last_not_of(" \t\n");
          face.properties[member] = first == std::string::npos ? "" : type.substr(first, last - first + 1);
        }
      }
      p = e < text.size() && text[e] == ';' ? e + 1 : e;
    }
  }
  return out;
}

}  // namespace corvane::test
