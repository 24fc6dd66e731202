#include "app/Utils.h"

#include "bridge/OptionalBuses.h"

#include "app/Log.h"
#include "plugins/HelperConnection.h"

#include <gio/gio.h>
#include <glib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace corvane {
namespace {

std::string osVersion() {
  // e.g. "Debian GNU/Linux 12 (bookworm) (Linux 6.1.0-18-amd64)"
  std::string pretty;
  std::ifstream in("/etc/os-release");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("PRETTY_NAME=", 0) == 0) {
      pretty = line.substr(12);
      if (pretty.size() >= 2 && pretty.front() == '"') pretty = pretty.substr(1, pretty.size() - 2);
    }
  }
  utsname u{};
  std::string kernel;
  if (uname(&u) == 0) kernel = std::string(u.sysname) + " " + u.release;
  if (pretty.empty()) return kernel;
  return kernel.empty() ? pretty : pretty + " (" + kernel + ")";
}

}  // namespace

namespace {

// GIO's shared session-bus connection, made on the calling thread and held
// for the life of the process. Made on the helper queue instead, its
// address lookup and error texts would read the environment while the
// main thread exports folders with setenv, which glibc does not allow.
bool holdSessionBus() {
  static const bool held = [] {
    std::string why;
    // Losing the bus later ends nothing: the page keeps running, and what
    // needs the bus (notifications, the badge, helpers, the single-instance
    // hand-over) fails softly from then on.
    GDBusConnection* c = keepRunningWhenTheSessionBusGoes(
        [](const std::string& reason) {
          log().warn("the session bus went away ({}): notifications, the dock badge, helper services and the "
                     "single-instance hand-over are off until the application starts again",
                     reason);
        },
        &why);
    if (!c) log().info("no session bus, so no default helper connection: {}", why);
    return c != nullptr;
  }();
  return held;
}

}  // namespace

Utils& Utils::sharedInstance() {
  // Function-local statics are initialised under the runtime's lock, so two
  // threads racing here still create exactly one instance. The default
  // helper is registered with it; that only posts work to the helper queue.
  // The application registers on the session bus moments later anyway, so
  // taking the connection first costs the start nothing.
  static Utils& instance = []() -> Utils& {
    static Utils shared(Bundle::main());
    if (holdSessionBus()) shared.registerDefaultXPCConnection();
    return shared;
  }();
  return instance;
}

Utils::Utils(Bundle bundle) : bundle_(std::move(bundle)), map_key2XPC(std::make_shared<HelperMap>()) {
  webUIDir = getAppBundle_SpecResourcePublicDirectory();
  logProcessInfo();
}

void Utils::logProcessInfo() const {
  gchar* guid = g_uuid_string_random();
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  const unsigned long long ram =
      pages > 0 && pageSize > 0 ? static_cast<unsigned long long>(pages) * pageSize : 0ULL;
  const char* prgname = g_get_prgname();
  auto& l = log();
  l.info("NSProcessInfo:");
  l.info("\tProcess Name: {}", prgname ? prgname : "corvane");
  l.info("\tPID: {}", static_cast<int>(getpid()));
  l.info("\tProcess GUID: {}", guid);
  l.info("\tOS Version: {}", osVersion());
  l.info("\tTotal Processors: {}", sysconf(_SC_NPROCESSORS_CONF));
  l.info("\tActive Processors: {}", sysconf(_SC_NPROCESSORS_ONLN));
  // The historic format "%llull" prints the number followed by "ll".
  l.info("\tTotal RAM: {}ll bytes", ram);
  g_free(guid);
}

std::string Utils::setEnv(const char* name, const std::string& value) const {
  // Every folder query exports its folder, many times a run. Other threads
  // (GLib's, WebKit's, GStreamer's) read the environment at any time, and
  // setenv may move it under them: the environment is written only when the
  // value changes, which after the first export is never.
  const char* current = std::getenv(name);
  if (!current || value != current) setenv(name, value.c_str(), 1);
  return value;
}

std::string Utils::convertDictionaryToJSON(const nlohmann::json& dictionary) {
  // Invalid UTF-8 in a text must not throw across the bridge: replace it.
  return dictionary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvane
