#include "app/WebsiteData.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "app/XdgDirs.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace corvane {

namespace fs = std::filesystem;

std::string WebsiteData::dataDirectory(const std::string& identifier) {
  return xdg::dataHome() + "/corvane/" + identifierFileName(identifier) + "/WebsiteData";
}

std::string WebsiteData::cacheDirectory(const std::string& identifier) {
  return xdg::cacheHome() + "/corvane/" + identifierFileName(identifier) + "/WebKit";
}

std::string WebsiteData::legacyDirectory(const std::string& appDataHome) { return appDataHome + "/WebsiteData"; }

std::string WebsiteData::prepare(const std::string& identifier, const std::string& legacy) {
  const fs::path target = dataDirectory(identifier);
  std::error_code ec;
  if (fs::exists(target, ec) || !fs::is_directory(legacy, ec) || fs::is_empty(legacy, ec)) return target;

  const fs::path staging = target.string() + ".copying-" + std::to_string(::getpid());
  fs::remove_all(staging, ec);
  fs::create_directories(target.parent_path(), ec);
  if (!ec) fs::copy(legacy, staging, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (!ec) fs::rename(staging, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    // Another process of this application may have finished the same copy.
    if (fs::exists(target, ignored)) return target;
    log().error("website data: could not copy {} to {}: {}; using it where it is", legacy, target.string(),
                ec.message());
    return legacy;
  }
  log().info("website data copied from {} to {}; the old folder is left as it was", legacy, target.string());
  return target;
}

}  // namespace corvane
