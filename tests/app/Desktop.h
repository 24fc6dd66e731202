#pragma once
// Pieces of a desktop a test starts for itself, so that nothing it does
// reaches the tests running beside it: a virtual display of its own
// (optionally with a real window manager, openbox), another client's window
// on it, and a system bus of its own.
#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane::life {

class PrivateDisplay {
 public:
  explicit PrivateDisplay(bool withWindowManager, const std::string& home);
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  // ":N", or empty when the display (or its window manager) did not start.
  const std::string& name() const { return name_; }

  // Maps a screen-sized window of another client (this test process) and
  // waits until the window manager has put it on top. Answers its id.
  unsigned long coverScreen();
  // The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING).
  std::vector<unsigned long> stacking() const;
  // True once `window` is above `other` in the stacking order (waits up to
  // `seconds`).
  bool waitAbove(unsigned long window, unsigned long other, double seconds) const;

 private:
  pid_t xvfb_ = -1;
  pid_t windowManager_ = -1;
  std::string name_;
  void* display_ = nullptr;  // this test's own connection, for its window
};

class PrivateSystemBus {
 public:
  explicit PrivateSystemBus(const std::string& folder);
  ~PrivateSystemBus();
  PrivateSystemBus(const PrivateSystemBus&) = delete;
  PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

  // "unix:path=<folder>/system_bus_socket": the same on every start.
  const std::string& address() const { return address_; }
  bool start();
  void stop();
  // Owns "org.freedesktop.login1" on the bus and sends PrepareForSleep(b).
  bool announceSleep(bool sleeping);

 private:
  std::string folder_, address_;
  pid_t daemon_ = -1;
  void* login1_ = nullptr;  // GDBusConnection that owns the logind name
};

}  // namespace corvane::life
