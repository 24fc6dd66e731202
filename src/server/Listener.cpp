#include "server/Listener.h"

#include "app/Log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace corvane::server {

namespace {

// Attempts to find a system-chosen port whose IPv6 twin is also free.
constexpr int kPortAttempts = 32;

struct Bound {
  FileHandle fd;
  int error = 0;  // errno of the failed step
  uint16_t port = 0;
};

Bound bindListener(int family, bool all, uint16_t port) {
  Bound out;
  out.fd = FileHandle(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!out.fd) {
    out.error = errno;
    return out;
  }
  const int one = 1;
  // Reuse allows a restart while old connections linger in TIME_WAIT; it
  // never lets two listeners share a port (that would take SO_REUSEPORT,
  // which we never set).
  ::setsockopt(out.fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    // The IPv6 listener stays IPv6, so that it never collides with the IPv4 one.
    ::setsockopt(out.fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = all ? in6addr_any : in6addr_loopback;
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(all ? INADDR_ANY : INADDR_LOOPBACK);
    length = sizeof *a;
  }
  if (::bind(out.fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(out.fd.get(), SOMAXCONN) != 0) {
    out.error = errno;
    out.fd = FileHandle();
    return out;
  }
  length = sizeof storage;
  ::getsockname(out.fd.get(), reinterpret_cast<sockaddr*>(&storage), &length);
  out.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return out;
}

std::string describe(int family, bool all, uint16_t port, int error) {
  const char* address = family == AF_INET6 ? (all ? "[::]" : "[::1]") : (all ? "0.0.0.0" : "127.0.0.1");
  return std::string("cannot listen on ") + address + ":" + std::to_string(port) + ": " +
         std::strerror(error);
}

// The machine has no IPv6 (disabled, or no loopback address for it):
// nobody else can listen there either, so IPv4 alone is safe.
bool noIPv6(int error) { return error == EAFNOSUPPORT || error == EADDRNOTAVAIL; }

}  // namespace

std::optional<Listeners> openListeners(bool all, uint16_t port, std::string* error) {
  const int attempts = port == 0 ? kPortAttempts : 1;
  std::string last;
  for (int i = 0; i < attempts; ++i) {
    Bound v4 = bindListener(AF_INET, all, port);
    if (!v4.fd) {
      last = describe(AF_INET, all, port, v4.error);
      break;  // a system-chosen IPv4 port failing will not get better
    }
    Bound v6 = bindListener(AF_INET6, all, v4.port);
    if (v6.fd || noIPv6(v6.error)) {
      if (!v6.fd) log().debug("HTTP server without IPv6: {}", std::strerror(v6.error));
      Listeners out;
      out.v4 = std::move(v4.fd);
      out.v6 = std::move(v6.fd);
      out.port = v4.port;
      return out;
    }
    last = describe(AF_INET6, all, v4.port, v6.error);
  }
  if (error) *error = last;
  return std::nullopt;
}

}  // namespace corvane::server
