#pragma once
// Where a bundle's icon is: the one rule the shell (its window icon, other
// applications' facts) and corvane-kit (the packages' icons) share.
#include "app/Bundle.h"

#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct BundleIconFile {
  std::string key;   // the information-dictionary key that named it
  std::string name;  // the name as the key gives it
  std::string path;  // the file found for it
};

// The names the bundle declares for its icon, with their keys, in the
// order they are tried: "CFBundleIconFile", then "CFBundleTypeIconFile".
std::vector<std::pair<std::string, std::string>> declaredIconNames(const Bundle& bundle);

// The files tried for one name: Contents/Resources/<name>.icns, .png and
// .svg, then Contents/Resources/<name> as given.
std::vector<std::string> iconFileCandidates(const Bundle& bundle, const std::string& name);

// The first candidate file that exists, of the first declared name that
// has one; nullopt when the bundle declares no icon or none is there.
std::optional<BundleIconFile> findBundleIcon(const Bundle& bundle);

}  // namespace corvane
