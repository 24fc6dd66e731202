#pragma once
// The process-wide `Utils` facade. Its methods are grouped by topic and each
// topic lives in a file of its own:
//   UtilsConfig.cpp    main configuration, "AppExInfo" and bundle getters
//   UtilsFolders.cpp   folders, placeholders, prefix stripping, environment
//   UtilsFiles.cpp     shared file routines
//   UtilsAppFacts.cpp  application name, versions, MD5, languages
//   UtilsHelpers.cpp   the helper-service registry (map_key2XPC)
// Everything here is platform-free (GLib/GIO at most) and testable without
// a display; the UI layer plugs in what needs one (file icons).
#include "app/Bundle.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class UserDefaults;
class HelperConnection;
struct HelperMap;

// Outcome of the main-configuration search, without ending the process.
struct MainConfigSearch {
  std::optional<std::string> file;  // the chosen candidate
  bool fatal = false;               // nothing found: the caller must exit(3912)
};

class Utils {
 public:
  static constexpr int kNoMainConfigExitStatus = 3912;

  // The shared instance for the main bundle, created once under a lock.
  static Utils& sharedInstance();

  // A private instance for `bundle` (tests and tools). Logs the process
  // facts just like the shared one.
  explicit Utils(Bundle bundle);
  Utils(const Utils&) = delete;
  Utils& operator=(const Utils&) = delete;

  const Bundle& bundle() const { return bundle_; }

  // ---- state -------------------------------------------------------------
  std::optional<std::string> webUIDir;
  std::atomic<bool> wantRelaunch{false};
  std::atomic<int64_t> http_server_port{0};

  // ---- configuration (UtilsConfig.cpp) ------------------------------------
  std::vector<std::string> getMainConfigJsonFileList() const;
  // The main configuration, re-read from disk on every call. Ends the process
  // with status 3912 when there is none at start-up (unless the bundle says
  // there is none by design, then nullopt). Once one has been read, a file
  // that becomes unreadable or disappears is logged and the last good
  // configuration answers instead.
  std::optional<nlohmann::json> getMainconfigDic() const;
  MainConfigSearch findMainConfigFile() const;
  // Sets the log level the bundle's main configuration names ("logLevel"),
  // before anything else logs: the search and the reading are silent.
  // CORVANE_LOG_LEVEL wins over it.
  static void applyConfiguredLogLevel(const Bundle& bundle);
  std::optional<nlohmann::json> getAppExConfigDic() const;
  std::optional<std::string> getAppBundle_SpecResourcePublicDirectory() const;
  bool getEnableNoFindMainConfigForApp() const;
  bool getEnableUseDebugHost() const;
  bool getEnableDeveloperDebug() const;
  std::string getDebugServer() const;
  std::string getReleaseServer() const;
  std::string ex_getHomePageURL() const;
  std::string ex_getDocumentPageURL() const;
  std::string ex_getRoadmapPageURL() const;
  std::string ex_getReportIssuePageURL() const;
  std::string ex_getViewLicensePageURL() const;
  std::string ex_getReleaseNotesPageURL() const;
  std::string ex_getCheckForUpdatePageURL() const;
  std::string ex_getFAQURL() const;
  std::string ex_getBuyURL() const;
  std::optional<std::string> getAppBundle_HomePageURL() const;
  std::optional<std::string> getAppBundle_DocumentURL() const;
  std::optional<std::string> getAppBundle_UpdateURL() const;
  std::optional<std::string> getAppBundle_ReviewURL() const;
  std::optional<std::string> getAppBundle_FAQURL() const;
  std::optional<std::string> getAppBundle_BuyURL() const;
  std::optional<std::string> pathForResource(const std::string& name) const;

  // Reads a configuration file: an existing regular file whose top level is
  // a JSON object (nesting bounded, see JsonText.h); null members are
  // dropped. nullopt otherwise, with the reason (parse errors with their
  // position) in `error` when given.
  static std::optional<nlohmann::json> readConfigFile(const std::string& path,
                                                      std::string* error = nullptr);
  // A "BootStrapList" entry as a path: placeholders expanded, relative
  // entries inside the bundle's resource folder.
  std::string bootStrapCandidatePath(const std::string& entry) const;

  // ---- folders, placeholders, environment (UtilsFolders.cpp) --------------
  std::string path_get_application() const;
  std::string path_get_resource() const;
  std::string path_get_homeDir() const;
  std::string path_get_documentsDir() const;
  std::string path_get_libraryDir() const;
  std::string path_get_tempDir() const;
  std::string path_get_cacheDir() const;
  std::string path_get_applicationDir() const;
  std::string path_get_desktopDir() const;
  std::string path_get_downloadDir() const;
  std::string path_get_moviesDir() const;
  std::string path_get_musicDir() const;
  std::string path_get_picturesDir() const;
  std::string path_get_applicationName() const;
  std::string path_get_userName() const;
  std::string path_get_userFullName() const;
  std::string path_get_localDocumentsDir() const;
  std::string path_get_localMoviesDir() const;
  std::string path_get_localMusicDir() const;
  std::string path_get_localPicturesDir() const;
  std::string path_get_localDownloadDir() const;
  std::string path_get_localDesktopDir() const;
  std::string path_get_localLibraryDir() const;
  std::string path_get_appWriteableDocumentDir() const;
  std::string path_get_appWriteableDownloadDir() const;
  std::string path_get_appWriteableMoviesDir() const;
  std::string path_get_appWriteableMusicDir() const;
  std::string path_get_appWriteablePicturesDir() const;
  std::string path_get_appPluginDirPath() const;
  std::string path_get_appUIDirPath() const;
  std::string getAppDataHomeDir() const;
  // Logs "[SandboxEnabled] = %d" with every answer, except inside a
  // OneSandboxLine scope, where only the first answer is logged.
  bool getSandboxEnable() const;
  // One "[SandboxEnabled]" line for a whole query of several folders
  // (expanding placeholders, a page's first folder round). Scopes nest; only
  // the outermost counts. Per thread.
  class OneSandboxLine {
   public:
    OneSandboxLine();
    ~OneSandboxLine();
    OneSandboxLine(const OneSandboxLine&) = delete;
    OneSandboxLine& operator=(const OneSandboxLine&) = delete;
    // Whether the line is to be written now.
    static bool wanted();
  };
  // Runs every folder query that exports a variable (all 28), so that a
  // child started now inherits them all.
  void exportEnvironment() const;
  // The folder that holds the users' home folders (the "/Users" root).
  static std::string usersRoot();

  std::string update_env_string(const std::string& text) const;
  static std::string update_spec_fix_string(const std::string& text);
  static std::string webUrlToMacUrl(const std::string& text);

  // ---- file routines (UtilsFiles.cpp) -------------------------------------
  // A path as the system's file interfaces get it. They read a text up to
  // its first U+0000, so a path holding one would name another file (a
  // prefix of it): such a path names no file. It gets the empty text, which
  // every interface reports as missing (ENOENT), so every check answers
  // false and every operation fails as it does for a missing file. Every
  // routine here hands paths to the system through this; code that reaches
  // files another way (GIO) asks namesNoFile first.
  static const char* fsPath(const std::string& path);
  static bool namesNoFile(const std::string& path);
  static bool checkPathisExists(const std::string& path);
  static bool checkPathIsFile(const std::string& path);
  static bool checkPathIsDir(const std::string& path);
  static bool checkPathIsWritable(const std::string& path);
  static bool checkPathIsReadable(const std::string& path);
  static bool checkPathIsExecutable(const std::string& path);
  static bool checkPathIsDeletable(const std::string& path);
  // `mode` stands for the attribute dictionary (POSIX permissions).
  static bool createDirWithPathEx(const std::string& path, std::optional<unsigned> mode);
  static bool createDirWithPath(const std::string& path);
  static bool createEmptyFileWithPath(const std::string& path);
  static bool removeFile(const std::string& path);
  static bool removeDir(const std::string& path);
  static bool fileIsZeroSize(const std::string& path);
  static uint64_t sizeAtPath(const std::string& path, bool diskMode);
  static uint64_t pathSizeAtPath(const std::string& path, bool diskMode);
  static uint64_t fileSizeAtPath(const std::string& path);
  static uint64_t diskSizeAtPath(const std::string& path);
  static std::string getFileName(const std::string& path);
  static std::string getFileNameWithoutExt(const std::string& path);
  static std::string getFileExt(const std::string& path);
  static std::string getPathParentPath(const std::string& path);
  std::string getATempFilePath(const std::string& name) const;
  static std::string getFilePropertyJSONString(const std::string& path);
  std::string getFileOrDirIconPath(const std::string& path) const;
  // The "%ld%d" stamp: seconds since 1970 followed by a signed 32-bit random.
  static std::string uniqueStamp();

  // Renders the icon of a file-system item as PNG at the given path; set by
  // the UI layer, which can reach an icon theme. Answers success.
  using IconWriter = std::function<bool(const std::string& item, const std::string& png)>;
  static void setIconWriter(IconWriter writer);

  // ---- application facts (UtilsAppFacts.cpp) ------------------------------
  std::string getAppName() const;
  std::string getAppVersion() const;
  std::string getAppBuildVersion() const;
  std::string getAppIdentifier() const;
  static std::string md5Digest(const std::string& text);
  UserDefaults& userDefaults() const;
  std::vector<std::string> appleLanguages() const;
  std::string curAppleLanguage() const;
  std::string curUserLanguage() const;
  bool setUserLanguage(const std::string& language) const;
  std::string curAppleSupportLanguagesJSONString() const;

  static std::string convertDictionaryToJSON(const nlohmann::json& dictionary);

  // ---- helper services (UtilsHelpers.cpp) ---------------------------------
  // Keys name connections to helper services (plugins/HelperConnection.h).
  // Every operation may be called from any thread. A lost connection leaves
  // the registry by itself and posts "ZVR_NOTICE_XPC_ON_INTERRUPTION" or
  // "ZVR_NOTICE_XPC_ON_INVALIDATION" once per key, the key as object.
  using XPCReply = std::function<void(const nlohmann::json& reply)>;
  static std::string getDefaultXPCKey();
  static std::string getDefaultXPCBundleID();
  // The default helper under the default key; the shared instance does
  // this once when it is created. Never waits for the helper.
  bool registerDefaultXPCConnection();
  // NO when the key is taken or the name cannot name a service.
  bool registerXPCConnectionWithKey(const std::string& key, const std::string& bundleID);
  // Removes the key first, then invalidates: no notice for it.
  bool unRegisterXPCConnectionWithKey(const std::string& key);
  bool containsXPCConnection(const std::string& key) const;
  std::shared_ptr<HelperConnection> getXPCConnectionByKey(const std::string& key) const;
  std::shared_ptr<HelperConnection> getDefaultXPCConnection() const;
  std::vector<std::string> getAllXPCKeys() const;
  std::vector<std::shared_ptr<HelperConnection>> getAllXPCConnections() const;
  // Sends a copy of `messageDic` with "con_id" set to `key`; nothing when the
  // key is not registered. `reply` runs on the helper queue, only when the
  // helper answers.
  void sendMessageWithXPCKey(const std::string& key, const nlohmann::json& messageDic,
                             std::function<void(const nlohmann::json& reply)> reply);
  // As above, with `failure` for a message the connection could not carry;
  // answers whether the key was registered (and so the message sent).
  bool sendMessageWithXPCKey(const std::string& key, const nlohmann::json& messageDic, XPCReply reply,
                             std::function<void(const std::string& error)> failure);
  static void sendMessageWithXPCConnection(const std::shared_ptr<HelperConnection>& connection,
                                           const nlohmann::json& messageDic, XPCReply reply);
  static void sendMessageTextWithXPCConnection(const std::shared_ptr<HelperConnection>& connection,
                                               const std::string& message, XPCReply reply);
  void resumeXPCConnectionWithXPCKey(const std::string& key);
  void suspendXPCConnectionWithXPCKey(const std::string& key);
  void invalidateXPCConnectionWithXPCKey(const std::string& key);

 private:
  void logProcessInfo() const;
  std::string setEnv(const char* name, const std::string& value) const;
  std::string appExText(const char* key) const;
  std::optional<std::string> infoURL(const char* key) const;
  std::string localDir(const char* sub) const;
  std::string appWriteableDir(const char* sub) const;

  Bundle bundle_;
  std::shared_ptr<HelperMap> map_key2XPC;
  mutable std::mutex configMutex_;
  mutable std::optional<nlohmann::json> lastGoodConfig_;
  mutable std::string lastConfigFault_;  // the fault last logged
};

}  // namespace corvane
