#pragma once
// The process's one web context and one settings object, shared by every
// web view: website data kept per bundle identifier, the bridge's
// web-process extension, and the preference values pages rely on.
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

namespace corvane {

class WebContext {
 public:
  static WebKitWebContext* shared();
  static WebKitSettings* settings();
  // Where the bridge extension lives: next to the executable in the build
  // tree, or under <libdir>/corvane/web-extensions once installed.
  static std::optional<std::string> extensionDirectory();
  // Folder of the website data (local storage and the rest).
  static std::string websiteDataDirectory();
};

}  // namespace corvane
