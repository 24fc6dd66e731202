// Folder queries, placeholder expansion, location-prefix stripping and the
// environment variables every query exports to child processes.
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"

#include <glib.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>

namespace corvane {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string flatpakId() {
  // A Flatpak sandbox sets FLATPAK_ID for the application it runs.
  return env("FLATPAK_ID");
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

thread_local int t_sandboxScopeDepth = 0;
thread_local bool t_sandboxLogged = false;

}  // namespace

// ---- the sandbox -------------------------------------------------------------

Utils::OneSandboxLine::OneSandboxLine() {
  if (t_sandboxScopeDepth++ == 0) t_sandboxLogged = false;
}

Utils::OneSandboxLine::~OneSandboxLine() { --t_sandboxScopeDepth; }

bool Utils::OneSandboxLine::wanted() {
  if (t_sandboxScopeDepth == 0) return true;
  if (t_sandboxLogged) return false;
  t_sandboxLogged = true;
  return true;
}

bool Utils::getSandboxEnable() const {
  // Flatpak sets FLATPAK_ID inside the sandbox only.
  const bool sandboxed = !flatpakId().empty();
  if (OneSandboxLine::wanted()) log().info("[SandboxEnabled] = {}", sandboxed ? 1 : 0);
  return sandboxed;
}

// Inside the sandbox the per-application folder plays the container's part.
static std::string homeFolder(const Utils& utils) {
  return utils.getSandboxEnable() ? xdg::join(xdg::homeDir(), ".var/app/" + flatpakId()) : xdg::homeDir();
}

std::string Utils::path_get_homeDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_HOMEDIRECTORY", homeFolder(*this));
}

// ---- bundle -------------------------------------------------------------------

std::string Utils::path_get_application() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_BUNDLE_PATH", bundle_.bundlePath());
}
std::string Utils::path_get_resource() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_BUNDLE_RESOURCE_PATH", bundle_.resourcePath());
}
std::string Utils::path_get_appPluginDirPath() const { return bundle_.builtInPlugInsPath(); }

std::string Utils::path_get_appUIDirPath() const {
  if (webUIDir) return checkPathisExists(*webUIDir) ? *webUIDir : std::string();
  return bundle_.resourcePath() + "/public";
}

// ---- home-based and XDG folders --------------------------------------------

std::string Utils::path_get_documentsDir() const {
  std::string answer = xdg::join(homeFolder(*this), "Documents");
  setEnv("ZAVRELONLAB_MAIN_APP_DOCUMENTDIRECTORY", xdg::userDir("DOCUMENTS", "Documents"));
  return answer;
}
std::string Utils::path_get_libraryDir() const {
  std::string answer = xdg::join(homeFolder(*this), "Library");
  setEnv("ZAVRELONLAB_MAIN_APP_LIBRARYDIRECTORY", xdg::dataHome());
  return answer;
}
std::string Utils::path_get_tempDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_TEMPORARYDIRECTORY", xdg::tempDir());
}
std::string Utils::path_get_cacheDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_CACHESDIRECTORY", xdg::cacheHome());
}
std::string Utils::path_get_applicationDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPLICATIONDIRECTORY", xdg::join(xdg::dataHome(), "applications"));
}
std::string Utils::path_get_desktopDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_DESKTOPDIRECTORY", xdg::userDir("DESKTOP", "Desktop"));
}
std::string Utils::path_get_downloadDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_DOWNLOADSDIRECTORY", xdg::userDir("DOWNLOAD", "Downloads"));
}
std::string Utils::path_get_moviesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_MOVIESDIRECTORY", xdg::userDir("VIDEOS", "Videos"));
}
std::string Utils::path_get_musicDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_MUSICDIRECTORY", xdg::userDir("MUSIC", "Music"));
}
std::string Utils::path_get_picturesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_PICTURESDIRECTORY", xdg::userDir("PICTURES", "Pictures"));
}

// ---- names ------------------------------------------------------------------

std::string Utils::path_get_applicationName() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPLICATIONNAME", getAppName());
}
std::string Utils::path_get_userName() const {
  std::string name;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) name = pw->pw_name;
  if (name.empty()) name = env("USER");
  return setEnv("ZAVRELONLAB_MAIN_APP_USERNAME", name);
}
std::string Utils::path_get_userFullName() const {
  // The GECOS field up to its first comma; the login name when it is empty.
  std::string full;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_gecos) {
    full = pw->pw_gecos;
    full = full.substr(0, full.find(','));
  }
  if (full.empty()) full = path_get_userName();
  return setEnv("ZAVRELONLAB_MAIN_APP_FULLUSERNAME", full);
}

// ---- the users' real folders --------------------------------------------------

std::string Utils::usersRoot() {
  // The folder holding the home folders: the parent of this user's home in
  // the password database (normally /home; "/" for root's /root).
  std::string home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  if (home.empty()) return "/home";
  std::string parent = std::filesystem::path(home).parent_path().string();
  return parent.empty() ? "/" : parent;
}

std::string Utils::localDir(const char* sub) const {
  std::string root = usersRoot();
  if (root.back() != '/') root += '/';
  return root + path_get_userName() + "/" + sub;
}

std::string Utils::appWriteableDir(const char* sub) const {
  return localDir(sub) + "/" + path_get_applicationName();
}

std::string Utils::path_get_localDocumentsDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALDOCUMENTSDIR", localDir("Documents"));
}
std::string Utils::path_get_localMoviesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALMOVIESDIR", localDir("Movies"));
}
std::string Utils::path_get_localMusicDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALMUSICDIR", localDir("Music"));
}
std::string Utils::path_get_localPicturesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALPICTURESDIR", localDir("Pictures"));
}
std::string Utils::path_get_localDownloadDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALDOWNLOADDIR", localDir("Downloads"));
}
std::string Utils::path_get_localDesktopDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALDESTOPDIR", localDir("Desktop"));
}
std::string Utils::path_get_localLibraryDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_LOCALLIBRARYDIR", localDir("Library"));
}
std::string Utils::path_get_appWriteableDocumentDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPWRITEABLEDOCUMENTDIR", appWriteableDir("Documents"));
}
std::string Utils::path_get_appWriteableDownloadDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPDOWNLOADDIR", appWriteableDir("Downloads"));
}
std::string Utils::path_get_appWriteableMoviesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPWRITEABLEMOVIESDIR", appWriteableDir("Movies"));
}
std::string Utils::path_get_appWriteableMusicDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPWRITEABLEMUSICDIR", appWriteableDir("Music"));
}
std::string Utils::path_get_appWriteablePicturesDir() const {
  return setEnv("ZAVRELONLAB_MAIN_APP_APPWRITEABLEPICTURESDIR", appWriteableDir("Pictures"));
}

std::string Utils::getAppDataHomeDir() const {
  OneSandboxLine oneLine;
  if (getSandboxEnable()) return homeFolder(*this);
  return xdg::join(xdg::dataHome(), getAppName());
}

void Utils::exportEnvironment() const {
  // Every query that exports a variable, in the folder table's order.
  for (auto query : {&Utils::path_get_application, &Utils::path_get_resource, &Utils::path_get_homeDir,
                     &Utils::path_get_documentsDir, &Utils::path_get_libraryDir, &Utils::path_get_tempDir,
                     &Utils::path_get_cacheDir, &Utils::path_get_applicationDir, &Utils::path_get_desktopDir,
                     &Utils::path_get_downloadDir, &Utils::path_get_moviesDir, &Utils::path_get_musicDir,
                     &Utils::path_get_picturesDir, &Utils::path_get_applicationName, &Utils::path_get_userName,
                     &Utils::path_get_userFullName, &Utils::path_get_localDocumentsDir,
                     &Utils::path_get_localMoviesDir, &Utils::path_get_localMusicDir,
                     &Utils::path_get_localPicturesDir, &Utils::path_get_localDownloadDir,
                     &Utils::path_get_localDesktopDir, &Utils::path_get_localLibraryDir,
                     &Utils::path_get_appWriteableDocumentDir, &Utils::path_get_appWriteableDownloadDir,
                     &Utils::path_get_appWriteableMoviesDir, &Utils::path_get_appWriteableMusicDir,
                     &Utils::path_get_appWriteablePicturesDir})
    (this->*query)();
}

// ---- placeholders and prefixes ----------------------------------------------

std::string Utils::update_env_string(const std::string& text) const {
  OneSandboxLine oneLine;
  using Value = std::function<std::string()>;
  // Table order matters: each value is computed even when its placeholder
  // does not occur, so every call refreshes the exported variables.
  const std::array<std::pair<const char*, Value>, 34> table{{
      {"${HOME}", [this] { return homeFolder(*this); }},
      {"${BUNDLE}", [this] { return bundle_.bundlePath(); }},
      {"${BUNDEL_RESOURCE}", [this] { return bundle_.resourcePath(); }},
      {"${BUNDEL_PLUGIN}", [this] { return bundle_.builtInPlugInsPath(); }},
      {"${DOCUMENTS}", [this] { return xdg::join(homeFolder(*this), "Documents"); }},
      {"${LIBRARY}", [this] { return xdg::join(homeFolder(*this), "Library"); }},
      {"${TEMP}", [] { return xdg::tempDir(); }},
      {"${CACHE}", [] { return xdg::cacheHome(); }},
      {"${APPLICATION}", [this] { return path_get_applicationDir(); }},
      {"${DESKTOP}", [this] { return path_get_desktopDir(); }},
      {"${DOWNLOAD}", [this] { return path_get_downloadDir(); }},
      {"${MOVIES}", [this] { return path_get_moviesDir(); }},
      {"${MUSIC}", [this] { return path_get_musicDir(); }},
      {"${PICTURES}", [this] { return path_get_picturesDir(); }},
      {"${APPW_DOCUMENTS}", [this] { return path_get_appWriteableDocumentDir(); }},
      {"${APPW_DOWNLOAD}", [this] { return path_get_appWriteableDownloadDir(); }},
      {"${APPW_MOVIES}", [this] { return path_get_appWriteableMoviesDir(); }},
      {"${APPW_MUSIC}", [this] { return path_get_appWriteableMusicDir(); }},
      {"${APPW_PICTURES}", [this] { return path_get_appWriteablePicturesDir(); }},
      {"${LOCAL_DESKTOP}", [this] { return path_get_localDesktopDir(); }},
      {"${LOCAL_DOWNLOAD}", [this] { return path_get_localDownloadDir(); }},
      {"${LOCAL_MOVIES}", [this] { return path_get_localMoviesDir(); }},
      {"${LOCAL_MUSIC}", [this] { return path_get_localMusicDir(); }},
      {"${LOCAL_PICTURES}", [this] { return path_get_localPicturesDir(); }},
      {"${LOCAL_LIBRARY}", [this] { return path_get_localLibraryDir(); }},
      {"${LOCAL_DOCUMENTS}", [this] { return path_get_localDocumentsDir(); }},
      {"${USER_NAME}", [this] { return path_get_userName(); }},
      {"${USER_FULL_NAME}", [this] { return path_get_userFullName(); }},
      {"${APPDATA_HOME}", [this] { return getAppDataHomeDir(); }},
      {"${APP_UI_DIR}", [this] { return path_get_appUIDirPath(); }},
      {"${APP_NAME}", [this] { return getAppName(); }},
      {"${APP_VERSION}", [this] { return getAppVersion(); }},
      {"${APP_BUILD_VERSION}", [this] { return getAppBuildVersion(); }},
      {"${APP_ID}", [this] { return getAppIdentifier(); }},
  }};
  std::string out = text;
  for (const auto& [placeholder, value] : table) out = replaceAll(out, placeholder, value());
  return out;
}

std::string Utils::update_spec_fix_string(const std::string& text) {
  static constexpr std::array<const char*, 8> kPrefixes{
      "http://localhost", "http://",  "https://localhost", "https://",
      "file://localhost", "file://", "documents://",       "localhost"};
  for (const char* prefix : kPrefixes) {
    const std::string p = prefix;
    if (text.rfind(p, 0) == 0) return text.substr(p.size());
  }
  return text;
}

std::string Utils::webUrlToMacUrl(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* prefix : {"http://", "https://"}) {
    const std::string p = prefix;
    if (lower.rfind(p, 0) == 0) return lower.substr(p.size());
  }
  return lower;
}

}  // namespace corvane
