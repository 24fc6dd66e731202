#include "server/MyHTTPConnection.h"

#include "app/Log.h"
#include "server/FileResponse.h"
#include "server/HTTPResponseTest.h"
#include "server/IndexTemplate.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::server {

void MyHTTPConnection::handle(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*,
                              gpointer connection) {
  static_cast<const MyHTTPConnection*>(connection)->httpResponseForMethod(msg);
}

void MyHTTPConnection::requestRead(SoupServer*, SoupServerMessage* msg, gpointer) {
  if (soup_server_message_get_status(msg) == SOUP_STATUS_BAD_REQUEST) {
    log().debug("refused a request the HTTP parser could not read");
    respondNotFound(msg);
  }
}

void MyHTTPConnection::httpResponseForMethod(SoupServerMessage* msg) const {
  const char* method = soup_server_message_get_method(msg);
  const bool headOnly = method == SOUP_METHOD_HEAD;
  if (method != SOUP_METHOD_GET && !headOnly) {
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Allow",
                                 "GET, HEAD");
    soup_server_message_set_status(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, nullptr);
    return;
  }
  // The library keeps the path as it came on the wire: still encoded, so
  // the single decoding below is the only one.
  const char* raw = g_uri_get_path(soup_server_message_get_uri(msg));
  const auto decoded = decodeRequestPath(raw ? raw : "");
  if (!decoded) {
    respondNotFound(msg);
    return;
  }
  if (DocumentRoot::relativeFor(*decoded) == "/unittest.html") {
    HTTPResponseTest::respond(msg, context_);
    return;
  }
  auto file = root_.resolve(*decoded);
  if (!file) {
    respondNotFound(msg);
    return;
  }
  if (file->folderWithoutSlash) {
    std::string location = std::string(raw) + "/";
    if (const char* query = g_uri_get_query(soup_server_message_get_uri(msg))) {
      location += std::string("?") + query;
    }
    soup_server_message_set_redirect(msg, SOUP_STATUS_MOVED_PERMANENTLY, location.c_str());
    return;
  }
  if (file->relative == "/index.html") {
    respondWithIndex(msg, *file, headOnly);
    return;
  }
  respondWithFile(msg, std::move(*file), headOnly);
}

void MyHTTPConnection::respondWithIndex(SoupServerMessage* msg, const ResolvedFile& file,
                                        bool headOnly) const {
  std::string text;
  char buffer[64 * 1024];
  while (true) {
    const ssize_t n = ::read(file.file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      log().error("cannot read {}: {}", file.realPath, std::strerror(errno));
      respondNotFound(msg);
      return;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  std::string page = fillMarkers(text, indexReplacements());

  SoupMessageHeaders* res = soup_server_message_get_response_headers(msg);
  // The page changes with every request (time), so caches must not keep it.
  soup_message_headers_replace(res, "Cache-Control", "no-cache");
  soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
  if (headOnly) {
    soup_message_headers_set_content_type(res, "text/html", nullptr);
    soup_message_headers_set_content_length(res, static_cast<goffset>(page.size()));
    soup_message_body_complete(soup_server_message_get_response_body(msg));
    return;
  }
  // Hand the buffer over without another copy.
  auto* owned = new std::string(std::move(page));
  GBytes* bytes = g_bytes_new_with_free_func(owned->data(), owned->size(),
                                             [](gpointer p) { delete static_cast<std::string*>(p); },
                                             owned);
  soup_message_headers_set_content_type(res, "text/html", nullptr);
  SoupMessageBody* body = soup_server_message_get_response_body(msg);
  soup_message_body_append_bytes(body, bytes);
  soup_message_body_complete(body);
  g_bytes_unref(bytes);
}

}  // namespace corvane::server
