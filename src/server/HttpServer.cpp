#include "server/HttpServer.h"

#include "app/Log.h"
#include "server/MyHTTPConnection.h"
#include "server/ServiceAnnouncer.h"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <pthread.h>

#include <future>
#include <optional>
#include <thread>

namespace corvane::server {

namespace {

struct StartResult {
  bool ok = false;
  uint16_t port = 0;
  std::string error;
};

GSocket* listeningSocket(GInetAddress* address, uint16_t port, GError** error) {
  const GSocketFamily family = g_inet_address_get_family(address);
  GSocket* socket = g_socket_new(family, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, error);
  if (!socket) return nullptr;
  if (family == G_SOCKET_FAMILY_IPV6) {
    // Keep the IPv6 listener to IPv6, so that it never collides with the
    // IPv4 one on the same port.
    g_socket_set_option(socket, IPPROTO_IPV6, IPV6_V6ONLY, 1, nullptr);
  }
  // GIO's default backlog of 10 drops connections when a page opens many
  // at once.
  g_socket_set_listen_backlog(socket, SOMAXCONN);
  GSocketAddress* where = g_inet_socket_address_new(address, port);
  // Reuse allows a restart while old connections linger in TIME_WAIT; it
  // never lets two servers listen on one port.
  const bool ok = g_socket_bind(socket, where, TRUE, error) && g_socket_listen(socket, error);
  g_object_unref(where);
  if (!ok) {
    g_object_unref(socket);
    return nullptr;
  }
  return socket;
}

uint16_t localPort(GSocket* socket) {
  GSocketAddress* address = g_socket_get_local_address(socket, nullptr);
  if (!address) return 0;
  const uint16_t port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(address));
  g_object_unref(address);
  return port;
}

// Listens on the IPv4 address first (it decides a free port when asked for
// 0), then on its IPv6 twin with the same port. Only the IPv4 listener is
// required: machines without IPv6 still serve.
StartResult listen(SoupServer* server, bool all, uint16_t port) {
  StartResult result;
  GInetAddress* v4 = g_inet_address_new_from_string(all ? "0.0.0.0" : "127.0.0.1");
  GInetAddress* v6 = g_inet_address_new_from_string(all ? "::" : "::1");
  GError* error = nullptr;
  GSocket* socket = listeningSocket(v4, port, &error);
  if (socket && soup_server_listen_socket(server, socket, SoupServerListenOptions(0), &error)) {
    result.ok = true;
    result.port = localPort(socket);
  }
  if (socket) g_object_unref(socket);
  if (!result.ok) {
    result.error = error ? error->message : "cannot listen";
  } else {
    g_clear_error(&error);
    GSocket* socket6 = listeningSocket(v6, result.port, &error);
    if (!socket6 ||
        !soup_server_listen_socket(server, socket6, SoupServerListenOptions(0), &error)) {
      log().debug("HTTP server without IPv6 listener: {}", error ? error->message : "unknown");
    }
    if (socket6) g_object_unref(socket6);
  }
  g_clear_error(&error);
  g_object_unref(v4);
  g_object_unref(v6);
  return result;
}

}  // namespace

struct HttpServer::Impl {
  std::string type = "_http._tcp.";
  uint16_t configuredPort = 0;
  std::string root;
  bool all = false;

  std::string error;
  uint16_t port = 0;
  bool running = false;
  std::thread thread;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;

  void run(std::promise<StartResult>& started);
};

void HttpServer::Impl::run(std::promise<StartResult>& started) {
  pthread_setname_np(pthread_self(), "HttpServer");
  // Every source libsoup creates for the server (listeners, connections,
  // timeouts) attaches to the thread-default context at creation time.
  g_main_context_push_thread_default(context);
  const DocumentRoot documentRoot(root);
  const MyHTTPConnection connection(documentRoot, context);
  SoupServer* server = soup_server_new("server-header", "Corvane", nullptr);
  soup_server_add_handler(server, nullptr, &MyHTTPConnection::handle,
                          const_cast<MyHTTPConnection*>(&connection), nullptr);
  g_signal_connect(server, "request-read", G_CALLBACK(&MyHTTPConnection::requestRead), nullptr);
  const StartResult result = listen(server, all, configuredPort);
  std::optional<ServiceAnnouncer> announcer;
  if (result.ok && all) announcer.emplace(context, type, result.port);
  const bool ok = result.ok;
  started.set_value(result);  // `started` must not be touched after this
  if (ok) g_main_loop_run(loop);

  announcer.reset();
  soup_server_disconnect(server);
  g_object_unref(server);
  // Let pending destroy notifications (closed connections, parked requests)
  // run while their context is still ours.
  while (g_main_context_iteration(context, FALSE)) {
  }
  g_main_context_pop_thread_default(context);
}

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::setType(std::string type) { impl_->type = std::move(type); }
void HttpServer::setPort(uint16_t port) { impl_->configuredPort = port; }
void HttpServer::setDocumentRoot(std::string root) { impl_->root = std::move(root); }
void HttpServer::setListenAllInterfaces(bool all) { impl_->all = all; }

bool HttpServer::start(std::string* error) {
  if (impl_->running) return true;
  impl_->error.clear();
  impl_->context = g_main_context_new();
  impl_->loop = g_main_loop_new(impl_->context, FALSE);
  std::promise<StartResult> started;
  auto result = started.get_future();
  impl_->thread = std::thread([this, &started] { impl_->run(started); });
  const StartResult outcome = result.get();
  if (!outcome.ok) {
    impl_->thread.join();
    g_main_loop_unref(impl_->loop);
    g_main_context_unref(impl_->context);
    impl_->loop = nullptr;
    impl_->context = nullptr;
    impl_->error = outcome.error;
    if (error) *error = outcome.error;
    return false;
  }
  impl_->port = outcome.port;
  impl_->running = true;
  return true;
}

void HttpServer::stop() {
  if (!impl_->running) return;
  GSource* quit = g_idle_source_new();
  g_source_set_callback(
      quit,
      [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      impl_->loop, nullptr);
  g_source_attach(quit, impl_->context);
  g_source_unref(quit);
  impl_->thread.join();
  g_main_loop_unref(impl_->loop);
  g_main_context_unref(impl_->context);
  impl_->loop = nullptr;
  impl_->context = nullptr;
  impl_->running = false;
}

bool HttpServer::isRunning() const { return impl_->running; }
uint16_t HttpServer::port() const { return impl_->port ? impl_->port : impl_->configuredPort; }
const std::string& HttpServer::type() const { return impl_->type; }
const std::string& HttpServer::documentRoot() const { return impl_->root; }
bool HttpServer::listenAllInterfaces() const { return impl_->all; }
const std::string& HttpServer::errorText() const { return impl_->error; }

}  // namespace corvane::server
