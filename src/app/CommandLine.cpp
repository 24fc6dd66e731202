#include "app/CommandLine.h"

#include "app/Bundle.h"

#include <unistd.h>

#include <climits>
#include <cstring>

namespace corvane {

CommandLine CommandLine::parse(int argc, char** argv) {
  CommandLine cli;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      cli.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      cli.action = Action::Help;
      return cli;
    } else if (arg == "-V" || arg == "--version") {
      cli.action = Action::Version;
      return cli;
    } else if (arg == "--bundle" || arg == "-b") {
      if (i + 1 >= argc) {
        cli.action = Action::Error;
        cli.error = "option " + arg + " needs a bundle path";
        return cli;
      }
      cli.bundlePath = argv[++i];
    } else if (arg.rfind("--bundle=", 0) == 0) {
      cli.bundlePath = arg.substr(9);
    } else {
      cli.action = Action::Error;
      cli.error = "unknown option " + arg;
      return cli;
    }
  }
  return cli;
}

std::string CommandLine::usage(const std::string& program) {
  return "Usage: " + program + " [--bundle PATH] [FILE...]\n"
         "Run the application in an application bundle (<Name>.app).\n"
         "\n"
         "  -b, --bundle PATH  the bundle to run; without it, the bundle whose\n"
         "                     Contents/MacOS folder holds this executable\n"
         "  -h, --help         show this help and exit\n"
         "  -V, --version      show the version and exit\n"
         "\n"
         "FILEs are handed to the application to open.\n"
         "Exit status: 0 on success, 2 for a bad command line or bundle,\n"
         "72 when the bundle has no main configuration (or none that can be read),\n"
         "78 when a key of the main configuration has the wrong type (an alert\n"
         "names it first).\n";
}

std::string CommandLine::version() { return std::string("corvane ") + CORVANE_VERSION + "\n"; }

std::string currentExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::optional<std::string> resolveBundlePath(const CommandLine& cli, const std::string& executable) {
  if (!cli.bundlePath.empty()) return cli.bundlePath;
  return Bundle::containingBundle(executable);
}

}  // namespace corvane
