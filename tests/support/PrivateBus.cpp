#include "support/PrivateBus.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace corvane::test {

namespace {

// Starts dbus-daemon on `config` and reads the address it prints once it
// listens (empty when it ended first).
pid_t startDaemon(const std::string& config, const std::map<std::string, std::string>& env, bool quiet,
                  std::string& address) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (int null = open("/dev/null", O_RDWR); null >= 0) {
      dup2(null, 0);
      if (quiet) dup2(null, 2);  // complaints about limits it may not raise are not ours
    }
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    const std::string configArg = "--config-file=" + config;
    const std::string print = "--print-address=" + std::to_string(fds[1]);
    execlp("dbus-daemon", "dbus-daemon", "--nofork", configArg.c_str(), print.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  address.clear();
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') address += c;
  close(fds[0]);
  return pid;
}

}  // namespace

GDBusConnection* connectToBus(const std::string& address) {
  GError* error = nullptr;
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!c) {
    const std::string why = error ? error->message : "no connection";
    g_clear_error(&error);
    throw std::runtime_error(why);
  }
  return c;
}

PrivateBus::PrivateBus(const std::string& serviceDir, const std::map<std::string, std::string>& env) {
  gchar* tmp = g_dir_make_tmp("corvane-bus-XXXXXX", nullptr);
  if (!tmp) throw std::runtime_error("no temporary folder for the bus");
  dir_ = tmp;
  g_free(tmp);
  const std::string config = dir_ + "/bus.conf";
  std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type><listen>unix:dir="
                        << dir_ << "</listen><auth>EXTERNAL</auth><servicedir>" << serviceDir
                        << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
                           "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                           "</busconfig>\n";
  daemon_ = startDaemon(config, env, false, address_);
  if (address_.empty()) throw std::runtime_error("dbus-daemon did not start");
  probe_ = connectToBus(address_);
}

PrivateBus::~PrivateBus() {
  if (probe_) g_object_unref(probe_);
  if (daemon_ > 0) {
    kill(daemon_, SIGTERM);
    waitpid(daemon_, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

pid_t PrivateBus::ownerPid(const std::string& name) const {
  GVariant* answer = g_dbus_connection_call_sync(probe_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                                 g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(u)"),
                                                 G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
  if (!answer) return 0;
  guint32 pid = 0;
  g_variant_get(answer, "(u)", &pid);
  g_variant_unref(answer);
  return static_cast<pid_t>(pid);
}

PrivateSystemBus::PrivateSystemBus(const std::string& folder)
    : folder_(folder), address_("unix:path=" + folder + "/system_bus_socket") {
  std::ofstream conf(folder_ + "/system.conf");
  conf << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
          "<busconfig><type>system</type><listen>"
       << address_ << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>";
  for (const char* type : {"method_call", "signal", "method_return", "error"})
    conf << "<allow send_type=\"" << type << "\"/><allow receive_type=\"" << type << "\"/>";
  conf << "</policy></busconfig>\n";
}

PrivateSystemBus::~PrivateSystemBus() { stop(); }

bool PrivateSystemBus::start() {
  unlink((folder_ + "/system_bus_socket").c_str());
  std::string printed;
  daemon_ = startDaemon(folder_ + "/system.conf", {}, true, printed);
  return !printed.empty();
}

void PrivateSystemBus::stop() {
  if (login1_) {
    g_object_unref(login1_);
    login1_ = nullptr;
  }
  if (daemon_ > 0) {
    kill(daemon_, SIGTERM);
    waitpid(daemon_, nullptr, 0);
    daemon_ = -1;
  }
}

bool PrivateSystemBus::announceSleep(bool sleeping) {
  if (!login1_) {
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!c) return false;
    g_dbus_connection_set_exit_on_close(c, FALSE);
    GVariant* r = g_dbus_connection_call_sync(c, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "RequestName",
                                              g_variant_new("(su)", "org.freedesktop.login1", 4u), nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!r) {
      g_object_unref(c);
      return false;
    }
    g_variant_unref(r);
    login1_ = c;
  }
  auto* c = login1_;
  const bool ok = g_dbus_connection_emit_signal(c, nullptr, "/org/freedesktop/login1",
                                                "org.freedesktop.login1.Manager", "PrepareForSleep",
                                                g_variant_new("(b)", sleeping), nullptr);
  g_dbus_connection_flush_sync(c, nullptr, nullptr);
  return ok;
}

}  // namespace corvane::test
