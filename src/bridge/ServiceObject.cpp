#include "bridge/ServiceObject.h"

namespace corvane {

bool ServiceClass::isSelectorExcludedFromWebScript(const std::string& selector) const {
  return selectorExcluded_(selector);
}

std::optional<std::string> ServiceClass::webScriptNameForSelector(const std::string& selector) const {
  auto it = scriptNames_.find(selector);
  if (it == scriptNames_.end()) return std::nullopt;
  return it->second;
}

bool ServiceClass::isKeyExcludedFromWebScript(const std::string& field) const {
  return keyExcluded_(field);
}

std::string ServiceClass::defaultScriptName(const std::string& selector) {
  std::string name = selector;
  for (char& c : name)
    if (c == ':') c = '_';
  return name;
}

void ServiceClass::finish() {
  visible_.clear();
  for (const auto& [selector, handler] : methods_) {
    if (isSelectorExcludedFromWebScript(selector)) continue;
    auto name = webScriptNameForSelector(selector);
    visible_.push_back({name ? *name : defaultScriptName(selector), handler});
  }
  visibleFields_.clear();
  for (const auto& f : fields_)
    if (!isKeyExcludedFromWebScript(f)) visibleFields_.push_back(f);
}

}  // namespace corvane
