#include "services/InfoStore.h"

#include "app/AtomicFile.h"
#include "app/InfoPlist.h"
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
void requireStorable(const nlohmann::json& value) {
  if (holdsNull(value)) throw std::invalid_argument("the value holds null, which the user defaults cannot store");
}

void writeDefaults(UserDefaults& defaults) {
  if (!defaults.synchronize()) throw std::runtime_error("the user defaults could not be written to disk");
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
    result["error"] = e.what();
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
    std::string why;
    const bool written = !path.empty() && writeFileAtomically(path, xml, 0644, &why);
    result["success"] = written;
    if (!written) result["error"] = kFileSaveError;
  } catch (const std::exception& e) {
    result["error"] = e.what();
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
    defaults.setObject(key, *value);
    writeDefaults(defaults);
    result["success"] = true;
  } catch (const std::exception& e) {
    result["error"] = e.what();
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
    defaults.removeObject(key);
    writeDefaults(defaults);
    result["success"] = true;
  } catch (const std::exception& e) {
    result["error"] = e.what();
  }
  return result;
}

}  // namespace corvane::infostore
