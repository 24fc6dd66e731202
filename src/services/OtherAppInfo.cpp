#include "services/OtherAppInfo.h"

#include "app/Bundle.h"
#include "app/BundleIcon.h"
#include "app/ErrorText.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace corvane::otherapp {
namespace fs = std::filesystem;
namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// $XDG_DATA_HOME first, then every $XDG_DATA_DIRS entry.
std::vector<std::string> dataDirs() {
  std::vector<std::string> dirs{xdg::dataHome()};
  const char* env = std::getenv("XDG_DATA_DIRS");
  std::string list = env && *env ? env : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= list.size()) {
    size_t colon = list.find(':', start);
    std::string d = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!d.empty()) dirs.push_back(d);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return dirs;
}

std::string text(const nlohmann::json& info, const char* key) {
  const auto& v = info[key];
  return v.is_string() ? v.get<std::string>() : v.dump();
}

void addIcon(nlohmann::json& answer, const std::string& name, const std::string& file, const PngWriter& toPng) {
  answer["AppIconValue"] = name;
  answer["AppIconPath"] = file;
  const std::string png = xdg::tempDir() + "tmp_rs_image_" + Utils::uniqueStamp() + ".png";
  if (toPng && Utils::checkPathIsFile(file) && toPng(file, png) && Utils::checkPathIsFile(png))
    answer["AppIcon2PngPath"] = png;
}

Answer bundleAnswer(const std::string& path, const PngWriter& toPng) {
  auto bundle = Bundle::open(path);
  if (!bundle || !bundle->infoDictionary().is_object()) return std::monostate{};
  const auto& info = bundle->infoDictionary();
  nlohmann::json answer = nlohmann::json::object();
  if (info.contains("CFBundleIdentifier")) answer["AppId"] = text(info, "CFBundleIdentifier");
  for (const char* key : {"CFBundleDisplayName", "CFBundleName", "CFBundleExecutable"})
    if (info.contains(key)) {
      answer["AppName"] = text(info, key);
      break;
    }
  if (info.contains("CFBundleShortVersionString"))
    answer["AppVersion"] = text(info, "CFBundleShortVersionString");
  else if (info.contains("CFBundleVersion"))
    answer["AppVersion"] = text(info, "CFBundleVersion");
  if (info.contains("CFBundleVersion")) answer["AppBuildVersion"] = text(info, "CFBundleVersion");
  if (info.contains("LSApplicationCategoryType")) answer["AppCategoryType"] = text(info, "LSApplicationCategoryType");
  if (auto icon = findBundleIcon(*bundle)) addIcon(answer, icon->name, icon->path, toPng);
  return answer;
}

std::optional<std::string> entryText(GKeyFile* file, const char* key, bool localized) {
  GError* error = nullptr;
  gchar* v = localized ? g_key_file_get_locale_string(file, "Desktop Entry", key, nullptr, &error)
                       : g_key_file_get_string(file, "Desktop Entry", key, &error);
  if (error) g_error_free(error);
  if (!v) return std::nullopt;
  std::string out = v;
  g_free(v);
  return out;
}

// The desktop-file id of an entry: its path below an applications folder
// with "/" as "-", or else its file name.
std::string desktopId(const std::string& path) {
  for (const auto& dir : dataDirs()) {
    const std::string apps = dir + "/applications/";
    if (path.compare(0, apps.size(), apps) == 0) {
      std::string id = path.substr(apps.size());
      for (char& c : id)
        if (c == '/') c = '-';
      return id;
    }
  }
  return fs::path(path).filename().string();
}

Answer desktopAnswer(const std::string& path, const PngWriter& toPng) {
  GKeyFile* file = g_key_file_new();
  GError* error = nullptr;
  if (!g_key_file_load_from_file(file, Utils::fsPath(path), G_KEY_FILE_NONE, &error)) {
    std::string why = error ? error->message : "unreadable desktop entry";
    if (error) g_error_free(error);
    g_key_file_free(file);
    log().info("{} [Line {}] error = {}", "+[Utils getOtherAppInfo:]", __LINE__, why);
    return why;
  }
  if (!g_key_file_has_group(file, "Desktop Entry")) {
    g_key_file_free(file);
    return std::monostate{};
  }
  nlohmann::json answer = nlohmann::json::object();
  std::string id = desktopId(path);
  if (endsWith(id, ".desktop")) id.resize(id.size() - 8);
  answer["AppId"] = id;
  if (auto name = entryText(file, "Name", true)) answer["AppName"] = *name;
  // Desktop entries name their application's version only by extension
  // keys; "Version" is the version of the entry format.
  for (const char* key : {"X-AppVersion", "X-AppImage-Version"})
    if (auto version = entryText(file, key, false)) {
      answer["AppVersion"] = *version;
      answer["AppBuildVersion"] = *version;
      break;
    }
  if (auto categories = entryText(file, "Categories", false)) answer["AppCategoryType"] = *categories;
  if (auto icon = entryText(file, "Icon", false); icon && !icon->empty())
    if (auto iconFile = iconFileForName(*icon)) addIcon(answer, *icon, *iconFile, toPng);
  g_key_file_free(file);
  return answer;
}

// The size of an icon-theme folder name such as "48x48" or "48x48@2"
// (scalable counts below every raster size).
int folderSize(const std::string& name) {
  if (name == "scalable") return 0;
  int size = std::atoi(name.c_str());
  const auto at = name.find('@');
  if (at != std::string::npos) size *= std::max(1, std::atoi(name.c_str() + at + 1));
  return size;
}

}  // namespace

std::optional<std::string> desktopEntryForId(const std::string& id) {
  if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
  const std::string file = endsWith(id, ".desktop") ? id : id + ".desktop";
  for (const auto& dir : dataDirs()) {
    const std::string apps = dir + "/applications/";
    if (Utils::checkPathIsFile(apps + file)) return apps + file;
    // "vendor-app.desktop" may live at vendor/app.desktop.
    for (size_t dash = file.find('-'); dash != std::string::npos; dash = file.find('-', dash + 1)) {
      std::string nested = file;
      nested[dash] = '/';
      if (Utils::checkPathIsFile(apps + nested)) return apps + nested;
    }
  }
  return std::nullopt;
}

std::optional<std::string> iconFileForName(const std::string& name, const std::string& theme) {
  if (!name.empty() && name.front() == '/') return Utils::checkPathIsFile(name) ? std::optional(name) : std::nullopt;
  std::vector<std::string> themes;
  if (!theme.empty()) themes.push_back(theme);
  themes.push_back("hicolor");
  std::vector<std::string> roots{xdg::homeDir() + "/.icons"};
  for (const auto& dir : dataDirs()) roots.push_back(dir + "/icons");
  for (const auto& t : themes) {
    std::optional<std::string> best;
    int bestSize = -1;
    for (const auto& root : roots) {
      std::error_code ec;
      const fs::path themeDir = fs::path(root) / t;
      if (!fs::is_directory(themeDir, ec)) continue;
      for (const auto& sizeDir : fs::directory_iterator(themeDir, ec)) {
        const int size = folderSize(sizeDir.path().filename().string());
        if (size < 0 || size <= bestSize) continue;
        for (const char* ext : {".png", ".svg", ".xpm"}) {
          const fs::path candidate = sizeDir.path() / "apps" / (name + ext);
          if (fs::is_regular_file(candidate, ec)) {
            best = candidate.string();
            bestSize = size;
            break;
          }
        }
      }
    }
    if (best) return best;
  }
  for (const auto& dir : dataDirs())
    for (const char* ext : {".png", ".svg", ".xpm"})
      if (Utils::checkPathIsFile(dir + "/pixmaps/" + name + ext)) return dir + "/pixmaps/" + name + ext;
  if (Utils::checkPathIsFile("/usr/share/pixmaps/" + name + ".png")) return "/usr/share/pixmaps/" + name + ".png";
  return std::nullopt;
}

Answer getOtherAppInfo(const std::string& path, const PngWriter& toPng) {
  try {
    if (!Utils::checkPathisExists(path)) return std::monostate{};
    if (endsWith(path, ".desktop") && Utils::checkPathIsFile(path)) return desktopAnswer(path, toPng);
    return bundleAnswer(path, toPng);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", "+[Utils getOtherAppInfo:]", __LINE__, e.what());
    return pageErrorText(e);
  }
}

}  // namespace corvane::otherapp
