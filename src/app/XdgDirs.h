#pragma once
// The XDG base and user directories, read afresh from the environment and
// user-dirs.dirs on every call. GLib caches these for the life of the
// process, which would make a changed HOME or XDG_* variable invisible.
#include <string>

namespace corvane::xdg {

// Folders are answered without a trailing slash (but "/" stays "/"), so a
// HOME or XDG variable written with one never doubles the slash in paths
// built from it; tempDir() alone always ends with exactly one "/".
std::string homeDir();        // $HOME, else the password database entry
std::string configHome();     // $XDG_CONFIG_HOME or ~/.config
std::string dataHome();       // $XDG_DATA_HOME or ~/.local/share
std::string cacheHome();      // $XDG_CACHE_HOME or ~/.cache
std::string runtimeDir();     // $XDG_RUNTIME_DIR, else the temporary folder
std::string tempDir();        // $TMPDIR or /tmp, always ending with "/"

// A user directory by its user-dirs.dirs name without the XDG_ prefix and
// _DIR suffix ("DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC", "PICTURES",
// "VIDEOS"...). Falls back to ~/<fallback> when not configured.
std::string userDir(const std::string& name, const std::string& fallback);

// `folder` + "/" + `name`, with exactly one slash between them.
std::string join(const std::string& folder, const std::string& name);

}  // namespace corvane::xdg
