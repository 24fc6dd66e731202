#pragma once
// The `app` member: the application as a whole (quit, relaunch, activate,
// open URLs, files and applications, mail, facts, languages, sizes, login
// item, idle time) and the "sleep", "wake" and "appActivated" page events.
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <memory>
#include <string>

namespace corvane {

class ActivationWatcher;
class SleepWatcher;

class App : public ServiceObject {
 public:
  App(std::shared_ptr<PageScript> page, WebKitWebView* webView);
  ~App() override;
  const ServiceClass& serviceClass() const override;

  // Fields, each with a getter of its own name.
  std::string name() const { return name_; }
  std::string ver() const { return ver_; }
  std::string build_ver() const { return buildVer_; }
  std::string copyright() const { return copyright_; }
  std::string notes() const { return notes_; }
  std::string identifier() const { return identifier_; }
  nlohmann::json infoDictionary() const;

  void terminate();
  void relaunch();
  void activate();
  void hide();
  void unhide();
  void beep();
  void bounce();
  void open(const std::string& url);
  void launch(const std::string& appName);
  void openFile(const std::string& path);
  void sendEmail(const nlohmann::json& argument);
  nlohmann::json getAppArgv() const;
  std::string getAppName() const { return name_; }
  std::string getAppVersion() const { return ver_; }
  std::string getAppBuildVersion() const { return buildVer_; }
  std::string getAppIdentifier() const { return identifier_; }
  std::string getAppRunOnOS() const;
  bool isStartAtLogin() const;
  void setStartAtLogin(bool wish);
  void setCustomUserAgent(const std::string& agent);
  double systemIdleTime() const;
  bool getSandboxEnable() const;
  ScriptResult getUserDefaultInfoString() const;
  uint64_t getNowTimeStamp() const;
  int64_t getHttpServerPort() const;
  bool getIAPEnable() const;
  uint64_t fileSizeAtPath(const std::string& path) const;
  uint64_t diskSizeAtPath(const std::string& path) const;
  // The byte count may come as a number or as numeric text.
  std::string getFileSizeString1000(const nlohmann::json& bytes) const;
  std::string getFileSizeString1024(const nlohmann::json& bytes) const;
  std::string md5Digest(const std::string& text) const;
  std::string curAppleLanguage() const;
  std::string curUserLanguage() const;
  bool setUserLanguage(const std::string& language) const;
  std::string curAppleSupportLanguagesJSONString() const;
  std::string ex_getBuyURL() const;
  std::string ex_getFAQURL() const;
  std::string ex_getHomePageURL() const;
  std::string ex_getDocumentPageURL() const;
  std::string ex_getRoadmapPageURL() const;
  std::string ex_getReportIssuePageURL() const;
  std::string ex_getViewLicensePageURL() const;
  std::string ex_getReleaseNotesPageURL() const;
  std::string ex_getCheckForUpdatePageURL() const;
  std::string getLocalIP() const;
  // Helper services (AppHelpers.cpp).
  bool registerNewXPCService(const nlohmann::json& argument);
  bool unRegisterXPCService(const std::string& key);
  bool hasXPCService(const std::string& key) const;
  void resumeXPCService(const std::string& key);
  void suspendXPCService(const std::string& key);
  void invalidateXPCService(const std::string& key);
  void sendMessageToXPCService(const nlohmann::json& argument);

  // Event sources, public so that tests and the platform glue can drive them.
  void machineWillSleep();
  void machineDidWake();
  void applicationActivated(const std::string& localizedName, const std::string& bundleURL);

 private:

  std::shared_ptr<PageScript> page_;
  WebKitWebView* webView_ = nullptr;
  std::string name_, ver_, buildVer_, copyright_, notes_, identifier_;
  std::unique_ptr<SleepWatcher> sleep_;
  std::unique_ptr<ActivationWatcher> activation_;
};

}  // namespace corvane
