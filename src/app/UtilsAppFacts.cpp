// Application facts: name, versions, identifier, MD5 and the languages.
#include "app/UserDefaults.h"
#include "app/Utils.h"

#include <glib.h>

#include <map>
#include <memory>
#include <mutex>

namespace corvane {

std::string Utils::getAppName() const {
  for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
    std::string v = bundle_.infoText(key);
    if (!isAbsentText(v)) return v;
  }
  return bundle_.infoText("CFBundleExecutable");
}

std::string Utils::getAppVersion() const { return bundle_.infoText("CFBundleShortVersionString"); }
std::string Utils::getAppBuildVersion() const { return bundle_.infoText("CFBundleVersion"); }
std::string Utils::getAppIdentifier() const { return bundle_.infoText("CFBundleIdentifier"); }

std::string Utils::md5Digest(const std::string& text) {
  gchar* hex = g_compute_checksum_for_data(G_CHECKSUM_MD5,
                                           reinterpret_cast<const guchar*>(text.data()), text.size());
  std::string out = hex;
  g_free(hex);
  return out;
}

UserDefaults& Utils::userDefaults() const {
  // One store per bundle identifier, opened on first use.
  static std::mutex m;
  static std::map<std::string, std::unique_ptr<UserDefaults>> stores;
  std::lock_guard lock(m);
  const std::string id = bundle_.identifier();
  auto& slot = stores[id];
  if (!slot) slot = std::make_unique<UserDefaults>(UserDefaults::pathForIdentifier(id));
  return *slot;
}

std::vector<std::string> Utils::appleLanguages() const {
  std::vector<std::string> out;
  auto v = userDefaults().objectForKey("AppleLanguages");
  if (v && v->is_array())
    for (const auto& e : *v)
      if (e.is_string()) out.push_back(e.get<std::string>());
  return out;
}

std::string Utils::curAppleLanguage() const {
  auto langs = appleLanguages();
  return langs.empty() ? "" : langs.front();
}

std::string Utils::curUserLanguage() const {
  auto& defaults = userDefaults();
  std::string stored = defaults.stringForKey("userLanguage");
  if (!stored.empty()) return stored;
  std::string first = curAppleLanguage();
  defaults.setObject("userLanguage", first);
  defaults.synchronize();
  return first;
}

bool Utils::setUserLanguage(const std::string& language) const {
  auto& defaults = userDefaults();
  defaults.setObject("userLanguage", language);
  // A language that did not reach the disk is not set for the next start.
  return defaults.synchronize() && curUserLanguage() == language;
}

std::string Utils::curAppleSupportLanguagesJSONString() const {
  return nlohmann::json(appleLanguages()).dump();
}

}  // namespace corvane
