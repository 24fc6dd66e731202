#include "server/HttpServer.h"

#include "app/Log.h"
#include "server/HostPolicy.h"
#include "server/Listener.h"
#include "server/MicroHttpd.h"
#include "server/MyHTTPConnection.h"
#include "server/ServiceAnnouncer.h"
#include "server/TimerQueue.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace corvane::server {

namespace {

// Per connection: the request line and headers must fit in half of this
// (larger ones get 431); the rest buffers the traffic.
constexpr size_t kConnectionMemory = 64 * 1024;
// How long new connections wait while the process has no descriptor left.
constexpr int kExhaustedPauseMs = 100;

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::multiset<uint16_t>& servingPorts() {
  static std::multiset<uint16_t> ports;
  return ports;
}

unsigned defaultConnectionLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
  // An eighth of the descriptors, between 16 and 256: enough for a web
  // view's handful of connections, never most of what the shell has.
  return static_cast<unsigned>(std::clamp<rlim_t>(limit.rlim_cur / 8, 16, 256));
}

void logFromLibrary(void*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string line(text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  log().debug("HTTP server: {}", line);
}

// The library decodes request paths itself unless told otherwise; ours are
// decoded exactly once, by the connection class.
size_t keepEscaped(void*, MHD_Connection*, char* text) { return std::strlen(text); }

}  // namespace

struct HttpServer::Impl {
  std::string type = "_http._tcp.";
  uint16_t configuredPort = 0;
  std::string root;
  bool all = false;
  unsigned idleTimeout = kDefaultIdleTimeoutSeconds;
  unsigned connectionLimit = defaultConnectionLimit();

  std::string error;
  uint16_t port = 0;
  bool running = false;

  Listeners listeners;
  FileHandle wake;  // eventfd: wakes the listening thread
  std::atomic<bool> stopping{false};
  TimerQueue timers{[this] { signalWake(); }};
  std::optional<DocumentRoot> documentRoot;
  std::optional<HostPolicy> hosts;
  std::optional<MyHTTPConnection> connection;
  MHD_Daemon* daemon = nullptr;
  // Connections handed to the library and not yet closed. The cap is kept
  // here rather than by the library, whose own limit, when reached by a
  // connection handed over from another thread, stops it timing out the
  // connections it has.
  std::atomic<unsigned> open{0};
  std::thread listening;
  std::optional<ServiceAnnouncer> announcer;

  void signalWake() const {
    if (!wake) return;
    const uint64_t one = 1;
    (void)!::write(wake.get(), &one, sizeof one);
  }
  bool startDaemon();
  void listen();
  // Hands every pending connection of `fd` to the library. False when the
  // process is out of descriptors.
  bool acceptAll(int fd);
};

bool HttpServer::Impl::startDaemon() {
  documentRoot.emplace(root);
  hosts.emplace(port, all);
  connection.emplace(*documentRoot, *hosts, timers, stopping);
  MHD_AccessHandlerCallback handler = [](void* self, MHD_Connection* c, const char* url,
                                         const char* method, const char* version, const char*,
                                         size_t* uploadSize, void** state) {
    return static_cast<MyHTTPConnection*>(self)->handle(c, url, method, version, uploadSize, state);
  };
  MHD_RequestCompletedCallback done = [](void*, MHD_Connection*, void** state,
                                         MHD_RequestTerminationCode) {
    MyHTTPConnection::requestDone(*state);
    *state = nullptr;
  };
  MHD_NotifyConnectionCallback closed = [](void* self, MHD_Connection*, void**,
                                          MHD_ConnectionNotificationCode code) {
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) --static_cast<Impl*>(self)->open;
  };
  // Connections come from our own listening thread (MHD_add_connection),
  // which can wait out descriptor exhaustion instead of spinning on it.
  daemon = mhd().start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_NO_LISTEN_SOCKET |
          MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG,
      0, nullptr, nullptr, handler, &*connection,
      MHD_OPTION_EXTERNAL_LOGGER, logFromLibrary, nullptr,
      MHD_OPTION_CONNECTION_TIMEOUT, idleTimeout,
      // Never reached: ours is enforced before a connection is handed over.
      MHD_OPTION_CONNECTION_LIMIT, connectionLimit * 2 + 16,
      MHD_OPTION_NOTIFY_CONNECTION, closed, this,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_NOTIFY_COMPLETED, done, nullptr,
      MHD_OPTION_UNESCAPE_CALLBACK, keepEscaped, nullptr,
      MHD_OPTION_END);
  return daemon != nullptr;
}

bool HttpServer::Impl::acceptAll(int fd) {
  while (true) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int client = ::accept4(fd, reinterpret_cast<sockaddr*>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client >= 0) {
      if (open.load() >= connectionLimit) {
        log().debug("HTTP server: {} connections open; closing a new one", connectionLimit);
        ::close(client);
        continue;
      }
      ++open;
      // On failure the library has closed the socket already.
      if (mhd().add_connection(daemon, client, reinterpret_cast<sockaddr*>(&address), length) != MHD_YES) {
        --open;
      }
      continue;
    }
    switch (errno) {
      case EINTR:
      case ECONNABORTED:
        continue;
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        return false;
      default:
        return true;  // EAGAIN: nothing more waiting
    }
  }
}

void HttpServer::Impl::listen() {
  pthread_setname_np(pthread_self(), "HttpServer");
  bool exhausted = false;
  while (!stopping.load()) {
    pollfd fds[3] = {{wake.get(), POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    // While out of descriptors the listeners are left alone for a moment:
    // polling them would only report the same waiting connections again.
    if (!exhausted) {
      fds[1].fd = listeners.v4.get();
      fds[2].fd = listeners.v6 ? listeners.v6.get() : -1;
    }
    int timeout = timers.pollTimeout();
    if (exhausted && (timeout < 0 || timeout > kExhaustedPauseMs)) timeout = kExhaustedPauseMs;
    const int ready = ::poll(fds, 3, timeout);
    if (ready < 0 && errno != EINTR) {
      log().error("HTTP server: poll failed: {}", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      (void)!::read(wake.get(), &count, sizeof count);
    }
    timers.runDue();
    bool out = false;
    for (int fd : {listeners.v4.get(), listeners.v6 ? listeners.v6.get() : -1}) {
      if (fd >= 0 && (exhausted || (fds[1].fd == fd && fds[1].revents) ||
                      (fds[2].fd == fd && fds[2].revents))) {
        out = !acceptAll(fd) || out;
      }
    }
    if (out != exhausted) {
      if (out) {
        log().warn("HTTP server: no file descriptors left; new connections wait");
      } else {
        log().info("HTTP server: accepting connections again");
      }
      exhausted = out;
    }
  }
}

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::setType(std::string type) { impl_->type = std::move(type); }
void HttpServer::setPort(uint16_t port) { impl_->configuredPort = port; }
void HttpServer::setDocumentRoot(std::string root) { impl_->root = std::move(root); }
void HttpServer::setListenAllInterfaces(bool all) { impl_->all = all; }
void HttpServer::setIdleTimeout(unsigned seconds) { impl_->idleTimeout = seconds; }
void HttpServer::setConnectionLimit(unsigned connections) {
  impl_->connectionLimit = std::max(1u, connections);
}

bool HttpServer::start(std::string* error) {
  Impl& d = *impl_;
  if (d.running) return true;
  d.error.clear();
  auto fail = [&](std::string text) {
    d.error = std::move(text);
    if (error) *error = d.error;
    d.listeners = Listeners();
    d.wake = FileHandle();
    return false;
  };
  // Opened here, not at process start: file-mode starts never need it.
  std::string libraryError;
  if (!loadMicroHttpd(&libraryError)) return fail(libraryError);
  std::string listenError;
  auto listeners = openListeners(d.all, d.configuredPort, &listenError);
  if (!listeners) return fail(listenError);
  d.listeners = std::move(*listeners);
  d.port = d.listeners.port;
  d.wake = FileHandle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!d.wake) return fail(std::string("cannot start: ") + std::strerror(errno));
  d.stopping = false;
  d.timers.reopen();
  if (!d.startDaemon()) return fail("cannot start the HTTP server library");
  d.listening = std::thread([&d] { d.listen(); });
  if (d.all) d.announcer.emplace(d.type, d.port);
  {
    std::lock_guard lock(registryMutex());
    servingPorts().insert(d.port);
  }
  d.running = true;
  return true;
}

void HttpServer::stop() {
  Impl& d = *impl_;
  if (!d.running) return;
  {
    std::lock_guard lock(registryMutex());
    servingPorts().erase(servingPorts().find(d.port));
  }
  d.announcer.reset();
  d.stopping = true;
  d.signalWake();
  d.listening.join();
  d.listeners = Listeners();
  // Parked requests are released first: the library refuses to stop while
  // any connection is still suspended. Their handler then drops them.
  d.timers.runAll();
  mhd().stop_daemon(d.daemon);
  d.daemon = nullptr;
  d.connection.reset();
  d.hosts.reset();
  d.documentRoot.reset();
  d.wake = FileHandle();
  d.running = false;
}

bool HttpServer::isRunning() const { return impl_->running; }
uint16_t HttpServer::port() const { return impl_->port ? impl_->port : impl_->configuredPort; }
const std::string& HttpServer::type() const { return impl_->type; }
const std::string& HttpServer::documentRoot() const { return impl_->root; }
bool HttpServer::listenAllInterfaces() const { return impl_->all; }
unsigned HttpServer::connectionLimit() const { return impl_->connectionLimit; }
const std::string& HttpServer::errorText() const { return impl_->error; }

bool HttpServer::servesLoopbackPort(uint16_t port) {
  std::lock_guard lock(registryMutex());
  return servingPorts().count(port) > 0;
}

}  // namespace corvane::server
