#pragma once
// The texts a Debian package of an application carries besides the
// bundle: the control file, the copyright file, the changelog, the manual
// page of its launcher and the launcher itself.
#include "kit/AppMetadata.h"

#include <string>

namespace corvane::kit {

struct ControlFields {
  std::string architecture;  // "amd64", or "all" for a package without binaries
  std::string depends;
  std::string recommends;
  unsigned long long installedSizeKiB = 0;
};

std::string controlText(const AppMetadata& app, const ControlFields& fields);
std::string copyrightText(const AppMetadata& app);
// `date` as RFC 2822 ("Mon, 07 Dec 2026 15:59:00 +0000").
std::string changelogText(const AppMetadata& app, const std::string& date);
std::string manPageText(const AppMetadata& app, bool sharedShell);
// The launcher of a package that uses the installed shell: it runs
// /usr/bin/corvane on the bundle, with the files it is given.
std::string sharedLauncherScript(const std::string& installedBundle);

// $SOURCE_DATE_EPOCH, else now, as RFC 2822.
std::string packageDate();

// `data` compressed as gzip -9n does it (no name, no time stamp).
std::string gzipped(const std::string& data);

}  // namespace corvane::kit
