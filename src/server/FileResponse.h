#pragma once
#include "server/DocumentRoot.h"

#include <libsoup/soup.h>

#include <string>

namespace corvane::server {

// Answers `msg` with the open regular file of `file`: Content-Type by name,
// Last-Modified/ETag with 304 for a current cache, a single byte range with
// 206 (416 when it misses the file), and HEAD with headers only. The body is
// read chunk by chunk as the socket drains, so a large file never sits in
// memory whole and a slow reader holds one chunk at most.
void respondWithFile(SoupServerMessage* msg, ResolvedFile&& file, bool headOnly);

// The plain refusal used for every path that is missing or not allowed.
void respondNotFound(SoupServerMessage* msg);

}  // namespace corvane::server
