#pragma once
// Replacing a file's whole content so that a crash or a kill at any moment
// leaves either the old or the new content, never a torn file: the bytes go
// to a temporary file beside the target, which is flushed to disk and then
// renamed over the target; the folder is flushed too, so the rename holds.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane {

// Writes `data` as the new content of `path`. The new file gets `mode`
// (before the umask) when the target does not exist yet, otherwise the
// target's own permission bits. False with a reason in `error` when the
// temporary file cannot be made, written or renamed; the target is then
// untouched and no temporary file is left behind.
bool writeFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                         std::string* error = nullptr);

}  // namespace corvane
