#include "ui/WebContext.h"

#include "app/CommandLine.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/WebsiteData.h"

#include <cstring>
#include <filesystem>

#ifndef CORVANE_EXTENSION_RELATIVE_DIRS
#define CORVANE_EXTENSION_RELATIVE_DIRS "../lib/corvane/web-extensions"
#endif

namespace corvane {

namespace fs = std::filesystem;

namespace {
std::string g_extensionDirectory;
}

void WebContext::setExtensionDirectory(std::string folder) { g_extensionDirectory = std::move(folder); }

std::optional<std::string> WebContext::extensionDirectory() {
  if (!g_extensionDirectory.empty()) return g_extensionDirectory;
  const auto found = filesBesideExecutable({CORVANE_EXTENSION_RELATIVE_DIRS}, "libcorvane-webext.so");
  if (found.empty()) return std::nullopt;
  return fs::path(found.front()).parent_path().string();
}

std::string WebContext::websiteDataDirectory() {
  // Decided once per process: it may copy an older folder into place.
  static const std::string folder = [] {
    Utils& utils = Utils::sharedInstance();
    return WebsiteData::prepare(utils.getAppIdentifier(), WebsiteData::legacyDirectory(utils.getAppDataHomeDir()));
  }();
  return folder;
}

WebKitWebContext* WebContext::shared() {
  static WebKitWebContext* context = [] {
    const std::string cache = WebsiteData::cacheDirectory(Utils::sharedInstance().getAppIdentifier());
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
        "base-data-directory", websiteDataDirectory().c_str(), "base-cache-directory", cache.c_str(), nullptr);
    WebKitWebContext* ctx = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    // Pages keep their cookies: accept all of them.
    webkit_cookie_manager_set_accept_policy(webkit_web_context_get_cookie_manager(ctx),
                                            WEBKIT_COOKIE_POLICY_ACCEPT_ALWAYS);
    if (auto dir = extensionDirectory()) {
      webkit_web_context_set_web_extensions_directory(ctx, dir->c_str());
    } else {
      log().error("bridge extension not found next to {}; pages get no bridge", currentExecutablePath());
    }
    return ctx;
  }();
  return context;
}

WebKitSettings* WebContext::settings() {
  static WebKitSettings* settings = [] {
    WebKitSettings* s = webkit_settings_new();
    try {
      webkit_settings_set_enable_html5_local_storage(s, TRUE);
      webkit_settings_set_enable_html5_database(s, TRUE);
      bool developer = false;
      try {
        developer = Utils::sharedInstance().getEnableDeveloperDebug();
      } catch (const std::exception&) {
        developer = false;
      }
      webkit_settings_set_enable_developer_extras(s, developer);
      webkit_settings_set_enable_webgl(s, TRUE);
      webkit_settings_set_enable_page_cache(s, TRUE);
      webkit_settings_set_enable_javascript(s, TRUE);
      webkit_settings_set_javascript_can_open_windows_automatically(s, TRUE);
      webkit_settings_set_auto_load_images(s, TRUE);
      // WebKit's standard agent already ends in its "Safari/<version>"
      // token; appending the name again would double it.
      const char* standard = webkit_settings_get_user_agent(s);
      if (!standard || !std::strstr(standard, " Safari/"))
        webkit_settings_set_user_agent_with_application_details(s, "Safari", nullptr);
      // Let pages reach their own files when they are files themselves.
      webkit_settings_set_allow_file_access_from_file_urls(s, TRUE);
    } catch (const std::exception& e) {
      log().error("system big error = {}", e.what());
    }
    return s;
  }();
  return settings;
}

}  // namespace corvane
