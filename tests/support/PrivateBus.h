#pragma once
// A D-Bus session bus of a test's own: a real dbus-daemon whose service
// folder is the given one, so that helpers are started by activation just
// as on a desktop. Variables in `env` reach the daemon and so every helper
// it starts.
#include <sys/types.h>

#include <map>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace corvane::test {

// A client connection to the bus at `address`; throws std::runtime_error
// with the bus's error text.
GDBusConnection* connectToBus(const std::string& address);

class PrivateBus {
 public:
  // Throws std::runtime_error when the daemon does not come up.
  PrivateBus(const std::string& serviceDir, const std::map<std::string, std::string>& env = {});
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }
  // The process that owns `name` now, 0 when nobody does.
  pid_t ownerPid(const std::string& name) const;
  // The dbus-daemon itself, for tests that take the bus away.
  pid_t daemonPid() const { return daemon_; }

 private:
  std::string dir_;
  std::string address_;
  pid_t daemon_ = -1;
  GDBusConnection* probe_ = nullptr;
};

// A system bus of a test's own, at an address in `folder` that stays the
// same when it is stopped and started again (as the system's comes back).
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
  GDBusConnection* login1_ = nullptr;  // owns the logind name
};

}  // namespace corvane::test
