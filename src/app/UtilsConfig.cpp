// Finding and reading the main configuration, "AppExInfo" and the bundle's
// information-dictionary getters.
#include "app/JsonText.h"
#include "app/Log.h"
#include "app/Utils.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace corvane {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat st{};
  return ::stat(Utils::fsPath(path), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path) {
  struct stat st{};
  return ::stat(Utils::fsPath(path), &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr const char* kDefaultDebugServer = "http://192.168.1.2:8080";
constexpr const char* kDefaultReleaseServer = "https://corvane.app";

}  // namespace

std::optional<nlohmann::json> Utils::readConfigFile(const std::string& path, std::string* error) {
  auto fail = [error](std::string why) -> std::optional<nlohmann::json> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (!isRegularFile(path)) return fail("not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(std::string("cannot be opened: ") + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto parsed = parseJsonText(text, error);
  if (!parsed) return std::nullopt;
  if (!parsed->is_object()) return fail("the top level is " + jsonTypeName(*parsed) + ", not an object");
  nlohmann::json out = nlohmann::json::object();
  for (auto& [key, value] : parsed->items())
    if (!value.is_null()) out[key] = std::move(value);
  return out;
}

std::vector<std::string> Utils::getMainConfigJsonFileList() const {
  std::vector<std::string> list;
  const std::string ian = bundle_.resourcePath() + "/public/ian.json";
  std::string error;
  auto boot = readConfigFile(ian, &error);
  if (!boot) {
    // A missing boot-strap file is normal; a broken one is worth a word.
    if (isRegularFile(ian)) log().warn("{} is not used: {}", ian, error);
    return list;
  }
  auto it = boot->find("BootStrapList");
  if (it == boot->end() || !it->is_array()) return list;
  for (const auto& entry : *it)
    if (entry.is_string() && !entry.get<std::string>().empty())
      list.push_back(entry.get<std::string>());
  return list;
}

std::string Utils::bootStrapCandidatePath(const std::string& entry) const {
  // Relative entries name files of the bundle, never of whatever folder
  // the application was started from.
  std::string path = update_env_string(entry);
  if (!path.empty() && path.front() != '/') path = bundle_.resourcePath() + "/" + path;
  return path;
}

MainConfigSearch Utils::findMainConfigFile() const {
  MainConfigSearch out;
  if (getEnableNoFindMainConfigForApp()) return out;

  for (const auto& candidate : getMainConfigJsonFileList()) {
    const std::string path = bootStrapCandidatePath(candidate);
    if (isRegularFile(path) && readConfigFile(path)) {
      out.file = path;
      return out;
    }
  }

  auto pick = [](const std::string& base) -> std::optional<std::string> {
    std::string first = base + "/public/project.json";
    if (isRegularFile(first)) return first;
    log().info("({}) not exist.", first);
    std::string second = base + "/public/package.json";
    if (isRegularFile(second)) return second;
    log().info("({}) not exist.", second);
    return std::nullopt;
  };

  if (webUIDir) {
    if (auto p = pick(*webUIDir)) {
      out.file = p;
      return out;
    }
  }
  if (auto p = pick(bundle_.resourcePath())) {
    out.file = p;
    return out;
  }
  out.fatal = true;
  return out;
}

std::optional<nlohmann::json> Utils::getMainconfigDic() const {
  MainConfigSearch search = findMainConfigFile();
  if (!search.file && !search.fatal) return std::nullopt;  // none by design
  std::string error = "no main configuration file found";
  if (search.file) {
    if (auto dic = readConfigFile(*search.file, &error)) {
      std::lock_guard<std::mutex> lock(configMutex_);
      lastGoodConfig_ = *dic;
      lastConfigFault_.clear();
      return dic;
    }
    error = *search.file + ": " + error;
  }
  {
    // Once the application runs on a configuration, a file caught halfway
    // through an editor's save or an update must not end it: keep the last
    // good configuration and say so (once per fault).
    std::lock_guard<std::mutex> lock(configMutex_);
    if (lastGoodConfig_) {
      if (lastConfigFault_ != error) {
        lastConfigFault_ = error;
        log().error("main configuration cannot be read ({}); keeping the last good configuration", error);
      }
      return lastGoodConfig_;
    }
  }
  // Start-up: no configuration at all.
  if (search.file) log().error("main configuration cannot be read: {}", error);
  log().info("mainconfigDic = nil");
  log().flush();
  // POSIX keeps only the low 8 bits: the parent sees 3912 & 255 = 72.
  std::exit(kNoMainConfigExitStatus);
}

void Utils::applyConfiguredLogLevel(const Bundle& bundle) {
  const char* environment = std::getenv("CORVANE_LOG_LEVEL");
  if (environment && *environment) return;
  // A quiet application asks for quiet before its first line: the search's
  // own lines ("(...) not exist.") and the process facts are not wanted
  // here; the launch logs them again when it reads the configuration.
  auto& logger = log();
  const auto before = logger.level();
  logger.set_level(spdlog::level::off);
  std::optional<nlohmann::json> wanted;
  {
    const Utils quiet(bundle);
    const MainConfigSearch search = quiet.findMainConfigFile();
    if (search.file)
      if (auto dic = readConfigFile(*search.file))
        if (auto it = dic->find("logLevel"); it != dic->end()) wanted = *it;
  }
  logger.set_level(before);
  if (!wanted) return;
  if (!wanted->is_string()) {
    logger.warn("\"logLevel\" is {}, not text; the level stays {}", jsonTypeName(*wanted),
                spdlog::level::to_string_view(before));
    return;
  }
  corvane::applyConfiguredLogLevel(wanted->get<std::string>());
}

std::optional<nlohmann::json> Utils::getAppExConfigDic() const {
  auto dic = getMainconfigDic();
  if (!dic) return std::nullopt;
  auto it = dic->find("AppExInfo");
  if (it == dic->end() || it->is_null()) return std::nullopt;
  return *it;
}

std::optional<std::string> Utils::getAppBundle_SpecResourcePublicDirectory() const {
  const std::string raw = bundle_.infoText("CFZavrelonSpecPublicDirectory");
  if (isAbsentText(raw)) return std::nullopt;
  std::string path = update_env_string(raw);
  if (!isFolder(path)) return std::nullopt;
  return path;
}

bool Utils::getEnableNoFindMainConfigForApp() const {
  return bundle_.infoBool("CFBundleAppleEnableNoFindMainConfigForApp");
}

bool Utils::getEnableUseDebugHost() const { return bundle_.infoBool("EnableUseDebugHost"); }

bool Utils::getEnableDeveloperDebug() const {
  if (auto dic = getMainconfigDic()) {
    auto it = dic->find("enableDeveloperDebug");
    if (it != dic->end() && jsonBoolValue(*it)) return true;
  }
  return checkPathisExists(getAppDataHomeDir() + "/_debug_.json");
}

std::string Utils::appExText(const char* key) const {
  auto ex = getAppExConfigDic();
  if (!ex || !ex->is_object()) return "";
  auto it = ex->find(key);
  if (it == ex->end() || !it->is_string()) return "";
  return it->get<std::string>();
}

std::string Utils::getDebugServer() const {
  std::string v = appExText("DebugServerAddress");
  return v.empty() ? kDefaultDebugServer : v;
}

std::string Utils::getReleaseServer() const {
  std::string v = appExText("ReleaseServerAddress");
  return v.empty() ? kDefaultReleaseServer : v;
}

std::string Utils::ex_getHomePageURL() const { return appExText("HomePageURL"); }
std::string Utils::ex_getDocumentPageURL() const { return appExText("DocumentPageURL"); }
std::string Utils::ex_getRoadmapPageURL() const { return appExText("RoadmapPageURL"); }
std::string Utils::ex_getReportIssuePageURL() const { return appExText("ReportIssuePageURL"); }
std::string Utils::ex_getViewLicensePageURL() const { return appExText("ViewLicensePageURL"); }
std::string Utils::ex_getReleaseNotesPageURL() const { return appExText("ReleaseNotesPageURL"); }
std::string Utils::ex_getCheckForUpdatePageURL() const { return appExText("CheckForUpdatePageURL"); }
std::string Utils::ex_getFAQURL() const { return appExText("FAQURL"); }
std::string Utils::ex_getBuyURL() const { return appExText("BuyURL"); }

std::optional<std::string> Utils::infoURL(const char* key) const {
  std::string v = bundle_.infoText(key);
  if (isAbsentText(v)) return std::nullopt;
  return v;
}

std::optional<std::string> Utils::getAppBundle_HomePageURL() const { return infoURL("homePageURL"); }
std::optional<std::string> Utils::getAppBundle_DocumentURL() const { return infoURL("documentPageURL"); }
std::optional<std::string> Utils::getAppBundle_UpdateURL() const { return infoURL("updateURL"); }
std::optional<std::string> Utils::getAppBundle_ReviewURL() const { return infoURL("reviewURL"); }
std::optional<std::string> Utils::getAppBundle_FAQURL() const { return infoURL("FAQURL"); }
std::optional<std::string> Utils::getAppBundle_BuyURL() const { return infoURL("BuyURL"); }

std::optional<std::string> Utils::pathForResource(const std::string& name) const {
  // "sounds/a.wav" → resource "a.wav" in sub-folder "./sounds".
  std::vector<std::string> parts;
  std::stringstream ss(name);
  for (std::string part; std::getline(ss, part, '/');) parts.push_back(part);
  if (parts.empty()) return std::nullopt;
  std::string resource = parts.back();
  parts.pop_back();
  std::string subdir = ".";
  for (const auto& p : parts) subdir += "/" + p;
  return bundle_.pathForResource(resource, "", subdir);
}

}  // namespace corvane
