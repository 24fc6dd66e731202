#include "kit/KitCommand.h"
#include "kit/PackageCommand.h"

#include "kit/CheckBundle.h"
#include "kit/DevRun.h"
#include "kit/NewApp.h"

#include <ostream>

namespace corvane::kit {
namespace {

int help(const KitInvocation& call);

}  // namespace

const std::vector<KitCommand>& kitCommands() {
  static const std::vector<KitCommand> commands = {
      {"help", "show this help, or a subcommand's", "corvane-kit help [SUBCOMMAND]", help},
      {"new", "make a new application bundle that runs at once", "corvane-kit new Name [--id reverse.dns.id] [DIR]",
       runNew},
      {"dev", "run an application for development: developer tools, console, reload on save",
       "corvane-kit dev Name.app [--url http://localhost:PORT/] [--shell-log[=LEVEL]]", runDev},
      {"check", "check a bundle's Info.plist and configuration as the shell reads them", "corvane-kit check Name.app",
       runCheck},
      {"package", "make a Debian package or a Flatpak manifest of an application", kPackageUsage, runPackage},
  };
  return commands;
}

namespace {

const KitCommand* find(const std::string& name) {
  for (const KitCommand& command : kitCommands())
    if (name == command.name) return &command;
  return nullptr;
}

void overview(std::ostream& out) {
  out << "Usage: corvane-kit SUBCOMMAND [ARGS...]\n"
         "The developer's command of the Corvane shell.\n\n";
  for (const KitCommand& command : kitCommands()) out << "  " << command.name << "\t" << command.summary << "\n";
  out << "\n'corvane-kit help SUBCOMMAND' shows a subcommand's options.\n"
         "Exit status: 0 on success, 1 when the work failed or a check found errors,\n"
         "2 for a bad command line or an argument that is not what it must be.\n";
}

int help(const KitInvocation& call) {
  if (call.args.empty()) {
    overview(call.out);
    return kOk;
  }
  const KitCommand* command = find(call.args.front());
  if (!command) {
    call.err << "corvane-kit: no subcommand '" << call.args.front() << "'\n";
    return kUsage;
  }
  call.out << "Usage: " << command->usage << "\n" << command->summary << "\n";
  return kOk;
}

}  // namespace

int runKit(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
  if (argv.size() < 2) {
    overview(err);
    return kUsage;
  }
  const std::string& name = argv[1];
  if (name == "-h" || name == "--help") return help({{}, out, err});
  if (name == "-V" || name == "--version") {
    out << "corvane-kit " << CORVANE_VERSION << "\n";
    return kOk;
  }
  const KitCommand* command = find(name);
  if (!command) {
    err << "corvane-kit: no subcommand '" << name << "'\n";
    overview(err);
    return kUsage;
  }
  return command->run({std::vector<std::string>(argv.begin() + 2, argv.end()), out, err});
}

}  // namespace corvane::kit
