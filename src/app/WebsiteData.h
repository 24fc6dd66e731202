#pragma once
// Where an application's website data (local storage, IndexedDB, caches,
// cookies) lives: one folder per bundle identifier, so two applications
// that share a name never share their data. Earlier versions kept it in the
// application data home, named by the application's name only; that folder
// is taken over by copying, never moved, because more than one application
// may have used it.
#include <string>

namespace corvane {

class WebsiteData {
 public:
  // $XDG_DATA_HOME/corvane/<identifier>/WebsiteData
  static std::string dataDirectory(const std::string& identifier);
  // $XDG_CACHE_HOME/corvane/<identifier>/WebKit
  static std::string cacheDirectory(const std::string& identifier);
  // <application data home>/WebsiteData, where earlier versions kept it.
  static std::string legacyDirectory(const std::string& appDataHome);

  // The folder to hand to the web view for `identifier`. When it does not
  // exist yet and `legacy` holds data, the data is copied there first
  // (through a temporary folder renamed into place, so a half copy is never
  // taken for the real thing). Should the copy fail, the legacy folder is
  // answered so that the application still sees its data; nothing is
  // deleted in any case.
  static std::string prepare(const std::string& identifier, const std::string& legacy);
};

}  // namespace corvane
