#pragma once
// A listening TCP socket on a free port (all addresses), for as long as it
// lives. It keeps a port busy, and a client that connects gets no answer
// at all.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::test {

class ListeningSocket {
 public:
  ListeningSocket() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~ListeningSocket() { close(fd_); }
  ListeningSocket(const ListeningSocket&) = delete;
  ListeningSocket& operator=(const ListeningSocket&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace corvane::test
