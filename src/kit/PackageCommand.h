#pragma once
// `corvane-kit package deb|flatpak ...`: the command line of the packaging
// subcommand, handed to PackageDeb or PackageFlatpak.
#include "kit/KitCommand.h"

namespace corvane::kit {

int runPackage(const KitInvocation& call);

extern const char* const kPackageUsage;

}  // namespace corvane::kit
