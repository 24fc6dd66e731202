#pragma once
// Decides the answer to each request of the local web server. Runs on the
// server's own thread, never on the main thread.
#include "server/DocumentRoot.h"

#include <libsoup/soup.h>

#include <string>

namespace corvane::server {

class MyHTTPConnection {
 public:
  // `context` is the server thread's main context, for the delayed answer.
  MyHTTPConnection(const DocumentRoot& root, GMainContext* context)
      : root_(root), context_(context) {}

  // Answers `msg`: only GET and HEAD are served (405 otherwise); paths are
  // decoded once and confined to the document root ("not found" otherwise);
  // a folder named without its final "/" is redirected there; "/index.html"
  // goes through the markers, "/unittest.html" is delayed, and every other
  // file is sent as it is.
  void httpResponseForMethod(SoupServerMessage* msg) const;

  // The libsoup handler that forwards to a connection object.
  static void handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                     gpointer connection);
  // Runs for every request before the handler. The HTTP parser refuses
  // some paths by itself (encoded NUL or slash) with 400; those are
  // answered like every other refused path.
  static void requestRead(SoupServer*, SoupServerMessage* msg, gpointer);

 private:
  void respondWithIndex(SoupServerMessage* msg, const ResolvedFile& file, bool headOnly) const;

  const DocumentRoot& root_;
  GMainContext* context_;
};

}  // namespace corvane::server
