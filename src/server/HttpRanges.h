#pragma once
// Byte ranges and conditional requests for static files: the pure decisions,
// kept apart from the I/O so they can be checked case by case.
#include <cstdint>
#include <ctime>
#include <time.h>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::server {

struct ByteRange {
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
  uint64_t length() const { return last - first + 1; }
};

enum class RangeKind {
  Full,           // no usable Range header: send the whole file with 200
  Partial,        // one satisfiable range: 206
  Unsatisfiable,  // a well-formed single range that misses the file: 416
};

struct RangeDecision {
  RangeKind kind = RangeKind::Full;
  ByteRange range;
};

// Reads a Range header value for a file of `size` bytes. Only the "bytes"
// unit with a single range is honoured; several ranges are answered with the
// whole file (a valid answer that spares multipart bodies), and a malformed
// header is ignored as if absent.
RangeDecision decideRange(std::string_view header, uint64_t size);

// What identifies one version of a file: every change of its content
// changes at least one of these (an in-place rewrite the modification and
// change times, a replacement the inode, a copy that keeps the old
// modification time the change time).
struct FileStamp {
  uint64_t inode = 0;
  uint64_t size = 0;
  struct timespec mtime {};
  struct timespec ctime {};
};

// The validators sent with a file. None while the file changed less than a
// second ago: file times advance in clock ticks, so a second change within
// the same tick would keep the validators a client already holds.
struct Validators {
  bool present = false;
  std::time_t modified = 0;  // the later of the two file times, in seconds
  std::string etag;          // strong, quoted
  std::string lastModified;  // HTTP date
};

Validators validatorsFor(const FileStamp& stamp, const struct timespec& now);

// HTTP date text ("Sun, 06 Nov 1994 08:49:37 GMT") <-> seconds since 1970.
std::string httpDate(std::time_t when);
std::optional<std::time_t> parseHttpDate(const char* text);

// True when the request's validators say the cached copy is current (304).
// If-None-Match takes precedence over If-Modified-Since, as HTTP requires.
bool isNotModified(const char* ifNoneMatch, const char* ifModifiedSince, const Validators& v);

// An If-Range that does not match the current version turns a range request
// into a full one. Absent: ranges allowed.
bool ifRangeAllowsPartial(const char* ifRange, const Validators& v);

}  // namespace corvane::server
