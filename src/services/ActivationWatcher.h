#pragma once
// Tells when the active application changes: this one becomes active after
// another one was (one of its windows, dialogs and choosers included, gains
// the focus), or another one becomes active (on X11 the window manager names
// the active window in the root window's _NET_ACTIVE_WINDOW). Focus moving
// between this application's own windows, or between two windows of the
// same other application, changes nothing.
#include <functional>
#include <string>

namespace corvane {

class ActivationWatcher {
 public:
  using Handler = std::function<void(const std::string& localizedName, const std::string& bundleURL)>;
  explicit ActivationWatcher(Handler handler);
  ~ActivationWatcher();
  ActivationWatcher(const ActivationWatcher&) = delete;
  ActivationWatcher& operator=(const ActivationWatcher&) = delete;

 private:
  Handler handler_;
  friend class ActiveApplication;
};

}  // namespace corvane
