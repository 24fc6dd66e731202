#include "kit/PackageSource.h"

#include "kit/KitCommand.h"

namespace corvane::kit {

std::optional<PackageSource> readPackageSource(const std::string& path, bool needMaintainer, std::ostream& err,
                                               int* status) {
  std::string why;
  auto bundle = Bundle::open(path, &why);
  if (!bundle) {
    err << "corvane-kit: " << path << " is not an application bundle: " << why << "\n";
    *status = kUsage;
    return std::nullopt;
  }
  *status = kFailed;
  MetadataReport report;
  auto app = readAppMetadata(*bundle, report, needMaintainer);
  for (const auto& w : report.warnings) err << "corvane-kit: warning: " << w << "\n";
  for (const auto& e : report.errors) err << "corvane-kit: " << e << "\n";
  if (!app) return std::nullopt;
  std::optional<icons::IconImage> icon;
  if (app->icon) {
    icon = icons::IconImage::load(app->icon->path, &why);
    if (!icon) {
      err << "corvane-kit: " << app->icon->key << ": " << why << "\n";
      return std::nullopt;
    }
  }
  return PackageSource{std::move(*bundle), std::move(*app), std::move(icon)};
}

}  // namespace corvane::kit
