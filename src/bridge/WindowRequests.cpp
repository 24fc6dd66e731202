#include "bridge/WindowRequests.h"

#include <glib.h>

namespace corvane::bridge {
namespace {

constexpr size_t kMostPending = 32;

// window.open() and window.open("") both open about:blank; a fragment is
// the page's own business.
std::string normal(std::string url) {
  url = url.substr(0, url.find('#'));
  return url.empty() ? "about:blank" : url;
}

std::string withoutQuery(const std::string& url) { return url.substr(0, url.find('?')); }

}  // namespace

void WindowRequests::announce(std::string url, bool anyQuery, Clock::time_point now) {
  while (!pending_.empty() && (pending_.size() >= kMostPending || now - pending_.front().at > kValidFor))
    pending_.pop_front();
  pending_.push_back({normal(std::move(url)), anyQuery, now});
}

bool WindowRequests::take(const std::string& url, Clock::time_point now) {
  const std::string wanted = normal(url);
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (now - it->at > kValidFor) continue;
    if (it->url == wanted || (it->anyQuery && withoutQuery(it->url) == withoutQuery(wanted))) {
      pending_.erase(it);
      return true;
    }
  }
  return false;
}

NewWindowVerdict newWindowVerdict(bool announced, const std::string& url, bool userGesture) {
  if (announced) return NewWindowVerdict::Application;
  gchar* scheme = g_uri_parse_scheme(url.c_str());
  const bool web = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
  g_free(scheme);
  return web && userGesture ? NewWindowVerdict::Browser : NewWindowVerdict::Refused;
}

}  // namespace corvane::bridge
