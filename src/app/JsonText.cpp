#include "app/JsonText.h"

#include "bridge/TextEncoding.h"

#include <glib.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace corvane {
namespace {

// Parser messages quote what they read, invalid bytes included.
std::string validUtf8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}

}  // namespace

std::string textPosition(std::string_view text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::optional<size_t> nestingTooDeepAt(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > maxDepth) return i;
        break;
      case ']':
      case '}':
        // Unbalanced closers are the parser's to report.
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

std::optional<nlohmann::json> parseJsonText(std::string_view text, std::string* error, int maxDepth) {
  if (auto at = nestingTooDeepAt(text, maxDepth)) {
    if (error)
      *error = "nesting deeper than " + std::to_string(maxDepth) + " levels at " + textPosition(text, *at);
    return std::nullopt;
  }
  // JSON.stringify writes an unpaired surrogate as its escape, which the
  // parser refuses; it reads as U+FFFD, as everywhere on the bridge. The
  // repair keeps every byte where it was, so positions stay true.
  std::string repaired;
  if (text.find("\\u") != std::string_view::npos) {
    repaired.assign(text);
    bridge::replaceLoneSurrogateEscapes(repaired);
    text = repaired;
  }
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    if (error) {
      // "[json.exception.parse_error.101] parse error at line 1, column 5: why"
      // The line and column are ours, from the byte offset: the parser's
      // column is off when it read ahead past a line end.
      std::string what = e.what();
      const auto colon = what.find(": ", what.find("parse error"));
      std::string why = colon == std::string::npos ? what : what.substr(colon + 2);
      *error = "parse error at " + textPosition(text, e.byte > 0 ? e.byte - 1 : 0) + ": " + validUtf8(why);
    }
    return std::nullopt;
  } catch (const nlohmann::json::exception& e) {
    if (error) *error = validUtf8(e.what());
    return std::nullopt;
  }
}

size_t jsonNestingDepth(const nlohmann::json& value) {
  size_t deepest = 0;
  std::vector<std::pair<const nlohmann::json*, size_t>> pending{{&value, 1}};
  while (!pending.empty()) {
    auto [v, depth] = pending.back();
    pending.pop_back();
    if (!v->is_structured()) continue;
    deepest = std::max(deepest, depth);
    for (const auto& member : *v)
      if (member.is_structured()) pending.emplace_back(&member, depth + 1);
  }
  return deepest;
}

std::string jsonTypeName(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::object:
      return "an object";
    case nlohmann::json::value_t::array:
      return "an array";
    case nlohmann::json::value_t::string:
      return "text";
    case nlohmann::json::value_t::boolean:
      return "a boolean";
    case nlohmann::json::value_t::null:
      return "null";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
      return "a number";
    default:
      return "a binary value";
  }
}

std::string jsonSnippet(const nlohmann::json& value, size_t maxChars) {
  std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (text.size() > maxChars) {
    // Never cut inside a UTF-8 sequence.
    size_t cut = maxChars;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  return text;
}

}  // namespace corvane
