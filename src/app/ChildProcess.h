#pragma once
// Starting a command-line tool as a child process the way a terminal would:
// default signal dispositions and an empty signal mask (whatever this
// process ignores or blocks, SIGPIPE above all, is not handed on), the
// given working folder and environment.
#include <sys/types.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {

// Why a tool could not be started; the text names the path at fault.
class ChildStartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ChildSpec {
  std::string tool;                        // path of the executable
  std::vector<std::string> arguments;      // without the tool itself
  std::string workingFolder;               // empty: ours
  std::map<std::string, std::string> env;  // empty: inherit ours
};

// Starts the tool. Throws ChildStartError naming a missing working folder
// or a tool that cannot be launched.
pid_t startChild(const ChildSpec& spec);

// Waits for `pid` to end: its exit status, or 128 + the signal that ended it.
int waitForChild(pid_t pid);

}  // namespace corvane
