#pragma once
// The server's listening sockets: one IPv4 and one IPv6 listener on the
// same port. Both are required: a page loaded from "localhost" may reach
// either family, so a listener another program holds on the other family
// would hand it the page and the bridge.
#include "server/DocumentRoot.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::server {

struct Listeners {
  FileHandle v4;
  FileHandle v6;  // closed only on machines without IPv6
  uint16_t port = 0;
};

// Opens both listeners: on 127.0.0.1 and ::1, or on every interface when
// `all` is true. With `port` 0 the system chooses a port whose IPv6 twin is
// free as well. Answers nullopt with `error` set when the port is taken on
// either family or the sockets cannot be made.
std::optional<Listeners> openListeners(bool all, uint16_t port, std::string* error);

}  // namespace corvane::server
