#pragma once
// The `corvane` command line: which bundle to run and which files to open.
#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::string bundlePath;          // empty: find it from the executable
  std::vector<std::string> files;  // files to open, after the options
  std::string error;               // for Action::Error
  // Development mode (--dev): developer tools on, the page's console on
  // stdout, the page reloaded when its files change. Only ever from the
  // command line: it widens what a page may reach (see devUrl).
  bool dev = false;
  // --dev-url URL (implies --dev): the page comes from the author's own
  // development server on this computer, and that origin gets the bridge
  // as the start page's origin does.
  std::string devUrl;

  static CommandLine parse(int argc, char** argv);
  static std::string usage(const std::string& program);
  static std::string version();
};

// The file arguments as the paths to open, in order. Every argument is a
// file, never an option. An argument that names an existing item is a path
// even when it looks like a URI ("a:b.txt"); relative paths are taken from
// `cwd`; "file:" URIs become their path, and other URIs ("scheme://...") the
// local path GIO maps them to. What cannot become a local path (an empty
// argument, an http URI) is left out with the reason in `skipped`, for the
// log: the page receives paths only.
struct FilesToOpen {
  std::vector<std::string> paths;
  std::vector<std::string> skipped;
};
FilesToOpen filesToOpen(const std::vector<std::string>& arguments, const std::string& cwd);

// Whether `url` may serve as a development page: http or https on this
// computer (localhost, 127.0.0.0/8, [::1]), without user information. A
// development server elsewhere would hand the bridge, and with it the
// user's files, to another machine. `why` says what is wrong.
bool isLocalDevelopmentUrl(const std::string& url, std::string* why = nullptr);

// Exit status for a command line or bundle that cannot be used.
constexpr int kUsageExitStatus = 2;
// Exit status for a main configuration the application cannot start with
// (a launch key of the wrong type), after the alert that names the key
// (sysexits' EX_CONFIG).
constexpr int kConfigurationErrorExitStatus = 78;

// The bundle to run: the --bundle option, else the bundle holding the
// running executable in its Contents/MacOS folder.
std::optional<std::string> resolveBundlePath(const CommandLine& cli, const std::string& executable);

// The path of the running executable (/proc/self/exe).
std::string currentExecutablePath();

// `file` in each of `folders` that holds it, in their order, as canonical
// paths. A relative folder is taken from the running executable's folder:
// how the shell finds the parts it loads at run time (the web extension,
// the image codec) in the build tree and in an installed tree alike.
std::vector<std::string> filesBesideExecutable(const std::vector<std::string>& folders, const std::string& file);

}  // namespace corvane
