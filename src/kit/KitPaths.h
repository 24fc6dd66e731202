#pragma once
// Where the kit finds the shell and the shell's shared data. Only relative
// to its own executable: the build tree mirrors the installed layout
// (bin/, lib/corvane/, share/corvane/), so the same lookup serves a build
// folder and an installed tree, and no build-folder path is compiled in.
#include <optional>
#include <string>

namespace corvane::kit {

// The `corvane` shell beside the kit (same bin folder).
std::optional<std::string> shellExecutable();
// <datadir>/corvane: schema/, types/, js/, templates/.
std::optional<std::string> dataDirectory();
// <libdir>/corvane: web-extensions/, modules/.
std::optional<std::string> privateLibraryDirectory();
// <libexecdir>/corvane: the agent helper.
std::optional<std::string> privateExecutableDirectory();

}  // namespace corvane::kit
