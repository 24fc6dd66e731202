#include "kit/KitPaths.h"

#include "app/CommandLine.h"

#include <filesystem>

#ifndef CORVANE_BIN_TO_DATA
#define CORVANE_BIN_TO_DATA "../share/corvane"
#endif
#ifndef CORVANE_BIN_TO_LIB
#define CORVANE_BIN_TO_LIB "../lib/corvane"
#endif
#ifndef CORVANE_BIN_TO_LIBEXEC
#define CORVANE_BIN_TO_LIBEXEC "../libexec/corvane"
#endif

namespace corvane::kit {
namespace {

std::optional<std::string> besideKit(const std::string& relative, const std::string& name) {
  const auto found = filesBesideExecutable({relative}, name);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::optional<std::string> folderBesideKit(const char* relative) {
  auto found = besideKit(relative, ".");
  if (!found) return std::nullopt;
  return std::filesystem::path(*found).lexically_normal().string();
}

}  // namespace

std::optional<std::string> shellExecutable() { return besideKit(".", "corvane"); }
std::optional<std::string> dataDirectory() { return folderBesideKit(CORVANE_BIN_TO_DATA); }
std::optional<std::string> privateLibraryDirectory() { return folderBesideKit(CORVANE_BIN_TO_LIB); }
std::optional<std::string> privateExecutableDirectory() { return folderBesideKit(CORVANE_BIN_TO_LIBEXEC); }

}  // namespace corvane::kit
