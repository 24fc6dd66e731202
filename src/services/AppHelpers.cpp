// The App object's helper-service methods: thin script faces of the
// registry in `Utils` (UtilsHelpers.cpp). Replies come back on the helper
// queue and reach the page through EvalJsWithWebView, which moves them to
// the main thread.
#include "app/ErrorText.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/App.h"

#include <exception>

namespace corvane {

bool App::registerNewXPCService(const nlohmann::json& argument) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string key = UtilTool::stringValue(params, "key");
    const std::string id = UtilTool::stringValue(params, "id");
    if (key.empty() || id.empty()) return false;
    return Utils::sharedInstance().registerXPCConnectionWithKey(key, id);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", "-[App registerNewXPCService:]", __LINE__, e.what());
    return false;
  }
}

bool App::unRegisterXPCService(const std::string& key) {
  return Utils::sharedInstance().unRegisterXPCConnectionWithKey(key);
}

bool App::hasXPCService(const std::string& key) const {
  return Utils::sharedInstance().containsXPCConnection(key);
}

void App::resumeXPCService(const std::string& key) { Utils::sharedInstance().resumeXPCConnectionWithXPCKey(key); }

void App::suspendXPCService(const std::string& key) {
  Utils::sharedInstance().suspendXPCConnectionWithXPCKey(key);
}

void App::invalidateXPCService(const std::string& key) {
  Utils::sharedInstance().invalidateXPCConnectionWithXPCKey(key);
}

// Every message that is sent gets one answer: "success" true with the
// helper's reply under "message", or "success" false with "error" when the
// connection could not carry it (helper not found, gone, invalidated). A
// helper that takes a message and never answers leaves the callback
// uncalled. An unknown key sends nothing and answers nothing.
void App::sendMessageToXPCService(const nlohmann::json& argument) {
  nlohmann::json result = UtilTool::resultDictionary();
  std::string callback;
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    callback = UtilTool::callbackName(params);
    const std::string key = UtilTool::stringValue(params, "xpc_key");
    nlohmann::json messageDic = params.contains("messageDic") ? params["messageDic"] : nlohmann::json::object();
    if (!messageDic.is_object()) messageDic = nlohmann::json::object();
    if (key.empty()) return;
    std::shared_ptr<PageScript> page = page_;
    Utils::sharedInstance().sendMessageWithXPCKey(
        key, messageDic,
        [page, callback, result](const nlohmann::json& reply) mutable {
          result["success"] = true;
          result["message"] = reply;
          EvalJsWithWebView(page, callback, result);
        },
        [page, callback, result](const std::string& error) mutable {
          result["error"] = error;
          EvalJsWithWebView(page, callback, result);
        });
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", "-[App sendMessageToXPCService:]", __LINE__, e.what());
    result["error"] = pageErrorText(e);
    if (!callback.empty()) EvalJsWithWebView(page_, callback, result);
  }
}

}  // namespace corvane
