#pragma once
// The server part of the launch step, free of any window: reads the launch
// keys of "AppExInfo", starts (or tries) the local web server, and decides
// what the main window must load. The caller shows the alert, if any, and
// builds the window from the outcome.
#include "server/HttpServer.h"

#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {

class Utils;
class UserDefaults;

// A launch key of the wrong JSON type (for example "serverPort" written as
// text). The launch step treats it as it treats any exception: logged, the
// rest of the step skipped.
class LaunchConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the launch step reads from "AppExInfo" (step 3), with the defaults
// that apply when the dictionary or a key is missing.
struct LaunchSettings {
  bool hasAppExInfo = false;
  std::optional<bool> enableShouldTerminateAfterLastWindowClosed;
  bool enableSpecPublic = false;          // E
  std::string userSpecPublic;             // U, placeholders expanded
  bool enableHttpServer = false;          // H
  bool onlyBuildInServer = true;          // B
  uint64_t serverPort = 0;                // P as written
  std::optional<std::string> startPage;   // S0, placeholders expanded
  bool serverListenAllInterfaces = false;
  // Windows show their page's document.title instead of the application's
  // name ("windowTitleFromPage").
  bool windowTitleFromPage = false;

  // Only the low 16 bits of P count: 70000 is 4464, 65536 is 0 (any port).
  uint16_t port() const { return static_cast<uint16_t>(serverPort & 0xFFFFu); }
  bool usesUserFolder() const { return enableSpecPublic && !userSpecPublic.empty(); }
};

// Step 3. `appExInfo` is the "AppExInfo" value or nullopt; a value that is
// not an object reads as an object without keys. Throws LaunchConfigError.
LaunchSettings readLaunchSettings(const std::optional<nlohmann::json>& appExInfo,
                                  const Utils& utils);

// The bundle's "public" folder inside its resource folder.
std::string bundlePublicFolder(const Utils& utils);

// The server's document root: U when E is true and U is not empty (whether
// or not it exists), else the bundle's "public" folder.
std::string serverDocumentRoot(const LaunchSettings& settings, const std::string& bundlePublic);

// `format` with its first numeric conversion (%d, %u, %hu, %ld, %@, ...)
// filled with `port` and "%%" read as "%". Conversions the port cannot fill
// are left as written.
std::string formatWithPort(const std::string& format, uint16_t port);

// Step 6, the start page string. `portModePort` is the port in case 4b.
std::string startPageString(const LaunchSettings& settings,
                            std::optional<uint16_t> portModePort,
                            bool (*isFolder)(const std::string&) = nullptr,
                            bool (*isFile)(const std::string&) = nullptr);

// The address the window loads for a start page string: first read as a
// URL relative to the resource folder, used when that gives a file: URL;
// otherwise the string as an absolute URL, if it is one.
std::optional<std::string> resolveStartPageUri(const std::string& startPage, const std::string& resourceDir);

struct LaunchLogLine {
  spdlog::level::level_enum level;
  std::string text;
};

struct LaunchAlert {
  std::string title;    // "Run Error"
  std::string message;  // "Error starting Web Server: <error>"
  std::string button;   // "Ok"
};

enum class ServerCase {
  NotRequested,  // "enableHttpServer" false
  Serving,       // 4a: running, page from the server
  PortMode,      // 4b: started for its port, stopped again
  StartFailed,   // 4c: alert, then as without server
};

enum class PageLoad {
  SpecURL,  // `WindowController` `initWithSpecURL:`: the URL exactly as given
  URL,      // `initWithURL:`: resolved against the resource folder first
};

struct LaunchServerOutcome {
  ServerCase serverCase = ServerCase::NotRequested;
  // Running in 4a, stopped in 4b, none otherwise; the application keeps it
  // for the life of the process.
  std::unique_ptr<server::HttpServer> server;
  std::optional<uint16_t> port;  // the listening port in 4a and 4b
  PageLoad load = PageLoad::URL;
  std::string page;
  std::optional<LaunchAlert> alert;
  // Every line this step wrote to the log, in order, with its level.
  std::vector<LaunchLogLine> log;
};

// Starts a configured server; the default calls `server.start(error)`.
using ServerStarter = std::function<bool(server::HttpServer& server, std::string* error)>;

// The user-defaults key that keeps the port of the last start.
inline constexpr char kLastServerPortKey[] = "sys_httpServerPort";

// The user-defaults key where an instance that begins its termination wait
// with its server running leaves its process id: the port, and the page's
// stored data behind that origin, stay in its hands until it has ended.
inline constexpr char kEndingServerPidKey[] = "sys_httpServerEndingPid";
// How long a new start waits for such an instance to end (its wait is 5 s).
inline constexpr int kEndingServerWaitMs = 10000;

// The first port tried for an application without "serverPort": the same
// for every start of that bundle identifier, above the range the system
// hands out for outgoing connections (so a chance client never holds it).
uint16_t stableFirstPort(const std::string& identifier);

// The ports tried, in order, when "serverPort" leaves the choice to us: the
// last start's (0 when none), the stable first port and a few after it;
// 0 (the system's choice) comes after all of them. The page's origin, and
// with it its stored data, stays the same as long as one of them is free.
std::vector<uint16_t> serverPortCandidates(uint16_t lastPort, const std::string& identifier);

// Steps 4 to 6 without the window: starts the server when asked, stores the
// port in `utils.http_server_port`, writes the log lines (they are also in
// the outcome) and decides the page. Without "serverPort" the port is
// chosen as serverPortCandidates says, remembered in `defaults` (the
// application's user defaults when null) and a change is logged. Throws
// nothing of its own.
LaunchServerOutcome runLaunchServerStep(const LaunchSettings& settings, Utils& utils,
                                        const ServerStarter& starter = {},
                                        UserDefaults* defaults = nullptr);

}  // namespace corvane
