// Process entry: command line, bundle, then the application delegate.
#include "app/AppDelegate.h"
#include "app/Bundle.h"
#include "app/CommandLine.h"
#include "app/Relaunch.h"
#include "app/Utils.h"

#include <glib.h>

#include <iostream>

int main(int argc, char** argv) {
  using corvane::CommandLine;
  // Read now: an update may replace the executable while the application runs.
  corvane::startExecutablePath();
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
      return corvane::kUsageExitStatus;
    case CommandLine::Action::Run:
      break;
  }

  auto bundlePath = corvane::resolveBundlePath(cli, corvane::currentExecutablePath());
  if (!bundlePath) {
    std::cerr << "corvane: no application bundle: pass --bundle PATH, or run the executable "
                 "from the Contents/MacOS folder of a bundle\n";
    return corvane::kUsageExitStatus;
  }
  std::string why;
  auto bundle = corvane::Bundle::open(*bundlePath, &why);
  if (!bundle) {
    std::cerr << "corvane: " << why << "\n";
    return corvane::kUsageExitStatus;
  }
  corvane::Bundle::setMain(std::move(*bundle));
  corvane::Utils::applyConfiguredLogLevel(corvane::Bundle::main());
  return corvane::AppDelegate::run(argc, argv, cli);
}
