#include "server/HTTPResponseTest.h"

#include "server/MicroHttpd.h"

namespace corvane::server {

HTTPResponseTest::HTTPResponseTest(MHD_Connection* connection, TimerQueue& timers)
    : fields_(std::make_shared<Fields>()) {
  fields_->connection = connection;
  // Parked and timed under the queue's lock: a server stopping meanwhile
  // either releases this connection or never sees it parked. The library
  // cannot stop with a parked connection and would end the process.
  const bool parked = timers.afterUnlessStopped(
      std::chrono::seconds(kDelaySeconds), [fields = fields_] { onDelayPassed(*fields); },
      [connection] { mhd().suspend_connection(connection); });
  if (!parked) fields_->readyToSendResponseHeaders = true;  // stopping: not held back
}

bool HTTPResponseTest::delayResponseHeaders() const {
  std::lock_guard lock(fields_->responseQueue);
  return !fields_->readyToSendResponseHeaders;
}

void HTTPResponseTest::onDelayPassed(Fields& fields) {
  std::lock_guard lock(fields.responseQueue);
  fields.readyToSendResponseHeaders = true;
  // The server calls the request handler again, which then answers.
  if (fields.connection) mhd().resume_connection(fields.connection);
}

void HTTPResponseTest::connectionDidClose() {
  std::lock_guard lock(fields_->responseQueue);
  fields_->connection = nullptr;
}

MHD_Result HTTPResponseTest::respond(MHD_Connection* connection) const {
  MHD_Response* response = mhd().create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  mhd().add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
  const MHD_Result queued = mhd().queue_response(connection, MHD_HTTP_OK, response);
  mhd().destroy_response(response);
  return queued;
}

}  // namespace corvane::server
