#include "services/WebMenuItemSettings.h"

#include "bridge/UtilTool.h"

namespace corvane {
namespace {

std::string tagKey(int64_t tag) { return "tag" + std::to_string(tag); }

// Truthiness of a stored value, read as a boolean.
bool boolOf(const nlohmann::json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>() != 0;
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    return !s.empty() && (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't' || (s[0] >= '1' && s[0] <= '9'));
  }
  return false;
}

}  // namespace

WebMenuItemSettings::WebMenuItemSettings(std::shared_ptr<PageScript> webView) : webView_(std::move(webView)) {
  static const std::pair<const char*, int> table[] = {
      {"WebMenuItemTagOpenLinkInNewWindow", 1},  {"WebMenuItemTagDownloadLinkToDisk", 2},
      {"WebMenuItemTagCopyLinkToClipboard", 3},  {"WebMenuItemTagOpenImageInNewWindow", 4},
      {"WebMenuItemTagDownloadImageToDisk", 5},  {"WebMenuItemTagCopyImageToClipboard", 6},
      {"WebMenuItemTagOpenFrameInNewWindow", 7}, {"WebMenuItemTagGoBack", 9},
      {"WebMenuItemTagGoForward", 10},           {"WebMenuItemTagStop", 11},
      {"WebMenuItemTagReload", 12},              {"WebMenuItemTagCut", 13},
      {"WebMenuItemTagPaste", 14},               {"WebMenuItemTagSpellingGuess", 15},
      {"WebMenuItemTagNoGuessesFound", 16},      {"WebMenuItemTagIgnoreSpelling", 17},
      {"WebMenuItemTagOther", 19},               {"WebMenuItemTagSearchInSpotlight", 20},
      {"WebMenuItemTagSearchWeb", 21},           {"WebMenuItemTagLookUpInDictionary", 22},
      {"WebMenuItemTagOpenWithDefaultApplication", 23}};
  settings = nlohmann::json::object();
  for (const auto& [name, tag] : table) {
    settinsKeyMap[name] = tagKey(tag);
    settings[tagKey(tag)] = false;
  }
}

void WebMenuItemSettings::setWebMenuItemsSettings(const std::string& json) {
  const nlohmann::json params = UtilTool::paramsDictionary(json);
  for (auto it = params.begin(); it != params.end(); ++it) {
    auto name = settinsKeyMap.find(it.key());
    if (name == settinsKeyMap.end() || !settings.contains(name->second)) continue;
    settings[name->second] = it.value();
    chosen_.insert(name->second);
  }
}

bool WebMenuItemSettings::isEnableWithMenutItemsTag(int64_t tag) const {
  const std::string key = tagKey(tag);
  if (!settings.contains(key)) return true;
  return boolOf(settings[key]);
}

std::optional<bool> WebMenuItemSettings::pageChoice(int tag) const {
  if (!chosen_.count(tagKey(tag))) return std::nullopt;
  return isEnableWithMenutItemsTag(tag);
}

const ServiceClass& WebMenuItemSettings::serviceClass() const {
  static const ServiceClass cls =
      ServiceClass::Builder<WebMenuItemSettings>("WebMenuItemSettings")
          .method("setWebMenuItemsSettings:", &WebMenuItemSettings::setWebMenuItemsSettings)
          .method("getWebMenuItemsSettings", &WebMenuItemSettings::getWebMenuItemsSettings)
          .method("isEnableWithMenutItemsTag:", &WebMenuItemSettings::isEnableWithMenutItemsTag)
          .scriptNames({{"setWebMenuItemsSettings:", "setWebMenuItemsSettings"},
                        {"getWebMenuItemsSettings", "getWebMenuItemsSettings"}})
          .build();
  return cls;
}

}  // namespace corvane
