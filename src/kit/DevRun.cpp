#include "kit/DevRun.h"

#include "app/Bundle.h"
#include "app/CommandLine.h"
#include "app/Log.h"
#include "kit/CheckBundle.h"
#include "kit/KitPaths.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <ostream>

namespace fs = std::filesystem;

namespace corvane::kit {

namespace {

constexpr const char* kUsageText = "Usage: corvane-kit dev Name.app [--url http://localhost:PORT/] [--shell-log[=LEVEL]]\n";

}  // namespace

int runDev(const KitInvocation& call) {
  std::string bundlePath, url, shellLog;
  for (size_t i = 0; i < call.args.size(); ++i) {
    const std::string& a = call.args[i];
    if (a == "--url" && i + 1 < call.args.size()) {
      url = call.args[++i];
    } else if (a.rfind("--url=", 0) == 0) {
      url = a.substr(6);
    } else if (a == "--shell-log") {
      shellLog = "debug";
    } else if (a.rfind("--shell-log=", 0) == 0) {
      shellLog = a.substr(12);
      if (!logLevelNamed(shellLog)) {
        call.err << "corvane-kit dev: \"" << shellLog
                 << "\" is no log level (trace, debug, info, warn, error, critical, off)\n";
        return kUsage;
      }
    } else if (!a.empty() && a[0] == '-') {
      call.err << "corvane-kit dev: unknown option " << a << "\n" << kUsageText;
      return kUsage;
    } else if (bundlePath.empty()) {
      bundlePath = a;
    } else {
      call.err << kUsageText;
      return kUsage;
    }
  }
  if (bundlePath.empty()) {
    call.err << kUsageText;
    return kUsage;
  }
  std::string why;
  if (!url.empty() && !isLocalDevelopmentUrl(url, &why)) {
    call.err << "corvane-kit dev: --url " << url << ": " << why << "\n";
    return kUsage;
  }
  std::error_code ec;
  const std::string absolute = fs::absolute(bundlePath, ec).lexically_normal().string();
  {
    const auto level = log().level();
    log().set_level(spdlog::level::off);
    const bool opened = Bundle::open(absolute, &why).has_value();
    log().set_level(level);
    if (!opened) {
      call.err << "corvane-kit dev: " << bundlePath << ": " << why << "\n";
      return kUsage;
    }
  }
  // What the shell would trip over, said before it starts.
  const CheckReport report = checkBundle(bundlePath);
  for (const auto& f : report.findings)
    if (f.severity == Finding::Severity::Error) call.err << formatFinding(f) << "\n";

  const auto shell = shellExecutable();
  if (!shell) {
    call.err << "corvane-kit dev: the corvane shell is not beside this kit\n";
    return kFailed;
  }
  // The shell's own lines only on request; its errors always.
  setenv("CORVANE_LOG_LEVEL", shellLog.empty() ? "error" : shellLog.c_str(), 1);
  std::vector<std::string> args{*shell, "--dev"};
  if (!url.empty()) {
    args.push_back("--dev-url");
    args.push_back(url);
  }
  args.push_back("--bundle");
  args.push_back(absolute);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  call.out.flush();
  call.err.flush();
  std::cout.flush();
  execv(argv[0], argv.data());
  call.err << "corvane-kit dev: cannot start " << *shell << ": " << std::strerror(errno) << "\n";
  return kFailed;
}

}  // namespace corvane::kit
