#pragma once
// How an application's identity becomes the names and versions of its
// packages. Platform-free and deterministic: the same bundle always gives
// the same names.
#include <optional>
#include <string>

namespace corvane::kit {

// The Debian package name of a bundle identifier: letters lower-cased,
// digits, "+", "-" and "." kept, every other character (the "_" that
// application ids allow, anything outside ASCII) becomes "-"; runs of "-"
// or of "." are shortened to one; characters before the first letter or
// digit and "-" or "." at the end are dropped. "com.Example.My_App" gives
// "com.example.my-app". Empty when fewer than two characters remain.
std::string debianPackageName(const std::string& identifier);

// The package version of a bundle: CFBundleShortVersionString, with
// "+<CFBundleVersion>" appended when the build version is given and differs
// from it. A "-" becomes "~" (so "2.0-beta1" sorts before "2.0", as a
// pre-release should; package versions without a Debian revision may not
// hold "-"). nullopt with a reason when a version holds anything else than
// letters, digits and ".+~-", or does not start with a digit.
std::optional<std::string> debianVersion(const std::string& shortVersion, const std::string& buildVersion,
                                         std::string* why);

}  // namespace corvane::kit
