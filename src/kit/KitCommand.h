#pragma once
// One subcommand of `corvane-kit`: its name, a line of help and the function
// that runs it. Each subcommand lives in its own module (Package*.cpp,
// New*.cpp, ...) and has one row in the table of KitCommands.cpp.
#include <iosfwd>
#include <string>
#include <vector>

namespace corvane::kit {

// Exit statuses shared by every subcommand.
constexpr int kOk = 0;
// The work could not be done, or a check found errors.
constexpr int kFailed = 1;
// A bad command line, or an argument that is not what it must be (a path
// that is not a bundle).
constexpr int kUsage = 2;

struct KitInvocation {
  std::vector<std::string> args;  // after the subcommand's name
  std::ostream& out;              // results (paths written, reports)
  std::ostream& err;              // messages for the person at the terminal
};

struct KitCommand {
  const char* name;
  const char* summary;  // one line for `corvane-kit help`
  const char* usage;    // the subcommand's synopsis and options
  int (*run)(const KitInvocation&);
};

// Every subcommand, in the order `help` lists them.
const std::vector<KitCommand>& kitCommands();

// The table's entry point: runs argv[1] with the rest, or prints help.
int runKit(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);

}  // namespace corvane::kit
