#include "Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace corvane::life {
namespace {

bool waitUntil(double seconds, const auto& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

// One line from a pipe a child writes to (its display number, its address);
// empty when the child ended first.
std::string readLineFrom(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  close(fd);
  return line;
}

void stopChild(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// The window-valued list property of the root window.
std::vector<unsigned long> rootWindowList(Display* dpy, const char* name) {
  std::vector<unsigned long> out;
  Atom atom = XInternAtom(dpy, name, False), type;
  int format = 0;
  unsigned long count = 0, rest = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), atom, 0, 4096, False, XA_WINDOW, &type, &format, &count,
                         &rest, &data) == Success && data) {
    auto* windows = reinterpret_cast<Window*>(data);
    out.assign(windows, windows + count);
  }
  if (data) XFree(data);
  return out;
}

}  // namespace

PrivateDisplay::PrivateDisplay(bool withWindowManager, const std::string& home) {
  int fds[2];
  if (pipe(fds) != 0) return;
  xvfb_ = fork();
  if (xvfb_ == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  const std::string number = readLineFrom(fds[0]);
  if (number.empty()) return;
  const std::string name = ":" + number;

  display_ = XOpenDisplay(name.c_str());
  if (!display_) return;
  if (withWindowManager) {
    windowManager_ = fork();
    if (windowManager_ == 0) {
      setenv("DISPLAY", name.c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
      _exit(127);
    }
    auto* dpy = static_cast<Display*>(display_);
    const bool managed = waitUntil(30, [&] {
      Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False), type;
      int format = 0;
      unsigned long count = 0, rest = 0;
      unsigned char* data = nullptr;
      XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                         &rest, &data);
      if (data) XFree(data);
      return count == 1;
    });
    if (!managed) return;
  }
  name_ = name;
}

PrivateDisplay::~PrivateDisplay() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
  stopChild(windowManager_);
  stopChild(xvfb_);
}

unsigned long PrivateDisplay::coverScreen() {
  auto* dpy = static_cast<Display*>(display_);
  const int screen = DefaultScreen(dpy);
  Window w = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, DisplayWidth(dpy, screen),
                                 DisplayHeight(dpy, screen), 0, BlackPixel(dpy, screen), WhitePixel(dpy, screen));
  XStoreName(dpy, w, "another application");
  XClassHint hint{const_cast<char*>("cover"), const_cast<char*>("Cover")};
  XSetClassHint(dpy, w, &hint);
  XMapRaised(dpy, w);
  XFlush(dpy);
  waitUntil(20, [&] {
    auto order = stacking();
    return !order.empty() && order.back() == w;
  });
  return w;
}

std::vector<unsigned long> PrivateDisplay::stacking() const {
  auto* dpy = static_cast<Display*>(display_);
  XSync(dpy, False);
  return rootWindowList(dpy, "_NET_CLIENT_LIST_STACKING");
}

bool PrivateDisplay::waitAbove(unsigned long window, unsigned long other, double seconds) const {
  return waitUntil(seconds, [&] {
    auto order = stacking();
    long a = -1, b = -1;
    for (size_t i = 0; i < order.size(); ++i) {
      if (order[i] == window) a = static_cast<long>(i);
      if (order[i] == other) b = static_cast<long>(i);
    }
    return a >= 0 && b >= 0 && a > b;
  });
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
    g_object_unref(static_cast<GDBusConnection*>(login1_));
    login1_ = nullptr;
  }
  stopChild(daemon_);
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
  auto* c = static_cast<GDBusConnection*>(login1_);
  const bool ok = g_dbus_connection_emit_signal(c, nullptr, "/org/freedesktop/login1",
                                                "org.freedesktop.login1.Manager", "PrepareForSleep",
                                                g_variant_new("(b)", sleeping), nullptr);
  g_dbus_connection_flush_sync(c, nullptr, nullptr);
  return ok;
}

}  // namespace corvane::life
