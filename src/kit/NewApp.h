#pragma once
// `corvane-kit new Name [--id reverse.dns.id] [DIR]`: a new application
// bundle, DIR/Name.app, from the template the shell ships
// (<datadir>/corvane/templates/app), ready to run: Info.plist, the main
// configuration, a page that uses the bridge, an icon, the promise module
// and a jsconfig.json wired to the bridge's types. Nothing is ever
// overwritten: the bundle is made beside its place and moved there only if
// the place is still free.
#include "kit/KitCommand.h"

#include <optional>
#include <string>

namespace corvane::kit {

// Why `name` cannot name an application (nullopt: it can).
std::optional<std::string> invalidAppName(const std::string& name);

// The identifier a new application gets without --id: "com.example." and
// the name's letters and digits, lower case ("" when it has none).
std::string defaultIdentifier(const std::string& name);

struct NewAppOptions {
  std::string name;
  std::string identifier;
  std::string folder = ".";
  std::string dataDirectory;  // <datadir>/corvane
  std::string shell;          // the shell the launcher falls back to
};

// Makes the bundle; answers its path, or nullopt with `error` set.
std::optional<std::string> makeApplication(const NewAppOptions& options, std::string* error);

int runNew(const KitInvocation& call);

}  // namespace corvane::kit
