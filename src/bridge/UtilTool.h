#pragma once
// The platform-free half of the bridge's argument and answer handling:
// reading a method's JSON argument into a params dictionary, the result
// dictionary, JSON texts of values, the JSON-file reader and size texts.
// Evaluating callbacks in a web view lives with the bridge root.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

class UtilTool {
 public:
  // Strict JSON whose top level is an object or an array; logs
  // "jsonObj = %@", and "NSString JSONObject error: %@" when it fails.
  static std::optional<nlohmann::json> JSONObject(const std::string& text);

  // The params dictionary: the argument's members without nulls; empty for
  // an array, for bad JSON and for a value that is not a text.
  static nlohmann::json paramsDictionary(const std::string& argument);
  static nlohmann::json paramsDictionary(const nlohmann::json& argument);

  // { "success": false }
  static nlohmann::json resultDictionary();

  static bool isContainKey(const std::string& key, const nlohmann::json& dictionary);
  // The text under `key`, or `fallback` when absent or not a text.
  static std::string stringValue(const nlohmann::json& params, const std::string& key,
                                 const std::string& fallback = "");
  static std::string callbackName(const nlohmann::json& params);

  // The JSON text of any value (null for a missing one).
  static std::string argumentsAsJSON(const nlohmann::json& value, bool withDebug = false);
  // "name(json);" — the script that calls a page function with a value.
  static std::string callbackScript(const std::string& callbackName, const nlohmann::json& value);
  // The same for a hook the page may or may not define ("app.onDrop"): the
  // function is called when the expression names one, and nothing happens
  // (no error in the page's console) when it does not, or when a part of
  // the path on the way is missing.
  static std::string hookScript(const std::string& hookName, const nlohmann::json& value);

  static std::optional<nlohmann::json> getDicFromJsonFile(const std::string& path);
  static std::string getFileSizeString(uint64_t bytes, bool si);
  // A byte count from a script value, read as a page's Number() would: a
  // number as it is, a text holding a number ("1500000", " 2e3 ") as that
  // number; anything else, negatives and NaN count 0; more than the largest
  // count is the largest count.
  static uint64_t byteCount(const nlohmann::json& value);

  // Removes the members whose value is null.
  static nlohmann::json withoutNulls(const nlohmann::json& object);
};

}  // namespace corvane
