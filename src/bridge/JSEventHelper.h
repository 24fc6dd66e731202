#pragma once
// DOM events for the page. Plain events are queued (they never run inside
// the native code that fired them); events with data run at once.
#include "bridge/PageScript.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace corvane {

class JSEventHelper {
 public:
  static void triggerEvent(const std::string& name, const std::shared_ptr<PageScript>& webView);
  static void triggerEvent(const std::string& name, const std::string& object,
                           const std::shared_ptr<PageScript>& webView);
  static void triggerEvent(const std::string& name, const nlohmann::json& args,
                           const std::shared_ptr<PageScript>& webView);
  static void triggerEvent(const std::string& name, const nlohmann::json& args, const std::string& object,
                           const std::shared_ptr<PageScript>& webView);

  static std::string plainEventScript(const std::string& name, const std::string& object);
  static std::string dataEventScript(const std::string& name, const nlohmann::json& args,
                                     const std::string& object);
};

}  // namespace corvane
