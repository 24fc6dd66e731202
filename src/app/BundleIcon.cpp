#include "app/BundleIcon.h"

#include "app/Utils.h"

namespace corvane {

namespace {

// A name stays inside the resource folder: no absolute path, no "..".
bool staysInside(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t slash = name.find('/', start);
    if (name.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0) return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> declaredIconNames(const Bundle& bundle) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* key : {"CFBundleIconFile", "CFBundleTypeIconFile"}) {
    const std::string name = bundle.infoText(key);
    if (!isAbsentText(name) && staysInside(name)) out.emplace_back(key, name);
  }
  return out;
}

std::vector<std::string> iconFileCandidates(const Bundle& bundle, const std::string& name) {
  const std::string base = bundle.resourcePath() + "/" + name;
  return {base + ".icns", base + ".png", base + ".svg", base};
}

std::optional<BundleIconFile> findBundleIcon(const Bundle& bundle) {
  for (const auto& [key, name] : declaredIconNames(bundle))
    for (const auto& candidate : iconFileCandidates(bundle, name))
      if (Utils::checkPathIsFile(candidate)) return BundleIconFile{key, name, candidate};
  return std::nullopt;
}

}  // namespace corvane
