#include "app/ShellMain.h"

#include "app/AppDelegate.h"
#include "app/Bundle.h"
#include "app/CommandLine.h"
#include "app/LaunchTrace.h"
#include "app/Relaunch.h"
#include "app/Utils.h"

#include <glib.h>

#include <iostream>

namespace corvane {

int shellMain(int argc, char** argv) {
  launchTraceStart();
  // Read now: an update may replace the executable while the application runs.
  startExecutablePath();
  const CommandLine cli = CommandLine::parse(argc, argv);
  switch (cli.action) {
    case CommandLine::Action::Help:
      std::cout << CommandLine::usage(argv[0]);
      return 0;
    case CommandLine::Action::Version:
      std::cout << CommandLine::version();
      return 0;
    case CommandLine::Action::Error:
      std::cerr << "corvane: " << cli.error << "\n" << CommandLine::usage(argv[0]);
      return kUsageExitStatus;
    case CommandLine::Action::Run:
      break;
  }

  auto bundlePath = resolveBundlePath(cli, currentExecutablePath());
  if (!bundlePath) {
    std::cerr << "corvane: no application bundle: pass --bundle PATH, or run the executable "
                 "from the Contents/MacOS folder of a bundle\n";
    return kUsageExitStatus;
  }
  std::string why;
  auto bundle = Bundle::open(*bundlePath, &why);
  if (!bundle) {
    std::cerr << "corvane: " << why << "\n";
    return kUsageExitStatus;
  }
  Bundle::setMain(std::move(*bundle));
  Utils::applyConfiguredLogLevel(Bundle::main());
  launchStep("bundle opened");
  return AppDelegate::run(argc, argv, cli);
}

}  // namespace corvane
