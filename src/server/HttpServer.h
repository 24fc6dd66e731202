#pragma once
// The local web server: libsoup running on a thread of its own with its own
// main context, so that no request is ever handled on the main thread.
//
// Configure with the setters, then start(); the setters have no effect on a
// running server. All methods are for the owning thread (the main thread in
// the application); requests are served on the server's thread.
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::server {

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();  // stops the server
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The local-network service type announced when listening on every
  // interface ("_http._tcp." unless set).
  void setType(std::string type);
  // 0 (the default) lets the system choose a free port.
  void setPort(uint16_t port);
  // Used as given; it need not exist yet (files appear as it fills).
  void setDocumentRoot(std::string root);
  // false (the default): 127.0.0.1 and ::1 only. true: every interface,
  // and the server is announced on the local network.
  void setListenAllInterfaces(bool all);

  // Starts listening and serving. Answers false with errorText() set when
  // the server cannot listen (for example, the port is taken).
  bool start(std::string* error = nullptr);
  // Closes the listeners and every connection and ends the thread.
  void stop();

  bool isRunning() const;
  // The listening port while running (also after a stop: the last one);
  // before the first start, the configured port.
  uint16_t port() const;
  const std::string& type() const;
  const std::string& documentRoot() const;
  bool listenAllInterfaces() const;
  const std::string& errorText() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::server
