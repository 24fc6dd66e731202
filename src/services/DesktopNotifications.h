#pragma once
// Notifications on the desktop's notification service
// (org.freedesktop.Notifications), shared by `growl` and `notice`.
// Choosing a notification (its default action) brings the application's
// main window to the front.
//
// Nothing here waits for the service: a message is sent and its answer
// handled when it comes, so a service that is slow or stopped never holds
// up the page. Use on the main thread.
#include <string>

namespace corvane::notifications {

// True when a notification service answers on the session bus (asked at
// most once every few seconds; the answer may take up to 3 s).
bool serviceAnswers();

struct Message {
  std::string appName;    // shown as the sender
  std::string title;
  std::string body;
  std::string soundName;  // a sound-theme name, or "" for none
};

// Sends the message to the service, or queues it while the service owes
// answers to earlier ones; "" when it went out or waits its turn, otherwise
// why it could not (no session bus, or the service stopped answering and
// the queue is full). What the service answers later is logged.
std::string post(const Message& message);

// Messages at most on their way to a service that has not answered them,
// and waiting behind those.
inline constexpr int kMaxUnanswered = 16;
inline constexpr int kMaxWaiting = 48;

}  // namespace corvane::notifications
