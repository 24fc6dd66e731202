#pragma once
// The delayed test answer for "/unittest.html": headers go out only after
// five seconds, with an empty body. The request is parked (paused) rather
// than waited for, so no thread is held and other requests go on meanwhile.
#include <libsoup/soup.h>

#include <cstdint>

namespace corvane::server {

class HTTPResponseTest {
 public:
  static constexpr unsigned kDelaySeconds = 5;

  // Parks `connection` and arranges for the answer on `context` (the
  // server's own). The object belongs to the message and dies with it.
  static void respond(SoupServerMessage* connection, GMainContext* context);

  bool delayResponseHeaders() const { return !readyToSendResponseHeaders_; }
  uint64_t contentLength() const { return 0; }
  uint64_t offset() const { return 0; }
  bool isDone() const { return true; }

  HTTPResponseTest(const HTTPResponseTest&) = delete;
  HTTPResponseTest& operator=(const HTTPResponseTest&) = delete;
  ~HTTPResponseTest();

 private:
  HTTPResponseTest(SoupServerMessage* connection, GMainContext* context);

  static gboolean onDelayPassed(gpointer self);
  static void onDisconnected(SoupServerMessage* msg, gpointer self);
  void connectionDidClose();

  // Not owned: the message owns us. Cleared when the client goes away, so
  // the late timer has nobody to notify.
  SoupServerMessage* connection_;
  bool readyToSendResponseHeaders_ = false;
  GSource* delay_ = nullptr;
  gulong disconnectHandler_ = 0;
};

}  // namespace corvane::server
