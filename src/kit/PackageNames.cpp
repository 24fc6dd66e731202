#include "kit/PackageNames.h"

namespace corvane::kit {
namespace {

bool isAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// One version part: "-" as "~", the rest checked.
std::optional<std::string> versionPart(const std::string& text, const char* key, std::string* why) {
  std::string out;
  for (char c : text) {
    if (c == '-') c = '~';
    if (!isAsciiAlnum(c) && c != '.' && c != '+' && c != '~') {
      if (why) *why = std::string(key) + " \"" + text + "\" holds a character a package version cannot (letters, digits and \".+~-\" only)";
      return std::nullopt;
    }
    out += c;
  }
  return out;
}

}  // namespace

std::string debianPackageName(const std::string& identifier) {
  std::string out;
  for (size_t i = 0; i < identifier.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(identifier[i]);
    char mapped;
    if (c >= 'A' && c <= 'Z')
      mapped = static_cast<char>(c - 'A' + 'a');
    else if (isAsciiAlnum(static_cast<char>(c)) || c == '+' || c == '-' || c == '.')
      mapped = static_cast<char>(c);
    else
      mapped = '-';
    // A UTF-8 character is one "-", however many bytes it has.
    if (c >= 0xC0)
      while (i + 1 < identifier.size() && (static_cast<unsigned char>(identifier[i + 1]) & 0xC0) == 0x80) ++i;
    if ((mapped == '-' || mapped == '.') && !out.empty() && out.back() == mapped) continue;
    if (out.empty() && !isAsciiAlnum(mapped)) continue;
    out += mapped;
  }
  while (!out.empty() && (out.back() == '-' || out.back() == '.')) out.pop_back();
  return out.size() < 2 ? "" : out;
}

std::optional<std::string> debianVersion(const std::string& shortVersion, const std::string& buildVersion,
                                         std::string* why) {
  if (shortVersion.empty() || shortVersion[0] < '0' || shortVersion[0] > '9') {
    if (why) *why = "CFBundleShortVersionString \"" + shortVersion + "\" must start with a digit";
    return std::nullopt;
  }
  auto version = versionPart(shortVersion, "CFBundleShortVersionString", why);
  if (!version) return std::nullopt;
  if (!buildVersion.empty() && buildVersion != shortVersion) {
    auto build = versionPart(buildVersion, "CFBundleVersion", why);
    if (!build) return std::nullopt;
    *version += "+" + *build;
  }
  return version;
}

}  // namespace corvane::kit
