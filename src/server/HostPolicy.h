#pragma once
// Which Host header values the server answers. A page on another name that
// its owner makes resolve to 127.0.0.1 (DNS rebinding) would otherwise read
// the whole document root with the browser's blessing; the name it sends
// in Host gives it away.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::server {

// "name[:port]" or "[v6-address][:port]" split up; the port is 80 when the
// value names none. nullopt for values that are not a host at all.
struct HostValue {
  std::string host;  // lower case; IPv6 addresses keep their brackets
  uint16_t port = 80;
};
std::optional<HostValue> parseHostHeader(std::string_view value);

class HostPolicy {
 public:
  // `port`: the one the server listens on. `allInterfaces`: the machine's
  // own names and addresses are ours too (other machines reach us by them).
  HostPolicy(uint16_t port, bool allInterfaces);

  // Loopback names ("localhost", 127.0.0.1, [::1]) with our port, plus the
  // machine's names and addresses when listening on every interface.
  bool allows(std::string_view hostHeader) const;

 private:
  bool isLoopback(const std::string& host) const;
  bool isThisMachine(const std::string& host) const;

  uint16_t port_;
  bool all_;
  // The machine's names and addresses, read again (at most once a second)
  // when a value is not among them: addresses come and go with networks.
  mutable std::mutex mutex_;
  mutable std::vector<std::string> machine_;
  mutable std::chrono::steady_clock::time_point readAt_{};
};

}  // namespace corvane::server
