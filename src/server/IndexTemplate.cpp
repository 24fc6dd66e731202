#include "server/IndexTemplate.h"

#include <unistd.h>

#include <climits>

namespace corvane::server {

namespace {

constexpr char kStory[] =
    "<br/><br/>I'll tell you a story     <br/>About Jack a Nory;        <br/>"
    "And now my story's begun; <br/>I'll tell you another     <br/>"
    "Of Jack and his brother,  <br/>And now my story is done. <br/>";

std::string computerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace

std::string defaultDateDescription(std::time_t when) {
  std::tm tm{};
  ::gmtime_r(&when, &tm);
  char text[64];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return std::string(text, n);
}

Replacements indexReplacements() {
  return {
      {"COMPUTER_NAME", computerName()},
      {"TIME", defaultDateDescription(std::time(nullptr))},
      {"STORY", kStory},
      {"ALPHABET", "A"},
      {"QUACK", "  QUACK  "},
  };
}

std::string fillMarkers(std::string_view text, const Replacements& values,
                        std::string_view separator) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(separator, pos);
    if (open == std::string_view::npos) break;
    const size_t keyStart = open + separator.size();
    const size_t close = text.find(separator, keyStart);
    if (close == std::string_view::npos) break;
    const auto it = values.find(text.substr(keyStart, close - keyStart));
    if (it == values.end()) {
      out.append(text.substr(pos, close - pos));
      pos = close;
      continue;
    }
    out.append(text.substr(pos, open - pos));
    out.append(it->second);
    pos = close + separator.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace corvane::server
