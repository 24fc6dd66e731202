#pragma once
// What both package formats start from: the bundle, what its Info.plist
// says for a package, and its icon decoded. Problems are printed for the
// person as they are found, so both commands word them alike.
#include "app/Bundle.h"
#include "icons/IconImage.h"
#include "kit/AppMetadata.h"

#include <optional>
#include <ostream>
#include <string>

namespace corvane::kit {

struct PackageSource {
  Bundle bundle;
  AppMetadata app;
  std::optional<icons::IconImage> icon;  // none when the bundle names none
};

// Reads the bundle at `path`; warnings and errors go to `err`. On failure
// answers nullopt and the command's exit status in `status` (kUsage for a
// path that is no bundle, kFailed for a bundle that cannot be packaged).
std::optional<PackageSource> readPackageSource(const std::string& path, bool needMaintainer, std::ostream& err,
                                               int* status);

}  // namespace corvane::kit
