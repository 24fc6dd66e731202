// The local info store, the user defaults and other applications' facts
// for the page (services/InfoStore and services/OtherAppInfo do the work).
// Paths are used exactly as the page passes them.
#include "services/Window.h"

#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/ImageFiles.h"
#include "services/InfoStore.h"
#include "services/OtherAppInfo.h"

namespace corvane {
namespace {

constexpr const char* kNotText = "the argument is not a JSON text";

// An argument that is not a text is only logged: no callback name was read.
bool isText(const nlohmann::json& argument, const char* method, int line) {
  if (argument.is_string()) return true;
  log().info("{} [Line {}] error = {}", method, line, kNotText);
  return false;
}

bool iconToPng(const std::string& image, const std::string& png) {
  return imagefiles::convertImageFile(image, imagefiles::ImageType::Png, png);
}

}  // namespace

void Window::answerStoreCall(const nlohmann::json& argument, const char* method,
                             const std::function<nlohmann::json(const nlohmann::json&)>& work) {
  if (!isText(argument, method, __LINE__)) return;
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  nlohmann::json result = work(params);
  EvalJsWithWebView(page_, UtilTool::callbackName(params), result);
}

void Window::getAppInfoFromLocal(const nlohmann::json& argument) {
  answerStoreCall(argument, "-[Window getAppInfoFromLocal:]", infostore::getAppInfoFromLocal);
}

void Window::saveAppInfoToLocal(const nlohmann::json& argument) {
  answerStoreCall(argument, "-[Window saveAppInfoToLocal:]", infostore::saveAppInfoToLocal);
}

void Window::setInfoToUserDefaults(const nlohmann::json& argument) {
  answerStoreCall(argument, "-[Window setInfoToUserDefaults:]", [](const nlohmann::json& params) {
    return infostore::setInfoToUserDefaults(params, Utils::sharedInstance().userDefaults());
  });
}

void Window::getInfoFromUserDefaults(const nlohmann::json& argument) {
  answerStoreCall(argument, "-[Window getInfoFromUserDefaults:]", [](const nlohmann::json& params) {
    return infostore::getInfoFromUserDefaults(params, Utils::sharedInstance().userDefaults());
  });
}

void Window::removeItemFromUserDefaults(const nlohmann::json& argument) {
  answerStoreCall(argument, "-[Window removeItemFromUserDefaults:]", [](const nlohmann::json& params) {
    return infostore::removeItemFromUserDefaults(params, Utils::sharedInstance().userDefaults());
  });
}

std::string Window::getOtherAppInfo(const nlohmann::json& argument) {
  nlohmann::json result = UtilTool::resultDictionary();
  if (!argument.is_string()) {
    log().info("{} [Line {}] error = {}", "-[Window getOtherAppInfo:]", __LINE__, kNotText);
    result["error"] = kNotText;
    return Utils::convertDictionaryToJSON(result);
  }
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  std::string path = UtilTool::stringValue(params, "path");
  // An installed application may also be named by its desktop-file id.
  if (!path.empty() && !Utils::checkPathisExists(path))
    if (auto entry = otherapp::desktopEntryForId(path)) path = *entry;
  if (!path.empty() && Utils::checkPathisExists(path)) {
    auto answer = otherapp::getOtherAppInfo(path, iconToPng);
    if (auto* info = std::get_if<nlohmann::json>(&answer)) {
      result["success"] = true;
      result["info"] = *info;
    } else if (auto* error = std::get_if<std::string>(&answer)) {
      result["error"] = *error;
    } else {
      result["error"] = "info is null";
    }
  }
  EvalJsWithWebView(page_, UtilTool::callbackName(params), result);
  return Utils::convertDictionaryToJSON(result);
}

}  // namespace corvane
