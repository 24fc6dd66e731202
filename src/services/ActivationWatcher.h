#pragma once
// Tells when an application becomes active: this one (one of its windows
// gains the focus) or another (the display's active window changes, as the
// window manager reports through _NET_ACTIVE_WINDOW on X11).
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

  // Starts watching a window of this application.
  void watchOwnWindow(void* gtkWindow);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace corvane
