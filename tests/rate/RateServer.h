#pragma once
// The release server of the rate tests: libsoup's HTTP server on the
// loopback address (a port chosen by the system), on a thread and main
// context of its own, so that it answers while a test waits or runs its
// own loop. It answers every request with the current answer and keeps
// each request's path and query.
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::test {

class RateServer {
 public:
  RateServer();
  ~RateServer();
  RateServer(const RateServer&) = delete;
  RateServer& operator=(const RateServer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void answer(std::string body, unsigned status = 200);
  // "/path?query" of every request so far.
  std::vector<std::string> requests() const;

 private:
  struct Shared {
    mutable std::mutex mutex;
    std::string body = "{}";
    unsigned status = 200;
    std::vector<std::string> requests;
  };
  Shared shared_;
  void* context_ = nullptr;  // GMainContext
  void* loop_ = nullptr;     // GMainLoop
  int port_ = 0;
  std::thread thread_;
};

}  // namespace corvane::test
