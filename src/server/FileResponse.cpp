#include "server/FileResponse.h"

#include "server/ContentTypes.h"
#include "server/HttpRanges.h"
#include "server/MicroHttpd.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace corvane::server {

namespace {

const char* requestHeader(MHD_Connection* connection, const char* name) {
  return mhd().lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

MHD_Result queue(MHD_Connection* connection, unsigned status, MHD_Response* response,
                 HeaderList headers = {}) {
  if (!response) return MHD_NO;
  mhd().add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  for (const auto& [name, value] : headers) mhd().add_response_header(response, name, value.c_str());
  const MHD_Result queued = mhd().queue_response(connection, status, response);
  mhd().destroy_response(response);
  return queued;
}

MHD_Response* emptyResponse() {
  return mhd().create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
}

// Files up to this size are read at once and sent with the headers in one
// write; larger ones go from the file to the socket by the kernel.
constexpr uint64_t kInlineSize = 32 * 1024;

// The body of `length` bytes at `offset`: from memory when small, else
// straight from the descriptor (the response then owns it). nullptr when a
// small file no longer holds the bytes.
MHD_Response* bodyResponse(FileHandle& file, uint64_t offset, uint64_t length) {
  if (length == 0) return emptyResponse();
  if (length > kInlineSize) {
    MHD_Response* response =
        mhd().create_response_from_fd_at_offset64(length, file.get(), static_cast<int64_t>(offset));
    if (response) file.release();
    return response;
  }
  auto* buffer = static_cast<char*>(std::malloc(length));
  size_t got = 0;
  while (buffer && got < length) {
    const ssize_t n = ::pread(file.get(), buffer + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (!buffer || got < length) {
    std::free(buffer);
    return nullptr;
  }
  return mhd().create_response_from_buffer_with_free_callback(length, buffer, &std::free);
}

}  // namespace

MHD_Result respondWithText(MHD_Connection* connection, unsigned status, std::string_view text,
                           const char* type, HeaderList headers) {
  MHD_Response* response = mhd().create_response_from_buffer(
      text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response) mhd().add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  return queue(connection, status, response, headers);
}

MHD_Result respondNotFound(MHD_Connection* connection) {
  return respondWithText(connection, MHD_HTTP_NOT_FOUND, "not found");
}

namespace {

void addValidators(MHD_Response* response, const Validators& v) {
  if (v.present) {
    mhd().add_response_header(response, MHD_HTTP_HEADER_ETAG, v.etag.c_str());
    mhd().add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, v.lastModified.c_str());
  }
  mhd().add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
}

Validators validatorsNow(const FileStamp& stamp) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return validatorsFor(stamp, now);
}

}  // namespace

bool asksForWholeFile(MHD_Connection* connection) {
  return !requestHeader(connection, MHD_HTTP_HEADER_IF_NONE_MATCH) &&
         !requestHeader(connection, MHD_HTTP_HEADER_IF_MODIFIED_SINCE) &&
         !requestHeader(connection, MHD_HTTP_HEADER_RANGE);
}

MHD_Response* wholeFileAnswer(ResolvedFile& file, bool* reusable) {
  const Validators v = validatorsNow(file.stamp);
  const uint64_t size = file.stamp.size;
  if (reusable) *reusable = v.present && size <= kInlineSize;
  MHD_Response* response = bodyResponse(file.file, 0, size);
  if (!response) return nullptr;
  addValidators(response, v);
  mhd().add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentTypeForPath(file.relative).c_str());
  mhd().add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  return response;
}

MHD_Result respondWithFile(MHD_Connection* connection, ResolvedFile&& file) {
  if (!file.file) return respondNotFound(connection);
  const Validators v = validatorsNow(file.stamp);
  const uint64_t size = file.stamp.size;

  // Validators go on every answer for the file, 304 and 206 included.
  auto withValidators = [&](MHD_Response* response) {
    if (response) addValidators(response, v);
    return response;
  };
  if (isNotModified(requestHeader(connection, MHD_HTTP_HEADER_IF_NONE_MATCH),
                    requestHeader(connection, MHD_HTTP_HEADER_IF_MODIFIED_SINCE), v)) {
    MHD_Response* response = emptyResponse();
    // A 304 has no body of its own: no "Content-Length: 0" that would
    // misstate the file's length.
    if (response) mhd().set_response_options(response, MHD_RF_INSANITY_HEADER_CONTENT_LENGTH, MHD_RO_END);
    return queue(connection, MHD_HTTP_NOT_MODIFIED, withValidators(response));
  }

  RangeDecision range;
  if (const char* header = requestHeader(connection, MHD_HTTP_HEADER_RANGE);
      header && ifRangeAllowsPartial(requestHeader(connection, MHD_HTTP_HEADER_IF_RANGE), v)) {
    range = decideRange(header, size);
  }
  if (range.kind == RangeKind::Unsatisfiable) {
    return queue(connection, MHD_HTTP_RANGE_NOT_SATISFIABLE, withValidators(emptyResponse()),
                 {{MHD_HTTP_HEADER_CONTENT_RANGE, "bytes */" + std::to_string(size)}});
  }

  uint64_t offset = 0;
  uint64_t length = size;
  unsigned status = MHD_HTTP_OK;
  std::string contentRange;
  if (range.kind == RangeKind::Partial) {
    offset = range.range.first;
    length = range.range.length();
    status = MHD_HTTP_PARTIAL_CONTENT;
    contentRange = "bytes " + std::to_string(range.range.first) + "-" +
                   std::to_string(range.range.last) + "/" + std::to_string(size);
  }
  // If a large file shrinks while it is sent, the connection is closed
  // short of the announced length: the client sees a truncated transfer,
  // never padding. A small one that shrank since it was opened ends the
  // connection at once.
  MHD_Response* response = bodyResponse(file.file, offset, length);
  if (!withValidators(response)) return MHD_NO;
  mhd().add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                          contentTypeForPath(file.relative).c_str());
  if (!contentRange.empty()) {
    mhd().add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, contentRange.c_str());
  }
  return queue(connection, status, response);
}

}  // namespace corvane::server
