#include "bridge/UtilTool.h"

#include "app/JsonText.h"
#include "app/Log.h"
#include "app/Utils.h"

#include <glib.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace corvane {

std::optional<nlohmann::json> UtilTool::JSONObject(const std::string& text) {
  std::string error;
  auto value = parseJsonText(text, &error);  // nesting bounded
  if (value && !value->is_object() && !value->is_array()) {
    value.reset();
    error = "top level is neither an object nor an array";
  }
  if (!value) {
    log().info("jsonObj = (null)");
    log().info("NSString JSONObject error: {}", error);
    return std::nullopt;
  }
  // Pages send files in large chunks: the line shows the start of a large
  // value, and no text is made when the line is not logged.
  if (log().should_log(spdlog::level::info)) {
    constexpr size_t kShown = 4096;
    std::string shown = value->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (shown.size() > kShown) shown = shown.substr(0, kShown) + "… (" + std::to_string(shown.size()) + " bytes)";
    log().info("jsonObj = {}", shown);
  }
  return value;
}

nlohmann::json UtilTool::withoutNulls(const nlohmann::json& object) {
  nlohmann::json out = nlohmann::json::object();
  if (!object.is_object()) return out;
  for (const auto& [key, value] : object.items())
    if (!value.is_null()) out[key] = value;
  return out;
}

nlohmann::json UtilTool::paramsDictionary(const std::string& argument) {
  auto parsed = JSONObject(argument);
  if (!parsed || !parsed->is_object()) return nlohmann::json::object();
  // Nulls go in place: arguments may carry megabytes (file chunks).
  for (auto it = parsed->begin(); it != parsed->end();) {
    if (it->is_null())
      it = parsed->erase(it);
    else
      ++it;
  }
  return std::move(*parsed);
}

nlohmann::json UtilTool::paramsDictionary(const nlohmann::json& argument) {
  if (!argument.is_string()) {
    log().info("NSString JSONObject error: argument is not a text");
    return nlohmann::json::object();
  }
  return paramsDictionary(argument.get_ref<const std::string&>());
}

nlohmann::json UtilTool::resultDictionary() { return {{"success", false}}; }

bool UtilTool::isContainKey(const std::string& key, const nlohmann::json& dictionary) {
  return dictionary.is_object() && dictionary.contains(key);
}

std::string UtilTool::stringValue(const nlohmann::json& params, const std::string& key,
                                  const std::string& fallback) {
  if (!isContainKey(key, params)) return fallback;
  const auto& v = params.at(key);
  return v.is_string() ? v.get<std::string>() : fallback;
}

std::string UtilTool::callbackName(const nlohmann::json& params) {
  return stringValue(params, "callback");
}

std::string UtilTool::argumentsAsJSON(const nlohmann::json& value, bool /*withDebug*/) {
  // Serialising the bare value is what wrapping it in a one-element array
  // and cutting the brackets gives; invalid UTF-8 is replaced, not thrown.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string UtilTool::callbackScript(const std::string& callbackName, const nlohmann::json& value) {
  return callbackName + "(" + argumentsAsJSON(value) + ");";
}

std::string UtilTool::hookScript(const std::string& hookName, const nlohmann::json& value) {
  // No variables of its own, so the name can never mean one of them; an
  // error the hook itself throws stays the page's to see.
  return "(function(){try{if(typeof (" + hookName + ")!==\"function\")return;}catch(e){return;}" + hookName + "(" +
         argumentsAsJSON(value) + ");})();";
}

std::optional<nlohmann::json> UtilTool::getDicFromJsonFile(const std::string& path) {
  if (!Utils::checkPathisExists(path) || Utils::checkPathIsDir(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto parse = [](const std::string& t) -> std::optional<nlohmann::json> {
    auto v = parseJsonText(t);
    if (!v || (!v->is_object() && !v->is_array())) return std::nullopt;
    return v;
  };
  auto value = parse(text);
  if (!value) {
    gsize len = 0;
    guchar* raw = g_base64_decode(text.c_str(), &len);
    std::string decoded(reinterpret_cast<char*>(raw), len);
    g_free(raw);
    if (!decoded.empty() && g_utf8_validate(decoded.data(), static_cast<gssize>(decoded.size()), nullptr))
      value = parse(decoded);
  }
  if (!value || !value->is_object()) return std::nullopt;
  return withoutNulls(*value);
}

std::string UtilTool::getFileSizeString(uint64_t bytes, bool si) {
  static constexpr std::array<const char*, 9> kUnits{"Bytes", "KB", "MB", "GB", "TB",
                                                    "PB",    "EB", "ZB", "YB"};
  const double base = si ? 1000.0 : 1024.0;
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  // The first division always happens, so the smallest unit shown is KB.
  value /= base;
  ++unit;
  while (value > base && unit + 1 < kUnits.size()) {
    value /= base;
    ++unit;
  }
  if (value < 0.1) value = 0.1;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%0.1f%s", value, kUnits[unit]);
  return buf;
}

uint64_t UtilTool::byteCount(const nlohmann::json& value) {
  double number = 0;
  if (value.is_number()) {
    number = value.get<double>();
  } else if (value.is_string()) {
    // Pages often hand sizes over as the text they read from a field or a
    // header; surrounding white space is allowed, trailing garbage is not.
    const std::string& text = value.get_ref<const std::string&>();
    const char* begin = text.c_str();
    char* end = nullptr;
    number = std::strtod(begin, &end);
    if (end == begin) return 0;
    while (*end && g_ascii_isspace(*end)) ++end;
    if (*end) return 0;
  } else if (value.is_boolean()) {
    number = value.get<bool>() ? 1 : 0;
  }
  if (std::isnan(number) || number <= 0) return 0;
  if (number >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<uint64_t>(number);
}

}  // namespace corvane
