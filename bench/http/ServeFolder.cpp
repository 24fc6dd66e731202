// Serves one folder with the application's web server until SIGTERM or
// SIGINT arrives; prints "port N" once listening. Used by the benchmark
// script, and handy for trying the server by hand.
//
// With --bare FILE it instead answers every request with FILE's bytes from
// memory through a plain server of the same library: the library's own
// ceiling, which tells how much of the gap to another server is ours.
#include "server/HttpServer.h"

#include <microhttpd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <pthread.h>

namespace {

void blockStopSignals(sigset_t& stopSignals) {
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

int serveBare(const char* file, sigset_t& stopSignals) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file);
    return 1;
  }
  static const std::string contents((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
  MHD_AccessHandlerCallback handler = [](void*, MHD_Connection* c, const char*, const char*,
                                         const char*, const char*, size_t*, void** state) {
    // The second call, once the request is complete, keeps the connection.
    if (!*state) {
      *state = c;
      return MHD_YES;
    }
    MHD_Response* r = MHD_create_response_from_buffer(
        contents.size(), const_cast<char*>(contents.data()), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(r, "Content-Type", "application/octet-stream");
    const MHD_Result q = MHD_queue_response(c, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return q;
  };
  MHD_Daemon* daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0,
                                        nullptr, nullptr, handler, nullptr, MHD_OPTION_END);
  if (!daemon) {
    std::fprintf(stderr, "cannot start\n");
    return 1;
  }
  std::printf("port %u\n", MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT)->port);
  std::fflush(stdout);
  int received = 0;
  sigwait(&stopSignals, &received);
  MHD_stop_daemon(daemon);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any server thread starts, so that only sigwait sees them.
  sigset_t stopSignals;
  blockStopSignals(stopSignals);
  if (argc == 3 && std::string(argv[1]) == "--bare") return serveBare(argv[2], stopSignals);
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
