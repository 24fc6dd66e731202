#include "server/HttpRanges.h"

#include <libsoup/soup.h>

#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace corvane::server {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<uint64_t> parseNumber(std::string_view s) {
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// Weak comparison: "W/" prefixes do not matter for If-None-Match.
bool etagListMatches(std::string_view list, const std::string& etag) {
  const std::string_view ours = etag;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view item = trim(list.substr(start, end - start));
    if (item == "*") return true;
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == ours) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

RangeDecision decideRange(std::string_view header, uint64_t size) {
  RangeDecision full;
  header = trim(header);
  constexpr std::string_view unit = "bytes=";
  if (header.size() <= unit.size()) return full;
  for (size_t i = 0; i < unit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(header[i])) != unit[i]) return full;
  }
  const std::string_view ranges = trim(header.substr(unit.size()));
  if (ranges.find(',') != std::string_view::npos) return full;
  const size_t dash = ranges.find('-');
  if (dash == std::string_view::npos) return full;
  const std::string_view a = trim(ranges.substr(0, dash));
  const std::string_view b = trim(ranges.substr(dash + 1));

  RangeDecision out;
  if (a.empty()) {
    // Suffix form "-N": the last N bytes.
    const auto n = parseNumber(b);
    if (!n) return full;
    if (*n == 0 || size == 0) return {RangeKind::Unsatisfiable, {}};
    out.range.first = *n >= size ? 0 : size - *n;
    out.range.last = size - 1;
  } else {
    const auto first = parseNumber(a);
    if (!first) return full;
    std::optional<uint64_t> last;
    if (!b.empty()) {
      last = parseNumber(b);
      if (!last || *last < *first) return full;
    }
    if (*first >= size) return {RangeKind::Unsatisfiable, {}};
    out.range.first = *first;
    out.range.last = (!last || *last >= size) ? size - 1 : *last;
  }
  out.kind = RangeKind::Partial;
  return out;
}

std::string httpDate(std::time_t when) {
  // Fixed English names: strftime's %a and %b follow the process locale,
  // which the UI may have set to anything.
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  if (!::gmtime_r(&when, &tm)) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}

std::optional<std::time_t> parseHttpDate(const char* text) {
  if (!text) return std::nullopt;
  GDateTime* dt = soup_date_time_new_from_http_string(text);
  if (!dt) return std::nullopt;
  const std::time_t out = static_cast<std::time_t>(g_date_time_to_unix(dt));
  g_date_time_unref(dt);
  return out;
}

Validators validatorsFor(std::time_t mtime, uint64_t size) {
  Validators v;
  v.mtime = mtime;
  v.size = size;
  char tag[64];
  std::snprintf(tag, sizeof tag, "\"%" PRIx64 "-%" PRIx64 "\"", static_cast<uint64_t>(mtime),
                size);
  v.etag = tag;
  v.lastModified = httpDate(mtime);
  return v;
}

bool isNotModified(const char* ifNoneMatch, const char* ifModifiedSince, const Validators& v) {
  if (ifNoneMatch) return etagListMatches(ifNoneMatch, v.etag);
  const auto since = parseHttpDate(ifModifiedSince);
  return since && v.mtime <= *since;
}

bool ifRangeAllowsPartial(const char* ifRange, const Validators& v) {
  if (!ifRange) return true;
  const std::string_view value = trim(ifRange);
  if (!value.empty() && (value.front() == '"' || value.substr(0, 2) == "W/")) {
    // Only a strong, exact match may resume a partial transfer.
    return value == v.etag;
  }
  const auto date = parseHttpDate(ifRange);
  return date && *date == v.mtime;
}

}  // namespace corvane::server
