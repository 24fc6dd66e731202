#include "server/HttpRanges.h"

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

namespace {

int monthIndex(std::string_view name) {
  static constexpr std::string_view kNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string lowered;
  for (char ch : name) lowered.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
  for (int i = 0; i < 12; ++i)
    if (kNames[i] == lowered) return i;
  return -1;
}

}  // namespace

std::optional<std::time_t> parseHttpDate(const char* text) {
  if (!text) return std::nullopt;
  // The three forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT",
  // "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994".
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  std::string_view s = trim(text);
  const size_t comma = s.find(',');
  std::string rest(comma == std::string_view::npos ? s : trim(s.substr(comma + 1)));
  bool ok = false;
  if (comma != std::string_view::npos) {
    ok = std::sscanf(rest.c_str(), "%2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", &day, month, &year, &hour,
                     &minute, &second, &used) == 6 && static_cast<size_t>(used) == rest.size();
    if (!ok) {
      used = 0;
      ok = std::sscanf(rest.c_str(), "%2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", &day, month, &year,
                       &hour, &minute, &second, &used) == 6 && static_cast<size_t>(used) == rest.size();
      if (ok) year += year < 70 ? 2000 : 1900;
    }
  } else {
    char weekday[4] = {};
    ok = std::sscanf(rest.c_str(), "%3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", weekday, month,
                     &day, &hour, &minute, &second, &year, &used) == 7 &&
         static_cast<size_t>(used) == rest.size();
  }
  const int mon = ok ? monthIndex(month) : -1;
  if (mon < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = mon;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return ::timegm(&tm);
}

Validators validatorsFor(const FileStamp& stamp, const struct timespec& now) {
  Validators v;
  const struct timespec& changed =
      (stamp.ctime.tv_sec > stamp.mtime.tv_sec ||
       (stamp.ctime.tv_sec == stamp.mtime.tv_sec && stamp.ctime.tv_nsec > stamp.mtime.tv_nsec))
          ? stamp.ctime
          : stamp.mtime;
  const int64_t sinceNs = (static_cast<int64_t>(now.tv_sec) - changed.tv_sec) * 1'000'000'000 +
                          (now.tv_nsec - changed.tv_nsec);
  if (sinceNs < 1'000'000'000) return v;  // recent, or in the future
  v.present = true;
  v.modified = changed.tv_sec;
  char tag[128];
  std::snprintf(tag, sizeof tag, "\"%" PRIx64 "-%" PRIx64 "-%" PRIx64 ".%09ld-%" PRIx64 ".%09ld\"",
                stamp.inode, stamp.size, static_cast<uint64_t>(stamp.mtime.tv_sec),
                static_cast<long>(stamp.mtime.tv_nsec), static_cast<uint64_t>(stamp.ctime.tv_sec),
                static_cast<long>(stamp.ctime.tv_nsec));
  v.etag = tag;
  v.lastModified = httpDate(v.modified);
  return v;
}

bool isNotModified(const char* ifNoneMatch, const char* ifModifiedSince, const Validators& v) {
  if (!v.present) return false;
  if (ifNoneMatch) return etagListMatches(ifNoneMatch, v.etag);
  const auto since = parseHttpDate(ifModifiedSince);
  return since && v.modified <= *since;
}

bool ifRangeAllowsPartial(const char* ifRange, const Validators& v) {
  if (!ifRange) return true;
  if (!v.present) return false;
  const std::string_view value = trim(ifRange);
  if (!value.empty() && (value.front() == '"' || value.substr(0, 2) == "W/")) {
    // Only a strong, exact match may resume a partial transfer.
    return value == v.etag;
  }
  const auto date = parseHttpDate(ifRange);
  return date && *date == v.modified;
}

}  // namespace corvane::server
