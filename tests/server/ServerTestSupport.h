#pragma once
// Test helpers: temporary folders and a raw HTTP/1.1 client over loopback
// sockets, so that tests can send exactly the bytes they mean (malformed and
// traversal paths included) and see every byte of the answer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

namespace corvane::test {

namespace fs = std::filesystem;

struct Reply {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool complete = false;  // the connection delivered everything announced

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool has(const std::string& name) const { return headers.count(name) > 0; }
};

// A connected TCP socket to `address` (numeric IPv4 or IPv6), or -1.
inline int connectTo(uint16_t port, const char* address = "127.0.0.1") {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (::inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    return -1;
  }
  const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool sendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads one answer from `fd` until the connection closes (requests are sent
// with "Connection: close"). `headOnly`: the answer has no body. A safety
// bound of 60 s keeps a broken server from hanging the suite; it is not a
// speed check.
inline Reply readReply(int fd, bool headOnly = false) {
  std::string data;
  char buffer[65536];
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  Reply reply;
  const size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos) return reply;
  const std::string head = data.substr(0, end);
  reply.body = data.substr(end + 4);
  size_t lineEnd = head.find("\r\n");
  const std::string statusLine = head.substr(0, lineEnd);
  if (statusLine.size() >= 12) reply.status = std::atoi(statusLine.c_str() + 9);
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos
                                                                               : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t v = colon + 1;
    while (v < line.size() && line[v] == ' ') ++v;
    reply.headers[name] = line.substr(v);
  }
  const std::string length = reply.header("content-length");
  reply.complete = headOnly || length.empty() || std::stoull(length) == reply.body.size();
  return reply;
}

// Sends `raw` exactly as given and reads the answer.
inline Reply rawRequest(uint16_t port, const std::string& raw, bool headOnly = false,
                        const char* address = "127.0.0.1") {
  const int fd = connectTo(port, address);
  if (fd < 0) return {};
  Reply reply;
  if (sendAll(fd, raw)) reply = readReply(fd, headOnly);
  ::close(fd);
  return reply;
}

// The Host line a browser sends for the server's own address.
inline std::string hostLine(uint16_t port) {
  return "Host: localhost:" + std::to_string(port) + "\r\n";
}

inline Reply request(uint16_t port, const std::string& method, const std::string& target,
                     const std::map<std::string, std::string>& headers = {},
                     const char* address = "127.0.0.1") {
  std::string raw = method + " " + target + " HTTP/1.1\r\n" + hostLine(port) + "Connection: close\r\n";
  for (const auto& [k, v] : headers) raw += k + ": " + v + "\r\n";
  raw += "\r\n";
  return rawRequest(port, raw, method == "HEAD", address);
}

inline Reply get(uint16_t port, const std::string& target,
                 const std::map<std::string, std::string>& headers = {}) {
  return request(port, "GET", target, headers);
}

// A listener on the loopback of `family` (AF_INET or AF_INET6, the latter
// IPv6 only) at `port`, as another local program would hold it; -1 when
// the port is taken there or the family is missing.
inline int holdLoopback(int family, uint16_t port) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *a;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A loopback port nobody held a moment ago, on either family (0 when none
// was found): for tests that need a port before anything listens on it.
inline uint16_t freeLoopbackPort() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int v4 = holdLoopback(AF_INET, 0);
    if (v4 < 0) return 0;
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(v4, reinterpret_cast<sockaddr*>(&a), &length);
    const uint16_t port = ntohs(a.sin_port);
    const int v6 = holdLoopback(AF_INET6, port);
    ::close(v4);
    if (v6 >= 0) ::close(v6);
    if (v6 >= 0 || errno != EADDRINUSE) return port;
  }
  return 0;
}

// Waits (generously) until `done` holds: tests wait on conditions, never
// on the clock.
template <typename Condition>
bool eventually(Condition done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Open descriptors of a process (this one by default).
inline size_t descriptorsOf(pid_t pid = ::getpid()) {
  size_t n = 0;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
       !ec && it != end; it.increment(ec))
    ++n;
  return n;
}

// Resident memory of a process (this one by default), in KiB.
inline long residentKiBOf(pid_t pid = ::getpid()) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace corvane::test

#include "app/Log.h"

#include <spdlog/sinks/base_sink.h>

#include <memory>
#include <mutex>
#include <vector>

namespace corvane::test {

// Collects what the shared logger writes while it lives. Attach it while no
// server thread is running: the logger's sink list itself is not locked.
class LogCapture {
 public:
  LogCapture() : sink_(std::make_shared<Sink>()) { corvane::log().sinks().push_back(sink_); }
  ~LogCapture() {
    auto& sinks = corvane::log().sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(sink_->linesMutex);
    return sink_->lines;
  }
  bool contains(const std::string& text) const {
    for (const auto& line : lines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  struct Sink : spdlog::sinks::base_sink<std::mutex> {
    mutable std::mutex linesMutex;
    std::vector<std::string> lines;
    void sink_it_(const spdlog::details::log_msg& msg) override {
      std::lock_guard<std::mutex> lock(linesMutex);
      lines.emplace_back(msg.payload.data(), msg.payload.size());
    }
    void flush_() override {}
  };
  std::shared_ptr<Sink> sink_;
};

}  // namespace corvane::test
