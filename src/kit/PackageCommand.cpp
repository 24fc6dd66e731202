#include "kit/PackageCommand.h"

#include "kit/PackageDeb.h"
#include "kit/PackageFlatpak.h"

#include <optional>
#include <ostream>

namespace corvane::kit {

const char* const kPackageUsage =
    "corvane-kit package deb Name.app [-o DIR] [--standalone]\n"
    "       corvane-kit package flatpak Name.app -o DIR [--shell-source DIR]\n"
    "  deb      writes DIR/<package>_<version>_<arch>.deb (DIR: the current folder by\n"
    "           default) and prints its path; the package depends on the corvane\n"
    "           package, or with --standalone carries its own copy of the shell\n"
    "  flatpak  writes DIR/<identifier>.json, a Flatpak manifest, with the files it\n"
    "           names; --shell-source names the shell's source tree for its module";

namespace {

int usage(const KitInvocation& call, const std::string& why) {
  call.err << "corvane-kit package: " << why << "\nUsage: " << kPackageUsage << "\n";
  return kUsage;
}

}  // namespace

int runPackage(const KitInvocation& call) {
  const auto& args = call.args;
  if (args.empty()) return usage(call, "name a package format (deb or flatpak)");
  const std::string format = args.front();
  if (format != "deb" && format != "flatpak") return usage(call, "no package format '" + format + "'");
  std::optional<std::string> bundle, output, shellSource;
  bool standalone = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    if (a == "-o" || a == "--output") {
      if (!value(output)) return usage(call, a + " needs a folder");
    } else if (a.rfind("--output=", 0) == 0) {
      output = a.substr(9);
    } else if (a == "--standalone" && format == "deb") {
      standalone = true;
    } else if (a == "--shell-source" && format == "flatpak") {
      if (!value(shellSource)) return usage(call, a + " needs a folder");
    } else if (!a.empty() && a.front() == '-') {
      return usage(call, "unknown option " + a);
    } else if (bundle) {
      return usage(call, "one bundle at a time ('" + *bundle + "' and '" + a + "')");
    } else {
      bundle = a;
    }
  }
  if (!bundle) return usage(call, "name the application bundle (Name.app)");
  if (output && output->empty()) return usage(call, "the output folder is empty");
  if (format == "deb") {
    DebRequest request{*bundle, output.value_or("."), standalone};
    return packageDeb(request, call.out, call.err);
  }
  if (!output) return usage(call, "flatpak needs -o DIR");
  FlatpakRequest request{*bundle, *output, shellSource.value_or("")};
  return packageFlatpak(request, call.out, call.err);
}

}  // namespace corvane::kit
