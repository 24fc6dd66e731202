#pragma once
// `corvane-kit package flatpak`: a Flatpak manifest of an application
// bundle, with the files it names, ready for flatpak-builder.
#include "kit/KitCommand.h"

#include <string>

namespace corvane::kit {

struct FlatpakRequest {
  std::string bundle;
  std::string outputFolder;
  // The shell's source tree, built as the manifest's first module; empty:
  // the repository the kit was built with (CORVANE_SOURCE_URL) at the
  // kit's version tag.
  std::string shellSource;
};

// Writes <outputFolder>/<identifier>.json and prints its path.
int packageFlatpak(const FlatpakRequest& request, std::ostream& out, std::ostream& err);

}  // namespace corvane::kit
