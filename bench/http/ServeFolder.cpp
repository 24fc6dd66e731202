// Serves one folder with the application's web server until SIGTERM or
// SIGINT arrives; prints "port N" once listening. Used by the benchmark
// script, and handy for trying the server by hand.
//
// With --bare FILE it instead answers every request with FILE's bytes from
// memory through a plain libsoup server: the library's own ceiling, which
// tells how much of the gap to another server is ours.
#include "server/HttpServer.h"

#include <libsoup/soup.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <pthread.h>

namespace {

int serveBare(const char* file) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(file, &contents, &length, nullptr)) {
    std::fprintf(stderr, "cannot read %s\n", file);
    return 1;
  }
  GBytes* bytes = g_bytes_new_take(contents, length);
  SoupServer* server = soup_server_new("server-header", "bare", nullptr);
  soup_server_add_handler(
      server, nullptr,
      [](SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
        soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
        soup_message_headers_set_content_type(soup_server_message_get_response_headers(msg),
                                              "application/octet-stream", nullptr);
        soup_message_body_append_bytes(soup_server_message_get_response_body(msg),
                                       static_cast<GBytes*>(data));
      },
      bytes, nullptr);
  GError* error = nullptr;
  if (!soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
    std::fprintf(stderr, "cannot start: %s\n", error->message);
    return 1;
  }
  GSList* uris = soup_server_get_uris(server);
  std::printf("port %d\n", g_uri_get_port(static_cast<GUri*>(uris->data)));
  std::fflush(stdout);
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);  // ended by the signal's default action
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--bare") return serveBare(argv[2]);
  // Blocked before the server thread starts, so that only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [PORT] [--all] | --bare FILE\n", argv[0]);
    return 2;
  }
  corvane::server::HttpServer server;
  server.setDocumentRoot(argv[1]);
  if (argc > 2) server.setPort(static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 10)));
  if (argc > 3 && std::string(argv[3]) == "--all") server.setListenAllInterfaces(true);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "cannot start: %s\n", error.c_str());
    return 1;
  }
  std::printf("port %u\n", server.port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&stopSignals, &received);
  server.stop();
  return 0;
}
