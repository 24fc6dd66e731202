#pragma once
// Starting the application at login: an XDG autostart desktop entry
// ($XDG_CONFIG_HOME/autostart/<bundle identifier>.desktop) whose Exec line
// runs the bundle. The entry names the bundle path, so a moved bundle no
// longer counts as this application's login item. It is written with
// GKeyFile, every value escaped as the freedesktop.org desktop entry format says.
#include <string>

namespace corvane {

class LoginItem {
 public:
  LoginItem(std::string bundleIdentifier, std::string bundlePath, std::string appName,
            std::string executable);

  std::string entryPath() const;
  bool isStartAtLogin() const;
  // Adds or removes the entry only when the wish differs from the state.
  // Answers whether the state now matches the wish.
  bool setStartAtLogin(bool wish) const;

  // The Exec line for running this bundle, each argument quoted as the
  // freedesktop.org desktop entry format says (before GKeyFile's string escapes).
  std::string execLine() const;

 private:
  std::string id_, bundle_, name_, executable_;
};

}  // namespace corvane
