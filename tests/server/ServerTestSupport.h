#pragma once
// Test helpers: temporary folders and a raw HTTP/1.1 client over loopback
// sockets, so that tests can send exactly the bytes they mean (malformed and
// traversal paths included) and see every byte of the answer.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace corvane::test {

namespace fs = std::filesystem;

struct Reply {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool has(const std::string& name) const { return headers.count(name) > 0; }
  // "<status> <body>", to compare both at once.
  std::string shown() const { return std::to_string(status) + " " + body; }
};

// A TCP socket to `address` (numeric IPv4 or IPv6) at `port`, bound
// (`listen`: listening, IPv6 only) or connected; -1 when that failed.
inline int loopbackSocket(uint16_t port, const char* address, bool listen = false) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  if (::getaddrinfo(address, std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (listen && found->ai_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  const bool ok = listen ? ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 16) == 0
                         : ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
  ::freeaddrinfo(found);
  if (!ok && fd >= 0) ::close(fd);
  return ok ? fd : -1;
}

inline int connectTo(uint16_t port, const char* address = "127.0.0.1") { return loopbackSocket(port, address); }

// A listener on the loopback of `family` (AF_INET or AF_INET6, the latter
// IPv6 only) at `port`, as another local program would hold it; -1 when
// the port is taken there or the family is missing.
inline int holdLoopback(int family, uint16_t port) {
  return loopbackSocket(port, family == AF_INET6 ? "::1" : "127.0.0.1", true);
}

inline bool sendAll(int fd, const std::string& data) {
  for (size_t sent = 0; sent < data.size();) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads one answer from `fd` until the connection closes (requests are sent
// with "Connection: close"). A safety bound of 60 s keeps a broken server
// from hanging the suite; it is not a speed check.
inline Reply readReply(int fd) {
  std::string data;
  char buffer[65536];
  for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 60000) > 0;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  Reply reply;
  const size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos) return reply;
  reply.body = data.substr(end + 4);
  std::istringstream head(data.substr(0, end));
  std::string line;
  if (std::getline(head, line) && line.size() >= 12) reply.status = std::atoi(line.c_str() + 9);
  while (std::getline(head, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (line.back() == '\r') line.pop_back();
    const size_t value = line.find_first_not_of(' ', colon + 1);
    reply.headers[name] = value == std::string::npos ? "" : line.substr(value);
  }
  return reply;
}

// Sends `raw` exactly as given and reads the answer.
inline Reply rawRequest(uint16_t port, const std::string& raw, const char* address = "127.0.0.1") {
  const int fd = connectTo(port, address);
  if (fd < 0) return {};
  Reply reply;
  if (sendAll(fd, raw)) reply = readReply(fd);
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
  return rawRequest(port, raw + "\r\n", address);
}

inline Reply get(uint16_t port, const std::string& target,
                 const std::map<std::string, std::string>& headers = {}) {
  return request(port, "GET", target, headers);
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

// This process's open descriptors.
inline size_t descriptorsOf() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// This process's resident memory, in KiB.
inline long residentKiBOf() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace corvane::test

#include "app/Log.h"

#include <spdlog/sinks/base_sink.h>

#include <algorithm>
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
