#pragma once
// A desktop of a test's own: a virtual X display (Xvfb) and, when asked, a
// window manager (openbox) on it, so that focus, the active window and the
// pointer belong to this test alone while other suites share the session's
// display. Real input arrives through XTEST with xdotool.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

class PrivateDesktop {
 public:
  // Throws std::runtime_error when the display (or the window manager)
  // does not come up.
  explicit PrivateDesktop(bool windowManager);
  ~PrivateDesktop();
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  // ":N"
  const std::string& display() const { return display_; }

  // Runs a program on this display and answers its standard output with
  // the last line break removed; `status` gets the exit status.
  std::string run(const std::vector<std::string>& argv, int* status = nullptr) const;
  // xdotool with these arguments; true when it succeeded.
  bool xdotool(const std::vector<std::string>& args) const;
  // Starts a program on this display in the background.
  pid_t spawn(const std::vector<std::string>& argv) const;

  // The window that has the focus as xdotool sees it (0: none), and its
  // process.
  unsigned long activeWindow() const;
  pid_t windowPid(unsigned long window) const;
  // Polls until `test` holds, up to `seconds`.
  static bool waitFor(const std::function<bool()>& test, double seconds);

 private:
  // One try at the display (and the window manager); false with the reason.
  bool start(bool windowManager, std::string* why);

  pid_t xvfb_ = -1;
  pid_t wm_ = -1;
  std::string display_;
};

}  // namespace corvane::test
