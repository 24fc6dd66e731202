#pragma once
// The answers the server builds: files (whole, a byte range, or 304), and
// short texts for refusals. Every answer says "Cache-Control: no-cache", so
// the web view revalidates each time and an updated application shows on
// its next start instead of what its cache kept.
#include "server/DocumentRoot.h"

#include <microhttpd.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace corvane::server {

using HeaderList = std::initializer_list<std::pair<const char*, std::string>>;

// Answers with the open regular file of `file`: Content-Type by the name
// the request used, ETag and Last-Modified with 304 for a current cache, a
// single byte range with 206 (416 when it misses the file). The body goes
// from the file to the socket by the kernel; HEAD gets the headers only.
MHD_Result respondWithFile(MHD_Connection* connection, ResolvedFile&& file);

// The whole file as the 200 answer respondWithFile gives a request without
// conditions or ranges, headers included, not yet queued (the caller owns
// it); nullptr when a small file no longer holds its bytes. `reusable` says
// whether the same answer may serve later requests for this version of the
// file: its body is in memory and its validators are settled.
MHD_Response* wholeFileAnswer(ResolvedFile& file, bool* reusable);

// True when the request asks for the whole file without conditions.
bool asksForWholeFile(MHD_Connection* connection);

// Answers `status` with a short text body (copied) and extra headers.
MHD_Result respondWithText(MHD_Connection* connection, unsigned status, std::string_view text,
                           const char* type = "text/plain", HeaderList headers = {});

// The plain refusal used for every path that is missing or not allowed.
MHD_Result respondNotFound(MHD_Connection* connection);

}  // namespace corvane::server
