#pragma once
// `corvane-kit package deb`: a Debian package of an application bundle.
#include "kit/KitCommand.h"

#include <string>

namespace corvane::kit {

struct DebRequest {
  std::string bundle;
  std::string outputFolder = ".";
  // The package carries its own copy of the shell (the one beside the kit)
  // inside the bundle instead of depending on the corvane package.
  bool standalone = false;
};

// Writes <outputFolder>/<package>_<version>_<arch>.deb and prints its path.
int packageDeb(const DebRequest& request, std::ostream& out, std::ostream& err);

}  // namespace corvane::kit
