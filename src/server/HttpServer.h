#pragma once
// The local web server: libmicrohttpd serving the document root on a
// thread of its own, fed by a listening thread of ours, so that no request
// is ever handled on the main thread.
//
// Configure with the setters, then start(); the setters have no effect on a
// running server. All methods are for the owning thread (the main thread in
// the application); requests are served on the server's threads.
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::server {

class HttpServer {
 public:
  // A connection with nothing sent or received for this long is closed:
  // idle keep-alive connections and requests that stall half-sent alike.
  static constexpr unsigned kDefaultIdleTimeoutSeconds = 60;

  HttpServer();
  ~HttpServer();  // stops the server
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The local-network service type announced when listening on every
  // interface ("_http._tcp." unless set).
  void setType(std::string type);
  // 0 (the default) lets the system choose a free port.
  void setPort(uint16_t port);
  // Used as given; it need not exist yet (files appear as it fills), and a
  // symbolic link may be repointed while the server runs.
  void setDocumentRoot(std::string root);
  // false (the default): 127.0.0.1 and ::1 only. true: every interface,
  // and the server is announced on the local network.
  void setListenAllInterfaces(bool all);
  void setIdleTimeout(unsigned seconds);
  // The most connections served at once; further ones are closed at once.
  // The default leaves most of the process's descriptors to the rest of it.
  void setConnectionLimit(unsigned connections);

  // Starts listening and serving. Answers false with errorText() set when
  // the server cannot listen on both address families (for example, the
  // port is taken on one of them).
  bool start(std::string* error = nullptr);
  // Closes the listeners and every connection and ends the threads.
  void stop();

  bool isRunning() const;
  // The listening port while running (also after a stop: the last one);
  // before the first start, the configured port.
  uint16_t port() const;
  const std::string& type() const;
  const std::string& documentRoot() const;
  bool listenAllInterfaces() const;
  unsigned connectionLimit() const;
  const std::string& errorText() const;

  // True while a server of this process listens on `port` on the loopback
  // (both families): what a page loaded from "localhost" there reaches.
  static bool servesLoopbackPort(uint16_t port);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::server
