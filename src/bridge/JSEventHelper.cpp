#include "bridge/JSEventHelper.h"

#include "app/Utils.h"
#include "bridge/MainQueue.h"

namespace corvane {

std::string JSEventHelper::plainEventScript(const std::string& name, const std::string& object) {
  return "var e = document.createEvent('Events'); e.initEvent('" + name + "', true, false); " + object +
         ".dispatchEvent(e); ";
}

std::string JSEventHelper::dataEventScript(const std::string& name, const nlohmann::json& args,
                                           const std::string& object) {
  return "var e = document.createEvent('Events'); e.initEvent('" + name + "', true, false);  e.data=" +
         Utils::convertDictionaryToJSON(args) + "; " + object + ".dispatchEvent(e); ";
}

void JSEventHelper::triggerEvent(const std::string& name, const std::shared_ptr<PageScript>& webView) {
  triggerEvent(name, std::string("document"), webView);
}

void JSEventHelper::triggerEvent(const std::string& name, const std::string& object,
                                 const std::shared_ptr<PageScript>& webView) {
  std::weak_ptr<PageScript> weak = webView;
  MainQueue::post([weak, script = plainEventScript(name, object)] {
    if (auto page = weak.lock()) page->evaluate(script);
  });
}

void JSEventHelper::triggerEvent(const std::string& name, const nlohmann::json& args,
                                 const std::shared_ptr<PageScript>& webView) {
  triggerEvent(name, args, "document", webView);
}

void JSEventHelper::triggerEvent(const std::string& name, const nlohmann::json& args,
                                 const std::string& object, const std::shared_ptr<PageScript>& webView) {
  if (webView) webView->evaluate(dataEventScript(name, args, object));
}

}  // namespace corvane
