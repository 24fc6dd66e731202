#pragma once
// New windows a page asks for (window.open, links and forms aimed at a new
// window) and who asked. WebKit's requests do not name the frame that made
// them, so the application's own documents say so first: in every frame
// that holds the bridge, the extension wraps window.open and watches link
// clicks and form submissions, and announces the address synchronously,
// before WebKit sends its request. A request nobody announced comes from a
// document that is not the application's (a foreign frame, or content the
// application made without the bridge): it opens no application window and
// reaches no desktop handler, except an http(s) address the person asked
// for with a click, which goes to the default browser.
#include <chrono>
#include <deque>
#include <string>

namespace corvane::bridge {

class WindowRequests {
 public:
  using Clock = std::chrono::steady_clock;
  // How long an announcement waits for its request.
  static constexpr std::chrono::seconds kValidFor{2};

  // An application document is about to open `url` in a new window. A
  // form's address (`anyQuery`) also matches with another query, which a
  // GET submission puts there.
  void announce(std::string url, bool anyQuery, Clock::time_point now = Clock::now());
  // Whether an application document announced `url`; the announcement is
  // used up.
  bool take(const std::string& url, Clock::time_point now = Clock::now());

 private:
  struct Announced {
    std::string url;
    bool anyQuery;
    Clock::time_point at;
  };
  std::deque<Announced> pending_;
};

enum class NewWindowVerdict {
  Application,  // as the application asks: a window, or the desktop's handler
  Browser,      // not the application's, but the person clicked an http(s) link: the default browser
  Refused,
};

NewWindowVerdict newWindowVerdict(bool announced, const std::string& url, bool userGesture);

}  // namespace corvane::bridge
