#pragma once
// A virtual display of its own with a window manager (openbox) on it, for
// tests of what a window manager decides: size hints, user resizing and
// focus. Tests share the session's display otherwise, where no window
// manager runs; this one belongs to the test that made it.
#include "support/PrivateDesktop.h"

#include <string>
#include <sys/types.h>

namespace corvane::life {

class WmDisplay {
 public:
  // ":N", for the DISPLAY of the processes under test.
  const std::string& name() const { return desktop_.display(); }
  // Runs a shell command against this display; answers its standard output.
  std::string run(const std::string& command) const;

 private:
  corvane::test::PrivateDesktop desktop_{true};
};

struct XGeometry {
  long window = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

// The largest visible top-level window of process `pid` on `display`
// (window 0 when there is none).
XGeometry mainWindowOf(const WmDisplay& display, pid_t pid);
XGeometry geometryOf(const WmDisplay& display, long window);

}  // namespace corvane::life
