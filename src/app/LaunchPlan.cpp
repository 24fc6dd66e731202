#include "app/LaunchPlan.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace corvane {

namespace {

const nlohmann::json* member(const nlohmann::json& dic, const char* key) {
  if (!dic.is_object()) return nullptr;
  auto it = dic.find(key);
  if (it == dic.end() || it->is_null()) return nullptr;
  return &*it;
}

bool readBool(const nlohmann::json& dic, const char* key, bool fallback) {
  const auto* v = member(dic, key);
  if (!v) return fallback;
  if (!v->is_boolean() && !v->is_number() && !v->is_string()) {
    throw LaunchConfigError(std::string("\"") + key + "\" is not a boolean");
  }
  return jsonBoolValue(*v, fallback);
}

std::optional<std::string> readText(const nlohmann::json& dic, const char* key) {
  const auto* v = member(dic, key);
  if (!v) return std::nullopt;
  if (!v->is_string()) throw LaunchConfigError(std::string("\"") + key + "\" is not text");
  return v->get<std::string>();
}

uint64_t readUnsigned(const nlohmann::json& dic, const char* key) {
  const auto* v = member(dic, key);
  if (!v) return 0;
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_number_unsigned()) return v->get<uint64_t>();
  // Negative numbers wrap as an unsigned reading of them does.
  if (v->is_number_integer()) return static_cast<uint64_t>(v->get<int64_t>());
  if (v->is_number_float()) {
    const double d = v->get<double>();
    if (!std::isfinite(d)) return 0;
    return d < 0 ? static_cast<uint64_t>(static_cast<int64_t>(d)) : static_cast<uint64_t>(d);
  }
  throw LaunchConfigError(std::string("\"") + key + "\" is not a number");
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

LaunchSettings readLaunchSettings(const std::optional<nlohmann::json>& appExInfo,
                                  const Utils& utils) {
  LaunchSettings s;
  if (!appExInfo) return s;
  s.hasAppExInfo = true;
  const nlohmann::json& x = *appExInfo;
  if (member(x, "enableShouldTerminateAfterLastWindowClosed")) {
    s.enableShouldTerminateAfterLastWindowClosed =
        readBool(x, "enableShouldTerminateAfterLastWindowClosed", false);
  }
  s.enableSpecPublic = readBool(x, "enableSpecPublic", false);
  if (auto u = readText(x, "userSpecPublic")) s.userSpecPublic = utils.update_env_string(*u);
  s.enableHttpServer = readBool(x, "enableHttpServer", false);
  s.onlyBuildInServer = readBool(x, "onlyBuildInServer", true);
  s.serverPort = readUnsigned(x, "serverPort");
  if (auto page = readText(x, "startPage")) s.startPage = utils.update_env_string(*page);
  s.serverListenAllInterfaces = readBool(x, "serverListenAllInterfaces", false);
  s.windowTitleFromPage = readBool(x, "windowTitleFromPage", false);
  return s;
}

std::optional<std::string> resolveStartPageUri(const std::string& startPage, const std::string& resourceDir) {
  if (startPage.empty()) return std::nullopt;
  gchar* base = g_filename_to_uri((resourceDir + "/").c_str(), nullptr, nullptr);
  if (!base) return std::nullopt;
  gchar* resolved = g_uri_resolve_relative(base, startPage.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  g_free(base);
  if (!resolved) {
    // Not even relative: take it as an absolute URL when it is one.
    if (g_uri_is_valid(startPage.c_str(), G_URI_FLAGS_NONE, nullptr)) return startPage;
    return std::nullopt;
  }
  std::string out = resolved;
  g_free(resolved);
  if (g_str_has_prefix(out.c_str(), "file:")) return out;
  if (g_uri_is_valid(startPage.c_str(), G_URI_FLAGS_NONE, nullptr)) return startPage;
  return std::nullopt;
}

std::string bundlePublicFolder(const Utils& utils) {
  return utils.bundle().resourcePath() + "/public";
}

std::string serverDocumentRoot(const LaunchSettings& settings, const std::string& bundlePublic) {
  return settings.usesUserFolder() ? settings.userSpecPublic : bundlePublic;
}

std::string formatWithPort(const std::string& format, uint16_t port) {
  std::string out;
  bool filled = false;
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out.push_back('%');
      i += 2;
      continue;
    }
    // %[flags][width][length]conversion
    size_t j = i + 1;
    std::string flags;
    while (j < format.size() && std::strchr("-+ #0", format[j])) flags.push_back(format[j++]);
    std::string width;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) {
      width.push_back(format[j++]);
    }
    while (j < format.size() && std::strchr("hlqLzjt", format[j])) ++j;
    if (j >= format.size() || filled || !std::strchr("diuxXo@", format[j])) {
      // Nothing to give it: keep the text as written.
      const size_t end = j < format.size() ? j + 1 : j;
      out.append(format, i, end - i);
      i = end;
      continue;
    }
    char conversion = format[j];
    if (conversion == '@' || conversion == 'i') conversion = 'd';
    if (conversion == '@') flags.clear();
    const std::string conversionFormat = "%" + flags + width + "ll" + conversion;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, conversionFormat.c_str(), static_cast<unsigned long long>(port));
    out.append(buffer);
    filled = true;
    i = j + 1;
  }
  return out;
}

std::string startPageString(const LaunchSettings& settings, std::optional<uint16_t> portModePort,
                            bool (*isFolder)(const std::string&),
                            bool (*isFile)(const std::string&)) {
  if (!isFolder) isFolder = &Utils::checkPathIsDir;
  if (!isFile) isFile = &Utils::checkPathIsFile;
  std::string s = settings.startPage ? *settings.startPage : "public/index.html";
  if (portModePort && settings.startPage) s = formatWithPort(*settings.startPage, *portModePort);
  if (settings.usesUserFolder()) {
    const std::string& u = settings.userSpecPublic;
    if (isFolder(u)) {
      s = u + "/" + s;
    } else if (isFile(u)) {
      s = u;
    } else if (startsWith(u, "http://") || startsWith(u, "file://") ||
               startsWith(u, "https://")) {
      s = u;
    }
  }
  return s;
}

uint16_t stableFirstPort(const std::string& identifier) {
  // FNV-1a: stable across runs, builds and machines.
  uint32_t hash = 2166136261u;
  for (unsigned char c : identifier) {
    hash ^= c;
    hash *= 16777619u;
  }
  // 61000-65535: above Linux's default range for outgoing connections.
  constexpr uint32_t kFirst = 61000, kCount = 65536 - kFirst;
  return static_cast<uint16_t>(kFirst + hash % kCount);
}

std::vector<uint16_t> serverPortCandidates(uint16_t lastPort, const std::string& identifier) {
  constexpr uint16_t kFirst = 61000;
  constexpr int kTries = 8;
  std::vector<uint16_t> out;
  if (lastPort != 0) out.push_back(lastPort);
  uint16_t port = stableFirstPort(identifier);
  for (int i = 0; i < kTries; ++i) {
    if (port != lastPort) out.push_back(port);
    port = port == 65535 ? kFirst : static_cast<uint16_t>(port + 1);
  }
  return out;
}

namespace {

// Starts `server` on the first free port of the candidates (the system's
// choice after them). Answers whether it started; `error` holds the last
// failure.
bool startOnFreePort(server::HttpServer& server, const std::vector<uint16_t>& candidates,
                     const ServerStarter& start, std::string* error) {
  for (uint16_t port : candidates) {
    server.setPort(port);
    if (start(server, error)) return true;
    log().debug("HTTP server: port {} unavailable: {}", port, *error);
  }
  server.setPort(0);
  return start(server, error);
}

// A restart while the instance before it still waits to end: that one
// holds the port, and WebKit's processes still hold what its page stored
// (a page loaded now would see older data). Waiting for it keeps the
// origin and the data; the wait is bounded, and taken only when an ending
// instance of this application left its mark and still runs.
void waitForEndingInstance(UserDefaults& defaults, std::vector<LaunchLogLine>& out) {
  UserDefaults stored(defaults.filePath());  // the file as the ending instance left it
  const int64_t pid = stored.integerForKey(kEndingServerPidKey);
  if (pid <= 0 || pid > INT32_MAX || pid == ::getpid()) return;
  // The same program under that id: a mark left by an instance that was
  // killed in its wait may name a process id the system gave away since.
  auto programOf = [](const std::string& proc) {
    gchar* text = nullptr;
    std::string out;
    if (g_file_get_contents((proc + "/comm").c_str(), &text, nullptr, nullptr)) out = text;
    g_free(text);
    return out;
  };
  const std::string self = programOf("/proc/self");
  const std::string proc = "/proc/" + std::to_string(pid);
  auto alive = [&] { return ::kill(static_cast<pid_t>(pid), 0) == 0 && programOf(proc) == self; };
  if (alive()) {
    const std::string text = "waiting for the ending instance (pid " + std::to_string(pid) + ") to release the server port";
    log().info("{}", text);
    out.push_back({spdlog::level::info, text});
    const gint64 deadline = g_get_monotonic_time() + kEndingServerWaitMs * G_TIME_SPAN_MILLISECOND;
    while (alive() && g_get_monotonic_time() < deadline) g_usleep(50 * 1000);
    if (alive()) log().warn("the ending instance (pid {}) still runs; starting beside it", pid);
  }
  defaults.removeObject(kEndingServerPidKey);
  defaults.synchronize();
}

}  // namespace

LaunchServerOutcome runLaunchServerStep(const LaunchSettings& settings, Utils& utils,
                                        const ServerStarter& starter, UserDefaults* defaults) {
  LaunchServerOutcome out;
  auto say = [&out](spdlog::level::level_enum level, std::string text) {
    log().log(level, "{}", text);
    out.log.push_back({level, std::move(text)});
  };
  std::optional<uint16_t> portModePort;

  if (settings.enableHttpServer) {
    auto server = std::make_unique<server::HttpServer>();
    server->setType("_http._tcp.");
    if (settings.port() != 0) server->setPort(settings.port());
    const std::string bundlePublic = bundlePublicFolder(utils);
    // Names the bundle's folder even when the user folder is served.
    say(spdlog::level::trace, "Setting document root: " + bundlePublic);
    server->setDocumentRoot(serverDocumentRoot(settings, bundlePublic));
    server->setListenAllInterfaces(settings.serverListenAllInterfaces);

    // Without an identifier there is no store of its own to keep ports in.
    std::string identifier = utils.getAppIdentifier();
    if (isAbsentText(identifier)) identifier.clear();
    if (!defaults && !identifier.empty()) defaults = &utils.userDefaults();
    if (defaults) waitForEndingInstance(*defaults, out.log);

    std::string error;
    const ServerStarter start =
        starter ? starter : [](server::HttpServer& s, std::string* e) { return s.start(e); };
    bool started = false;
    if (settings.port() != 0) {
      started = start(*server, &error);
    } else {
      // The port of the last start keeps the page's origin, and so its
      // local storage, from one start to the next.
      const int64_t stored = defaults ? defaults->integerForKey(kLastServerPortKey) : 0;
      const uint16_t lastPort = stored > 0 && stored <= 65535 ? static_cast<uint16_t>(stored) : 0;
      const std::string seed = identifier.empty() ? utils.bundle().bundlePath() : identifier;
      started = startOnFreePort(*server, serverPortCandidates(lastPort, seed), start, &error);
      if (started && lastPort != 0 && server->port() != lastPort) {
        say(spdlog::level::warn,
            "HTTP server port " + std::to_string(lastPort) + " is taken; serving on port " +
                std::to_string(server->port()) +
                ", a new origin for the page (what it stored under the old one stays there)");
      }
      if (started && defaults && server->port() != lastPort) {
        defaults->setObject(kLastServerPortKey, server->port());
        defaults->synchronize();
      }
    }
    if (started) {
      const uint16_t port = server->port();
      utils.http_server_port = port;
      out.port = port;
      say(spdlog::level::info, "启动HTTPSERVER成功!");
      if (settings.onlyBuildInServer) {
        say(spdlog::level::info, "[0x0001] 启动带有http://localhost:端口的服务器地址!");
        char url[64];
        std::snprintf(url, sizeof url, "http://localhost:%hu/index.html", port);
        say(spdlog::level::info, std::string("weburl = ") + url);
        out.serverCase = ServerCase::Serving;
        out.load = PageLoad::SpecURL;
        out.page = url;
        out.server = std::move(server);
        return out;
      }
      say(spdlog::level::info, "[0x0002] 使用外部的HttpServer, 引用启动网页地址不变");
      server->stop();
      out.serverCase = ServerCase::PortMode;
      out.server = std::move(server);
      portModePort = port;
    } else {
      if (error.empty()) error = server->errorText();
      const std::string message = "Error starting Web Server: " + error;
      out.alert = LaunchAlert{"Run Error", message, "Ok"};
      say(spdlog::level::err, message);
      out.serverCase = ServerCase::StartFailed;
    }
  }
  if (out.serverCase != ServerCase::PortMode) say(spdlog::level::info, "[0x0003] 不使用HttpServer");
  out.load = PageLoad::URL;
  out.page = startPageString(settings, portModePort);
  return out;
}

}  // namespace corvane
