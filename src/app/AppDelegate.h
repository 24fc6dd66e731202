#pragma once
#include "app/CommandLine.h"

namespace corvane {

// The application delegate: runs the launch and the main loop.
class AppDelegate {
 public:
  static int run(int argc, char** argv, const CommandLine& cli);
};

}  // namespace corvane
