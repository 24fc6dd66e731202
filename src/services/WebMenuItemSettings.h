#pragma once
// The `menuitems_settings` member: switches for the standard items of the
// web view's context menu, by the names pages use, kept as tag keys
// ("tag13"). The context menu consults it: a switch the page set decides
// its item; items the page never set follow the fixed filter of the bridge
// root (see docs/api/menu.md).
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace corvane {

class WebMenuItemSettings : public ServiceObject {
 public:
  explicit WebMenuItemSettings(std::shared_ptr<PageScript> webView);
  const ServiceClass& serviceClass() const override;

  void setWebMenuItemsSettings(const std::string& json);
  nlohmann::json getWebMenuItemsSettings() const { return settings; }
  bool isEnableWithMenutItemsTag(int64_t tag) const;
  // The page's own choice for a tag: set through setWebMenuItemsSettings.
  std::optional<bool> pageChoice(int tag) const;

  nlohmann::json settings;                           // tag key -> boolean
  std::map<std::string, std::string> settinsKeyMap;  // item name -> tag key

 private:
  std::shared_ptr<PageScript> webView_;
  std::set<std::string> chosen_;  // tag keys the page set
};

}  // namespace corvane
