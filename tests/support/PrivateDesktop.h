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

// Starts a program with stdin and stderr on /dev/null and stdout to `outFd`
// (or /dev/null), on `display` if one is given.
pid_t startProcess(const std::vector<std::string>& argv, const std::string& display = "", int outFd = -1);
// SIGTERM (also to a stopped process), SIGKILL after two seconds; sets
// `pid` to -1.
void stopProcess(pid_t& pid);

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

  // Runs a program on this display (for at most a minute) and answers its
  // standard output with the last line break removed; `status` gets the
  // exit status.
  std::string run(const std::vector<std::string>& argv, int* status = nullptr) const;
  // xdotool with these arguments; true when it succeeded.
  bool xdotool(const std::vector<std::string>& args) const;
  // Starts a program on this display in the background.
  pid_t spawn(const std::vector<std::string>& argv) const;

  // The window that has the focus as xdotool sees it (0: none), and its
  // process.
  unsigned long activeWindow() const;
  pid_t windowPid(unsigned long window) const;
  struct Geometry {
    unsigned long window = 0;
    int x = 0, y = 0, width = 0, height = 0;
  };
  // Where a window is and how large, as xdotool sees it.
  Geometry geometry(unsigned long window) const;
  // The largest visible top-level window of process `pid` (window 0: none).
  Geometry mainWindowOf(pid_t pid) const;
  // The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING).
  std::vector<unsigned long> stacking() const;
  // True once `window` is above `other` in the stacking order.
  bool waitAbove(unsigned long window, unsigned long other, double seconds) const;
  // Maps a screen-sized window of another application and waits until the
  // window manager put it on top; answers its id (0: it did not come).
  unsigned long coverScreen();

  // Polls until `test` holds, up to `seconds`.
  static bool waitFor(const std::function<bool()>& test, double seconds);

 private:
  // One try at the display (and the window manager); false with the reason.
  bool start(bool windowManager, std::string* why);

  pid_t xvfb_ = -1;
  pid_t wm_ = -1;
  pid_t cover_ = -1;
  std::string display_;
};

}  // namespace corvane::test
