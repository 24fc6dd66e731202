#include "server/HTTPResponseTest.h"

namespace corvane::server {

void HTTPResponseTest::respond(SoupServerMessage* connection, GMainContext* context) {
  auto* self = new HTTPResponseTest(connection, context);
  g_object_set_data_full(G_OBJECT(connection), "corvane-response-test", self,
                         [](gpointer p) { delete static_cast<HTTPResponseTest*>(p); });
}

HTTPResponseTest::HTTPResponseTest(SoupServerMessage* connection, GMainContext* context)
    : connection_(connection) {
  soup_server_message_pause(connection_);
  disconnectHandler_ =
      g_signal_connect(connection_, "disconnected", G_CALLBACK(onDisconnected), this);
  // Millisecond timer: the seconds variant may fire up to a second early.
  delay_ = g_timeout_source_new(kDelaySeconds * 1000);
  g_source_set_callback(delay_, onDelayPassed, this, nullptr);
  g_source_attach(delay_, context);
}

HTTPResponseTest::~HTTPResponseTest() {
  if (delay_) {
    g_source_destroy(delay_);
    g_source_unref(delay_);
  }
}

gboolean HTTPResponseTest::onDelayPassed(gpointer data) {
  auto* self = static_cast<HTTPResponseTest*>(data);
  self->readyToSendResponseHeaders_ = true;
  g_source_unref(self->delay_);
  self->delay_ = nullptr;
  if (SoupServerMessage* msg = self->connection_) {
    soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
    soup_server_message_set_response(msg, "text/html", SOUP_MEMORY_STATIC, "", 0);
    // May finish the message and so delete `self`; nothing touches it after.
    soup_server_message_unpause(msg);
  }
  return G_SOURCE_REMOVE;
}

void HTTPResponseTest::onDisconnected(SoupServerMessage*, gpointer self) {
  static_cast<HTTPResponseTest*>(self)->connectionDidClose();
}

void HTTPResponseTest::connectionDidClose() {
  if (connection_ && disconnectHandler_) g_signal_handler_disconnect(connection_, disconnectHandler_);
  disconnectHandler_ = 0;
  connection_ = nullptr;
}

}  // namespace corvane::server
