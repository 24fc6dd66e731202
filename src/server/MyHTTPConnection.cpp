#include "server/MyHTTPConnection.h"

#include "app/Log.h"
#include "server/FileResponse.h"
#include "server/HTTPResponseTest.h"
#include "server/IndexTemplate.h"
#include "server/MicroHttpd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <strings.h>

namespace corvane::server {

namespace {

// What the handler keeps between its calls for one request. Only a
// delayed answer needs one of its own; every other request shares the
// empty one.
struct RequestState {
  std::unique_ptr<HTTPResponseTest> delayed;
};

RequestState* plainRequest() {
  static RequestState plain;
  return &plain;
}

struct HeaderFacts {
  int hosts = 0;
  const char* host = nullptr;
  int lengths = 0;
  bool lengthsDiffer = false;
  const char* length = nullptr;
  bool chunked = false;
};

MHD_Result collect(void* data, MHD_ValueKind, const char* key, const char* value) {
  auto* facts = static_cast<HeaderFacts*>(data);
  if (!value) value = "";
  if (strcasecmp(key, MHD_HTTP_HEADER_HOST) == 0) {
    ++facts->hosts;
    facts->host = value;
  } else if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0) {
    if (facts->lengths++ > 0 && std::strcmp(facts->length, value) != 0) facts->lengthsDiffer = true;
    facts->length = value;
  } else if (strcasecmp(key, MHD_HTTP_HEADER_TRANSFER_ENCODING) == 0) {
    facts->chunked = true;
  }
  return MHD_YES;
}

bool announcesBody(const HeaderFacts& facts) {
  if (facts.chunked) return true;
  return facts.length && std::strcmp(facts.length, "0") != 0;
}

// The query as it came, rebuilt from the arguments the library split off
// (they are kept undecoded, in order).
std::string rawQuery(MHD_Connection* connection) {
  std::string query;
  mhd().get_connection_values(
      connection, MHD_GET_ARGUMENT_KIND,
      [](void* data, MHD_ValueKind, const char* key, const char* value) {
        auto* q = static_cast<std::string*>(data);
        if (!q->empty()) q->push_back('&');
        q->append(key);
        if (value) q->append("=").append(value);
        return MHD_YES;
      },
      &query);
  return query;
}

}  // namespace

void MyHTTPConnection::requestDone(void* state) {
  if (state != plainRequest()) delete static_cast<RequestState*>(state);
}

MyHTTPConnection::AtHeaders MyHTTPConnection::checkAtHeaders(MHD_Connection* connection,
                                                             const char* method,
                                                             const char* version,
                                                             MHD_Result* queued) const {
  HeaderFacts facts;
  mhd().get_connection_values(connection, MHD_HEADER_KIND, collect, &facts);
  if (facts.hosts > 1 || facts.lengthsDiffer) {
    *queued = respondWithText(connection, MHD_HTTP_BAD_REQUEST, "bad request");
    return AtHeaders::Refused;
  }
  if (!facts.host) {
    // HTTP/1.0 clients may leave the Host out; they name no other site.
    if (std::strcmp(version, MHD_HTTP_VERSION_1_0) != 0) {
      *queued = respondWithText(connection, MHD_HTTP_BAD_REQUEST, "bad request");
      return AtHeaders::Refused;
    }
  } else if (!hosts_.allows(facts.host)) {
    log().debug("refused a request for host \"{}\"", facts.host);
    *queued = respondWithText(connection, MHD_HTTP_MISDIRECTED_REQUEST, "misdirected request");
    return AtHeaders::Refused;
  }
  if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 &&
      std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
    *queued = respondWithText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed",
                              "text/plain", {{MHD_HTTP_HEADER_ALLOW, "GET, HEAD"}});
    return AtHeaders::Refused;
  }
  return announcesBody(facts) ? AtHeaders::AnswerNow : AtHeaders::Wait;
}

MHD_Result MyHTTPConnection::handle(MHD_Connection* connection, const char* url,
                                    const char* method, const char* version, size_t* uploadSize,
                                    void** state) const {
  if (!*state) {
    *state = plainRequest();
    MHD_Result queued = MHD_NO;
    switch (checkAtHeaders(connection, method, version, &queued)) {
      case AtHeaders::Refused:
        return queued;
      case AtHeaders::Wait:
        return MHD_YES;  // called again once the (empty) body is in
      case AtHeaders::AnswerNow:
        break;  // the body is never read; the connection closes after the answer
    }
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;  // body bytes after an early answer: dropped unread
    return MHD_YES;
  }
  auto* request = static_cast<RequestState*>(*state);
  if (request != plainRequest()) {
    if (stopping_.load()) return MHD_NO;  // parked until the stop: drop it
    return httpResponseForMethod(connection, url, request->delayed);
  }
  std::unique_ptr<HTTPResponseTest> delayed;
  const MHD_Result result = httpResponseForMethod(connection, url, delayed);
  if (delayed) *state = new RequestState{std::move(delayed)};
  return result;
}

MHD_Result MyHTTPConnection::httpResponseForMethod(
    MHD_Connection* connection, const char* url,
    std::unique_ptr<HTTPResponseTest>& delayed) const {
  if (delayed) {
    if (delayed->delayResponseHeaders()) return MHD_YES;  // still parked
    return delayed->respond(connection);
  }
  // The library hands the path over undecoded (its decoding is turned
  // off), so the decoding below is the only one.
  const auto decoded = decodeRequestPath(url ? url : "");
  if (!decoded) return respondNotFound(connection);
  const std::string relative = DocumentRoot::relativeFor(*decoded);
  if (relative == "/unittest.html") {
    delayed = std::make_unique<HTTPResponseTest>(connection, timers_);
    return MHD_YES;
  }
  // The index goes through its markers on every request; conditional and
  // partial requests are answered from the file.
  const bool whole = relative != "/index.html" && asksForWholeFile(connection);
  if (whole)
    if (MHD_Response* kept = cache_->find(relative)) return mhd().queue_response(connection, MHD_HTTP_OK, kept);
  const uint64_t ticket = whole ? cache_->watchWay(relative) : 0;
  bool outOfDescriptors = false;
  auto file = root_.resolve(*decoded, &outOfDescriptors);
  if (!file && outOfDescriptors) {
    // Not the file's fault: ask the client to come back rather than tell
    // it the file is gone.
    return respondWithText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "busy", "text/plain",
                           {{MHD_HTTP_HEADER_RETRY_AFTER, "1"}});
  }
  if (!file) return respondNotFound(connection);
  if (file->folderWithoutSlash) {
    // A path of our own origin, never "//name/...", which a browser would
    // read as another host.
    std::string location = encodeRequestPath(*decoded + "/");
    if (const std::string query = rawQuery(connection); !query.empty()) location += "?" + query;
    return respondWithText(connection, MHD_HTTP_MOVED_PERMANENTLY, "moved", "text/plain",
                           {{MHD_HTTP_HEADER_LOCATION, location}});
  }
  if (file->relative == "/index.html") return respondWithIndex(connection, *file);
  if (ticket && file->beneath && file->stamp.size <= FileCache::kMaxFileSize)
    return respondAndKeep(connection, ticket, std::move(*file));
  return respondWithFile(connection, std::move(*file));
}

MHD_Result MyHTTPConnection::respondAndKeep(MHD_Connection* connection, uint64_t ticket,
                                            ResolvedFile&& file) const {
  // Watched from here on, so the bytes and the metadata read below are
  // those of this version of the file, or an event says otherwise.
  struct stat st {};
  if (!cache_->watchFile(ticket, file.file.get()) || ::fstat(file.file.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return respondWithFile(connection, std::move(file));
  file.stamp.inode = static_cast<uint64_t>(st.st_ino);
  file.stamp.size = static_cast<uint64_t>(st.st_size);
  file.stamp.mtime = st.st_mtim;
  file.stamp.ctime = st.st_ctim;
  if (file.stamp.size > FileCache::kMaxFileSize) return respondWithFile(connection, std::move(file));
  bool reusable = false;
  MHD_Response* response = wholeFileAnswer(file, &reusable);
  if (!response) return MHD_NO;  // shrank since it was opened: end the connection
  const MHD_Result queued = mhd().queue_response(connection, MHD_HTTP_OK, response);
  if (reusable)
    cache_->store(ticket, file.relative, response, file.stamp.size);
  else
    mhd().destroy_response(response);
  return queued;
}

MHD_Result MyHTTPConnection::respondWithIndex(MHD_Connection* connection,
                                              const ResolvedFile& file) const {
  std::string text;
  text.reserve(file.stamp.size);
  char buffer[64 * 1024];
  while (true) {
    const ssize_t n = ::read(file.file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      log().error("cannot read {}: {}", file.realPath, std::strerror(errno));
      return respondNotFound(connection);
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  // The page changes with every request (time): no validators, and the
  // no-cache every answer carries.
  return respondWithText(connection, MHD_HTTP_OK, fillMarkers(text, indexReplacements()),
                         "text/html");
}

}  // namespace corvane::server
