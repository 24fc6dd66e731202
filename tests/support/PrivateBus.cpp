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

// One line from a pipe a child writes to (its address); empty when the
// child ended first.
std::string readLineFrom(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  close(fd);
  return line;
}

}  // namespace


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
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
  daemon_ = fork();
  if (daemon_ == 0) {
    close(pipeFds[0]);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    const std::string printAddress = "--print-address=" + std::to_string(pipeFds[1]);
    const std::string configArg = "--config-file=" + config;
    execlp("dbus-daemon", "dbus-daemon", "--nofork", configArg.c_str(), printAddress.c_str(), nullptr);
    _exit(127);
  }
  close(pipeFds[1]);
  const std::string line = readLineFrom(pipeFds[0]);
  if (line.empty()) throw std::runtime_error("dbus-daemon did not start");
  address_ = line;
  GError* error = nullptr;
  probe_ = g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!probe_) {
    std::string why = error->message;
    g_error_free(error);
    throw std::runtime_error("cannot reach the private bus: " + why);
  }
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
  std::ofstream(folder_ + "/system.conf") << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>)" << address_ << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)";
}

PrivateSystemBus::~PrivateSystemBus() { stop(); }

bool PrivateSystemBus::start() {
  int fds[2];
  if (pipe(fds) != 0) return false;
  unlink((folder_ + "/system_bus_socket").c_str());
  daemon_ = fork();
  if (daemon_ == 0) {
    close(fds[0]);
    // Its complaints about resource limits it may not raise are not ours.
    if (int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, 2);
    const std::string config = "--config-file=" + folder_ + "/system.conf";
    const std::string print = "--print-address=" + std::to_string(fds[1]);
    execlp("dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", print.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  return !readLineFrom(fds[0]).empty();  // printed once it listens
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
