// Serves one folder with the application's web server until SIGTERM or
// SIGINT arrives; prints "port N" once listening. Used by the
// benchmark script, and handy for trying the server by hand.
#include "server/HttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <pthread.h>

int main(int argc, char** argv) {
  // Blocked before the server thread starts, so that only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [PORT] [--all]\n", argv[0]);
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
