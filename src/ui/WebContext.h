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
  // Where the bridge extension lives: <libdir>/corvane/web-extensions
  // relative to the executable's folder, the same in the build tree and an
  // installed one.
  static std::optional<std::string> extensionDirectory();
  // Another folder to take the extension from, before the shared context is
  // made. Only code can set it (the tests' shell, run from a copy of
  // itself); the shipped shell never does.
  static void setExtensionDirectory(std::string folder);
  // Folder of the website data (local storage and the rest).
  static std::string websiteDataDirectory();
};

}  // namespace corvane
