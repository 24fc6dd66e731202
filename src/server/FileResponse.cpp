#include "server/FileResponse.h"

#include "app/Log.h"
#include "server/ContentTypes.h"
#include "server/HttpRanges.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::server {

namespace {

// Large enough that a 10 MiB file needs few wake-ups, small enough that a
// hundred slow readers cost little memory.
constexpr size_t kChunkSize = 256 * 1024;

// The rest of a file still to be sent; lives as long as the message.
struct FileStream {
  int fd = -1;
  uint64_t offset = 0;
  uint64_t remaining = 0;
  std::string path;
  ~FileStream() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads the next chunk at the stream's offset; nullptr when the file no
// longer holds the bytes promised in Content-Length.
GBytes* readChunk(FileStream& s) {
  const size_t want = s.remaining < kChunkSize ? static_cast<size_t>(s.remaining) : kChunkSize;
  auto* buffer = static_cast<char*>(g_malloc(want));
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(s.fd, buffer + got, want - got, static_cast<off_t>(s.offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      log().error("read of {} failed at offset {}: {}", s.path, s.offset + got,
                  n == 0 ? "file is shorter than announced" : std::strerror(errno));
      g_free(buffer);
      return nullptr;
    }
    got += static_cast<size_t>(n);
  }
  s.offset += want;
  s.remaining -= want;
  return g_bytes_new_take(buffer, want);
}

gboolean closeBrokenResponse(gpointer data) {
  auto* msg = static_cast<SoupServerMessage*>(data);
  // The headers promised more bytes than the file now has; the only honest
  // end is to drop the connection so the client sees a truncated transfer.
  if (GIOStream* stream = soup_server_message_steal_connection(msg)) {
    g_io_stream_close(stream, nullptr, nullptr);
    g_object_unref(stream);
  }
  return G_SOURCE_REMOVE;
}

void scheduleClose(SoupServerMessage* msg) {
  GSource* idle = g_idle_source_new();
  g_source_set_callback(idle, closeBrokenResponse, g_object_ref(msg), g_object_unref);
  g_source_attach(idle, g_main_context_get_thread_default());
  g_source_unref(idle);
}

// Appends the next chunk and completes the body after the last one.
void feed(SoupServerMessage* msg, FileStream& s) {
  SoupMessageBody* body = soup_server_message_get_response_body(msg);
  if (s.remaining == 0) {
    soup_message_body_complete(body);
    return;
  }
  GBytes* chunk = readChunk(s);
  if (!chunk) {
    scheduleClose(msg);
    return;
  }
  soup_message_body_append_bytes(body, chunk);
  g_bytes_unref(chunk);
  if (s.remaining == 0) soup_message_body_complete(body);
}

void onWroteChunk(SoupServerMessage* msg, gpointer data) {
  auto* s = static_cast<FileStream*>(data);
  if (s->remaining > 0) feed(msg, *s);
}

void setStatus(SoupServerMessage* msg, guint status) {
  soup_server_message_set_status(msg, status, nullptr);
}

}  // namespace

void respondNotFound(SoupServerMessage* msg) {
  static constexpr char kText[] = "not found";
  soup_server_message_set_status(msg, SOUP_STATUS_NOT_FOUND, nullptr);
  soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_STATIC, kText,
                                   sizeof kText - 1);
}

void respondWithFile(SoupServerMessage* msg, ResolvedFile&& file, bool headOnly) {
  if (!file.file) {
    respondNotFound(msg);
    return;
  }
  const std::string& realPath = file.realPath;
  const uint64_t size = file.size;
  const Validators v = validatorsFor(file.mtime, size);

  SoupMessageHeaders* req = soup_server_message_get_request_headers(msg);
  SoupMessageHeaders* res = soup_server_message_get_response_headers(msg);
  soup_message_headers_replace(res, "Last-Modified", v.lastModified.c_str());
  soup_message_headers_replace(res, "ETag", v.etag.c_str());
  soup_message_headers_replace(res, "Accept-Ranges", "bytes");

  if (isNotModified(soup_message_headers_get_one(req, "If-None-Match"),
                    soup_message_headers_get_one(req, "If-Modified-Since"), v)) {
    setStatus(msg, SOUP_STATUS_NOT_MODIFIED);
    return;
  }

  RangeDecision range;
  if (const char* header = soup_message_headers_get_one(req, "Range");
      header && ifRangeAllowsPartial(soup_message_headers_get_one(req, "If-Range"), v)) {
    range = decideRange(header, size);
  }
  // The server library would otherwise try to cut ranges out of a 200 body
  // itself; our answer already took the header into account.
  soup_message_headers_remove(req, "Range");

  if (range.kind == RangeKind::Unsatisfiable) {
    const std::string cr = "bytes */" + std::to_string(size);
    soup_message_headers_replace(res, "Content-Range", cr.c_str());
    setStatus(msg, SOUP_STATUS_REQUESTED_RANGE_NOT_SATISFIABLE);
    soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_STATIC, "", 0);
    return;
  }

  auto* stream = new FileStream;
  stream->fd = file.file.release();
  stream->path = realPath;
  stream->remaining = size;
  if (range.kind == RangeKind::Partial) {
    stream->offset = range.range.first;
    stream->remaining = range.range.length();
    const std::string cr = "bytes " + std::to_string(range.range.first) + "-" +
                           std::to_string(range.range.last) + "/" + std::to_string(size);
    soup_message_headers_replace(res, "Content-Range", cr.c_str());
    setStatus(msg, SOUP_STATUS_PARTIAL_CONTENT);
  } else {
    setStatus(msg, SOUP_STATUS_OK);
  }
  const std::string type = contentTypeForPath(realPath);
  soup_message_headers_set_content_type(res, type.c_str(), nullptr);
  soup_message_headers_set_content_length(res, static_cast<goffset>(stream->remaining));

  SoupMessageBody* body = soup_server_message_get_response_body(msg);
  if (headOnly || stream->remaining == 0) {
    delete stream;
    soup_message_body_complete(body);
    return;
  }
  // Written chunks are dropped at once instead of being kept for the
  // message's lifetime.
  soup_message_body_set_accumulate(body, FALSE);
  g_object_set_data_full(G_OBJECT(msg), "corvane-file-stream", stream,
                         [](gpointer p) { delete static_cast<FileStream*>(p); });
  if (stream->remaining > kChunkSize) {
    g_signal_connect(msg, "wrote-chunk", G_CALLBACK(onWroteChunk), stream);
  }
  feed(msg, *stream);
}

}  // namespace corvane::server
