#pragma once
// Decides the answer to each request of the local web server. Runs on the
// server's own thread, never on the main thread.
#include "server/DocumentRoot.h"
#include "server/FileCache.h"
#include "server/HostPolicy.h"
#include "server/TimerQueue.h"

#include <microhttpd.h>

#include <atomic>
#include <memory>
#include <string>

namespace corvane::server {

class HTTPResponseTest;

class MyHTTPConnection {
 public:
  // `timers` release delayed answers; `stopping` turns parked requests
  // away once the server is going down.
  MyHTTPConnection(const DocumentRoot& root, const HostPolicy& hosts, TimerQueue& timers,
                   const std::atomic<bool>& stopping)
      : root_(root),
        hosts_(hosts),
        timers_(timers),
        stopping_(stopping),
        cache_(std::make_unique<FileCache>(root.path())) {}

  // The request handler, called by the server library once the headers are
  // in (`state` still empty), then again when the request is complete.
  //
  // At the headers: two Host headers or two different Content-Length values
  // get 400, a Host that is not ours 421 (400 when HTTP/1.1 names none),
  // methods other than GET and HEAD 405. These answers go out at once, so a
  // refused body is never read (and no "100 Continue" invites it); the
  // connection is closed after them. A GET or HEAD that announces a body is
  // answered at once too, for the same reason.
  //
  // At the end: paths are decoded once, normalised and confined to the
  // document root ("not found" otherwise); a folder named without its final
  // "/" is redirected there by a path of our own origin; "/index.html" goes
  // through the markers, "/unittest.html" is delayed, and every other file
  // is sent as it is.
  MHD_Result handle(MHD_Connection* connection, const char* url, const char* method,
                    const char* version, size_t* uploadSize, void** state) const;

  // Frees what `handle` kept for a request (the library calls this when
  // the request is done, whatever its outcome).
  static void requestDone(void* state);

 private:
  enum class AtHeaders {
    Wait,       // nothing to refuse: answer once the request is complete
    AnswerNow,  // a body is announced: answer without reading it
    Refused,    // a refusal is queued (`queued` says whether that worked)
  };
  AtHeaders checkAtHeaders(MHD_Connection* connection, const char* method, const char* version,
                           MHD_Result* queued) const;
  MHD_Result httpResponseForMethod(MHD_Connection* connection, const char* url,
                                   std::unique_ptr<HTTPResponseTest>& delayed) const;
  // The whole small file, kept in the cache for the next plain request
  // when nothing changed meanwhile.
  MHD_Result respondAndKeep(MHD_Connection* connection, uint64_t ticket, ResolvedFile&& file) const;
  MHD_Result respondWithIndex(MHD_Connection* connection, const ResolvedFile& file) const;

  const DocumentRoot& root_;
  const HostPolicy& hosts_;
  TimerQueue& timers_;
  const std::atomic<bool>& stopping_;
  std::unique_ptr<FileCache> cache_;
};

}  // namespace corvane::server
