#include "services/InfoStore.h"

#include "app/AtomicFile.h"
#include "app/ErrorText.h"
#include "app/InfoPlist.h"
#include "app/JsonText.h"
#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"

#include <stdexcept>

namespace corvane::infostore {
namespace {

bool holdsNull(const nlohmann::json& value) {
  if (value.is_null()) return true;
  if (value.is_structured())
    for (const auto& member : value)
      if (holdsNull(member)) return true;
  return false;
}

// The defaults hold what a property list holds: no null anywhere inside.
// The store is one object holding every key, and it must read back within
// the reader's nesting bound.
void requireStorable(const nlohmann::json& value) {
  if (holdsNull(value)) throw std::invalid_argument("the value holds null, which the user defaults cannot store");
  if (jsonNestingDepth(value) >= static_cast<size_t>(kMaxJsonDepth))
    throw std::invalid_argument("the value is nested deeper than " + std::to_string(kMaxJsonDepth - 1) +
                                " levels, more than the user defaults can hold");
}

// Memory and disk agree after the answer: a change that did not reach the
// disk is undone in memory too.
void storeNow(UserDefaults& defaults, const std::string& key, nlohmann::json value) {
  std::string why;
  if (!defaults.setObjectAndSynchronize(key, std::move(value), &why))
    throw std::runtime_error("the user defaults could not be written to disk: " + why);
}

}  // namespace

nlohmann::json getAppInfoFromLocal(const nlohmann::json& params) {
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string path = UtilTool::stringValue(params, "filePath");
  try {
    if (!path.empty() && Utils::checkPathisExists(path)) {
      std::string why;
      auto value = readPropertyList(path, &why);
      if (!value) throw std::runtime_error(why);
      if (!value->is_object()) throw std::runtime_error(path + " does not hold a property-list dictionary");
      result["result"] = std::move(*value);
      result["success"] = true;
    } else {
      result["error"] = kFileNotExists;
    }
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  return result;
}

nlohmann::json saveAppInfoToLocal(const nlohmann::json& params) {
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string path = UtilTool::stringValue(params, "filePath");
  auto info = params.find("appInfo");
  if (info == params.end() || !info->is_structured()) {
    result["error"] = kDataFormatError;
    return result;
  }
  try {
    // The XML is made first, so a value a property list cannot hold is
    // reported as such and leaves the file alone.
    const std::string xml = propertyListXml(*info);
    std::string why = "no path";
    const bool written = !path.empty() && writeFileAtomically(path, xml, 0644, &why);
    result["success"] = written;
    if (!written) {
      log().info("info file not saved: {}", why);
      result["error"] = kFileSaveError;
    }
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  return result;
}

nlohmann::json setInfoToUserDefaults(const nlohmann::json& params, UserDefaults& defaults) {
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string key = UtilTool::stringValue(params, "key");
  auto value = params.find("value");
  if (value == params.end() || key.empty()) {
    result["error"] = kKeyAndValueEmpty;
    return result;
  }
  try {
    requireStorable(*value);
    storeNow(defaults, key, *value);
    result["success"] = true;
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  return result;
}

nlohmann::json getInfoFromUserDefaults(const nlohmann::json& params, const UserDefaults& defaults) {
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string key = UtilTool::stringValue(params, "key");
  if (key.empty()) {
    result["error"] = kKeyEmpty;
  } else if (auto value = defaults.objectForKey(key)) {
    result["result"] = std::move(*value);
    result["success"] = true;
  } else {
    result["error"] = kNotFound;
  }
  return result;
}

nlohmann::json removeItemFromUserDefaults(const nlohmann::json& params, UserDefaults& defaults) {
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string key = UtilTool::stringValue(params, "key");
  if (key.empty()) {
    result["error"] = kKeyEmpty;
    return result;
  }
  if (!defaults.objectForKey(key)) {
    result["error"] = kNotFound;
    return result;
  }
  try {
    storeNow(defaults, key, nullptr);
    result["success"] = true;
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  return result;
}

}  // namespace corvane::infostore
