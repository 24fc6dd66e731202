#pragma once
// Notifications on the desktop's notification service
// (org.freedesktop.Notifications) through libnotify, shared by `growl` and
// `notice`. Choosing a notification (its default action) brings the
// application's main window to the front.
#include <string>

namespace corvane::notifications {

// True when a notification service answers on the session bus now.
bool serviceAnswers();

struct Message {
  std::string appName;    // shown as the sender
  std::string title;
  std::string body;
  std::string soundName;  // a sound-theme name, or "" for none
};

// Shows the message; "" on success, otherwise the service's error text.
std::string post(const Message& message);

}  // namespace corvane::notifications
