#pragma once
// Replacing a file's whole content so that a crash, a kill or a full disk at
// any moment leaves either the old or the new content, never a torn or
// emptied file: the bytes go to a temporary file beside the target, which is
// flushed to disk and then renamed over the target; the folder is flushed
// too, so the rename holds.
//
// What users rely on survives the replacement: the target's permission bits
// and owner; a symbolic link stays a link (the file it points to is
// replaced, beside that file); a device or a pipe is written in place, never
// replaced by a plain file. Where a replacement cannot keep the owner (a
// file of another user in a folder this user may write) or the folder takes
// no new files, the content is written in place instead, after the disk
// space for it was reserved where the file system allows.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane {

struct AtomicWrite {
  // Where a failure happened. `Open`: before any byte was written (the
  // target is a folder or may not be written, the folder is missing or
  // takes no files); nothing changed. `Write`: writing or flushing the
  // bytes; the target is as it was (unless it had to be written in place).
  // `Replace`: the rename; the target is as it was.
  enum class Stage { None, Open, Write, Replace };
  bool ok = false;
  Stage stage = Stage::None;
  int error = 0;        // errno of the failure
  std::string message;  // "cannot save <path>: <reason>" (app/ErrorText)
};

// Writes `data` as the new content of `path`. A new file gets `newFileMode`
// less the umask; an existing one keeps its own bits and owner. On failure
// no temporary file is left behind and the target was not replaced.
AtomicWrite replaceFileContent(const std::string& path, std::string_view data, mode_t newFileMode = 0644);

// The same, answering only whether it worked (with the message in `error`).
bool writeFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                         std::string* error = nullptr);

// The file a write to `path` reaches: symbolic links followed to their end,
// also when the last one points at nothing yet. The path itself when it is
// no link (or the links loop).
std::string finalLinkTarget(const std::string& path);

}  // namespace corvane
