#pragma once
// The delayed test answer for "/unittest.html": headers go out only after
// five seconds, with an empty body. The connection is parked (suspended)
// rather than waited for, so no thread is held and other requests go on
// meanwhile; the server's timer thread releases it.
#include "server/TimerQueue.h"

#include <microhttpd.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace corvane::server {

class HTTPResponseTest {
 public:
  static constexpr unsigned kDelaySeconds = 5;

  // Parks `connection` and starts the delay on `timers`. The object belongs
  // to the request.
  HTTPResponseTest(MHD_Connection* connection, TimerQueue& timers);
  HTTPResponseTest(const HTTPResponseTest&) = delete;
  HTTPResponseTest& operator=(const HTTPResponseTest&) = delete;
  ~HTTPResponseTest() { connectionDidClose(); }

  bool delayResponseHeaders() const;
  uint64_t contentLength() const { return 0; }
  uint64_t offset() const { return 0; }
  void setOffset(uint64_t) {}
  bool isDone() const { return true; }
  void connectionDidClose();

  // Queues the empty answer on `connection` (once the delay has passed).
  MHD_Result respond(MHD_Connection* connection) const;

 private:
  // Shared with the pending timer, which may outlive the object.
  struct Fields {
    // Guards the fields: the delay ends on the timer thread while the
    // connection is handled on the server's.
    std::mutex responseQueue;
    MHD_Connection* connection = nullptr;  // not owned; cleared when it closes
    bool readyToSendResponseHeaders = false;
  };
  static void onDelayPassed(Fields& fields);

  std::shared_ptr<Fields> fields_;
};

}  // namespace corvane::server
