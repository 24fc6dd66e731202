#include "services/FileOperations.h"

#include "app/ErrorText.h"
#include "app/Log.h"
#include "app/Utils.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace corvane::fileops {
namespace {

constexpr GFileQueryInfoFlags kNoFollow = G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS;

struct GErrorHolder {
  GError* e = nullptr;
  ~GErrorHolder() {
    if (e) g_error_free(e);
  }
  GError** out() { return &e; }
};

// The cause of a failure inside a tree walk, before the sentence is made.
struct Cause {
  int code = 0;
  std::string reason;
};

void note(Cause& cause, const GError* e) {
  if (!e) return;
  cause.code = errnoForGError(e);
  cause.reason = reasonForGError(e);
}

void fail(Failure* failure, const char* verb, const std::string& src, const std::string& dest, int code,
          const std::string& reason) {
  if (failure) *failure = {code, std::string("cannot ") + verb + " " + src + " to " + dest + ": " + reason};
}

// GIO reads a path up to its first U+0000 and would act on the file its
// prefix names; such a path names no file (Utils::fsPath), and the
// operation fails as for a missing file.
bool namesAFile(const std::string& path) { return !Utils::namesNoFile(path); }

GFileType typeOf(GFile* f) {
  return g_file_query_file_type(f, kNoFollow, nullptr);
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Why nothing can arrive at `dest`: its folder is missing or no folder
// (0 when it is there).
int destinationFolderMissing(const std::string& dest, std::string& reason) {
  const std::string folder = parentOf(dest);
  struct stat st{};
  if (::stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return 0;
    reason = folder + " is not a folder";
    return ENOTDIR;
  }
  if (errno != ENOENT && errno != ENOTDIR) return 0;  // the copy reports it
  reason = "the folder " + folder + " does not exist";
  return ENOENT;
}

// One item and everything below it; `dest` does not exist yet.
bool copyTree(GFile* src, GFile* dest, Cause& cause) {
  GErrorHolder err;
  if (typeOf(src) != G_FILE_TYPE_DIRECTORY) {
    // Files, links (as links) and special files, with their attributes.
    const auto flags =
        static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_ALL_METADATA);
    if (g_file_copy(src, dest, flags, nullptr, nullptr, nullptr, err.out())) return true;
    // Some file systems refuse owners or times; the content still counts.
    GErrorHolder plain;
    if (g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED) &&
        !g_file_query_exists(dest, nullptr) &&
        g_file_copy(src, dest, G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr, nullptr, plain.out()))
      return true;
    note(cause, plain.e ? plain.e : err.e);
    return false;
  }
  if (!g_file_make_directory(dest, nullptr, err.out())) {
    note(cause, err.e);
    return false;
  }
  GFileEnumerator* children = g_file_enumerate_children(src, G_FILE_ATTRIBUTE_STANDARD_NAME, kNoFollow,
                                                        nullptr, err.out());
  if (!children) {
    note(cause, err.e);
    return false;
  }
  bool ok = true;
  for (;;) {
    GFileInfo* info = nullptr;
    GFile* child = nullptr;
    if (!g_file_enumerator_iterate(children, &info, &child, nullptr, err.out())) {
      note(cause, err.e);
      ok = false;
      break;
    }
    if (!info) break;
    GFile* target = g_file_get_child(dest, g_file_info_get_name(info));
    ok = copyTree(child, target, cause);
    g_object_unref(target);
    if (!ok) break;
  }
  g_object_unref(children);
  if (ok) {
    // The folder's own permissions and times, now that its content is in.
    g_file_copy_attributes(src, dest, G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr);
  }
  return ok;
}

bool copyWhole(const std::string& src, const std::string& dest, const char* verb, Failure* failure) {
  if (!namesAFile(src)) {
    fail(failure, verb, src, dest, ENOENT, reasonForErrno(ENOENT));
    return false;
  }
  if (!namesAFile(dest)) {
    fail(failure, verb, src, dest, ENOENT, "the destination names no file");
    return false;
  }
  GFile* s = g_file_new_for_path(src.c_str());
  GFile* d = g_file_new_for_path(dest.c_str());
  bool ok = false;
  std::string reason;
  if (g_file_query_exists(d, nullptr) || typeOf(d) != G_FILE_TYPE_UNKNOWN) {
    fail(failure, verb, src, dest, EEXIST, "it already exists");
  } else if (const int missing = destinationFolderMissing(dest, reason)) {
    fail(failure, verb, src, dest, missing, reason);
  } else {
    Cause cause;
    ok = copyTree(s, d, cause);
    if (!ok) {
      // Whatever arrived of a failed copy goes again; it did not exist before.
      Utils::removeDir(dest);
      fail(failure, verb, src, dest, cause.code, cause.reason.empty() ? reasonForErrno(0) : cause.reason);
    }
  }
  g_object_unref(s);
  g_object_unref(d);
  return ok;
}

// What stands in the way of removing the item and everything below it (its
// folder, and every folder of a tree, must take removals): 0, or the errno.
int removalBlocked(const std::string& path) {
  auto writable = [](const std::string& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
  };
  if (const int e = writable(parentOf(path))) return e;
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  if (const int e = writable(path)) return e;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec) && !it->is_symlink(ec))
      if (const int e = writable(it->path().string())) return e;
  return ec ? ec.value() : 0;
}

}  // namespace

bool copyItem(const std::string& src, const std::string& dest, Failure* failure) {
  return copyWhole(src, dest, "copy", failure);
}

bool moveItem(const std::string& src, const std::string& dest, Failure* failure, bool forceCopy) {
  if (!namesAFile(src) || !namesAFile(dest)) return copyWhole(src, dest, "move", failure);
  GFile* s = g_file_new_for_path(src.c_str());
  GFile* d = g_file_new_for_path(dest.c_str());
  bool ok = false;
  bool viaCopy = forceCopy;
  if (!forceCopy) {
    GErrorHolder err;
    const auto flags = static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_NO_FALLBACK_FOR_MOVE |
                                                   G_FILE_COPY_ALL_METADATA);
    ok = g_file_move(s, d, flags, nullptr, nullptr, nullptr, err.out());
    // Another file system: GIO will not rename, so copy and then remove.
    if (!ok && (g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED) ||
                g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_WOULD_RECURSE))) {
      viaCopy = true;
    } else if (!ok) {
      std::string reason;
      if (const int missing = g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) && Utils::checkPathisExists(src)
                                  ? destinationFolderMissing(dest, reason)
                                  : 0)
        fail(failure, "move", src, dest, missing, reason);
      else
        fail(failure, "move", src, dest, errnoForGError(err.e), reasonForGError(err.e));
    }
  }
  if (viaCopy) {
    // A source that cannot be removed makes no copy at all: a move that
    // cannot finish leaves nothing behind.
    if (const int blocked = removalBlocked(src)) {
      fail(failure, "move", src, dest, blocked, reasonForErrno(blocked));
    } else if ((ok = copyWhole(src, dest, "move", failure)) && !Utils::removeDir(src)) {
      ok = false;
      const int cause = removalBlocked(src);
      const bool whole = Utils::checkPathisExists(src) && !Utils::checkPathIsDir(src);
      if (whole) {
        // The source is as it was: the copy goes, and nothing moved.
        Utils::removeDir(dest);
        fail(failure, "move", src, dest, cause ? cause : EACCES, reasonForErrno(cause ? cause : EACCES));
      } else if (failure) {
        // Part of the source is gone already: the copy is the whole item.
        *failure = {cause ? cause : EACCES, "moved " + src + " to " + dest + ", but " + src +
                                                " could not be removed completely: " + reasonForErrno(cause ? cause : EACCES)};
      }
    }
  }
  g_object_unref(s);
  g_object_unref(d);
  return ok;
}

std::vector<std::string> findFiles(const std::string& dir, const std::string& needle) {
  std::vector<std::string> out;
  std::error_code ec;
  fs::recursive_directory_iterator it(Utils::fsPath(dir), fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(dir).string();
    if (rel.find(needle) != std::string::npos) out.push_back(rel);
  }
  return out;
}

void runWhileDrawing(const std::function<void()>& work) {
  GMainContext* main = g_main_context_default();
  if (!g_main_context_is_owner(main)) {
    work();
    return;
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
    g_main_context_wakeup(main);
  });
  // Dialog-style: everything else on the main context goes on meanwhile.
  while (!done) g_main_context_iteration(main, TRUE);
  worker.join();
}

}  // namespace corvane::fileops
