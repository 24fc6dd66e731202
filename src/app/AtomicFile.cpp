#include "app/AtomicFile.h"

#include "app/ErrorText.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace corvane {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel follows them

std::string folderOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string nameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes every byte (at `offset` when it is not negative), retrying short
// writes; false with errno set when the system refuses the rest.
bool writeAll(int fd, std::string_view data, off_t offset = -1) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = offset < 0 ? ::write(fd, data.data() + done, data.size() - done)
                                 : ::pwrite(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// A new file beside `name` in `folder`, created exclusively with `mode` (the
// kernel applies the umask, so no process-wide umask juggling is needed).
// Answers the descriptor, or -1 with errno set.
int createTemporary(const std::string& folder, const std::string& name, mode_t mode, std::string& tmpPath) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // A name at the length limit leaves no room for the suffix: a hidden
  // name of its own then.
  const std::string stem = name.size() + 11 > NAME_MAX ? "" : name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix = ".tmp-";
    for (int i = 0; i < 6; ++i) suffix += kLetters[g_random_int_range(0, sizeof kLetters - 1)];
    tmpPath = folder + "/" + stem + suffix;
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void syncFolder(const std::string& folder) {
  if (int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

AtomicWrite failure(const std::string& path, AtomicWrite::Stage stage, int error) {
  AtomicWrite out;
  out.stage = stage;
  out.error = error;
  out.message = failureText("cannot save", path, error);
  return out;
}

// Writing over the old content where a replacement is not possible. For a
// plain file the space is reserved first where the file system can do that,
// so a full disk refuses before any old byte is overwritten.
AtomicWrite writeInPlace(const std::string& path, const std::string& target, std::string_view data, bool plainFile) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (plainFile ? 0 : O_NONBLOCK));
  if (fd < 0) return failure(path, AtomicWrite::Stage::Open, errno);
  if (!plainFile) {
    // Opened without blocking so that a pipe without a reader fails instead
    // of hanging; the writing itself may wait as any write to a pipe does.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool ok = writeAll(fd, data);
    const int saved = errno;
    ::close(fd);
    return ok ? AtomicWrite{true, AtomicWrite::Stage::None, 0, ""} : failure(path, AtomicWrite::Stage::Write, saved);
  }
  if (!data.empty() && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size())) != 0 &&
      (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
    const int saved = errno;
    ::close(fd);
    return failure(path, AtomicWrite::Stage::Write, saved);
  }
  const bool ok = writeAll(fd, data, 0) && ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  return ok ? AtomicWrite{true, AtomicWrite::Stage::None, 0, ""} : failure(path, AtomicWrite::Stage::Write, saved);
}

}  // namespace

std::string finalLinkTarget(const std::string& path) {
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st{};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0) return current;
    target.resize(static_cast<size_t>(n));
    current = target[0] == '/' ? target : folderOf(current) + "/" + target;
  }
  return path;  // a loop: the system reports it on the path itself
}

AtomicWrite replaceFileContent(const std::string& path, std::string_view data, mode_t newFileMode) {
  using Stage = AtomicWrite::Stage;
  // A path holding U+0000 would reach the file its prefix names.
  if (path.empty() || path.find('\0') != std::string::npos) return failure(path, Stage::Open, ENOENT);
  const std::string target = finalLinkTarget(path);
  struct stat st{};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return failure(path, Stage::Open, errno);
  if (exists) {
    if (S_ISDIR(st.st_mode)) return failure(path, Stage::Open, EISDIR);
    // A device or a pipe is written, never replaced by a plain file.
    if (!S_ISREG(st.st_mode)) return writeInPlace(path, target, data, false);
    // A file this process may not write stays as it is, although its
    // folder would let a replacement in.
    const int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (probe < 0) return failure(path, Stage::Open, errno);
    ::close(probe);
  }
  const std::string folder = folderOf(target);
  std::string tmp;
  const int fd = createTemporary(folder, nameOf(target), exists ? 0600 : newFileMode, tmp);
  if (fd < 0) {
    const int saved = errno;
    // The folder takes no new files, but the file itself may be written.
    if (exists && (saved == EACCES || saved == EPERM)) return writeInPlace(path, target, data, true);
    return failure(path, Stage::Open, saved);
  }
  auto discard = [&](Stage stage, int error) {
    ::close(fd);
    ::unlink(tmp.c_str());
    return failure(path, stage, error);
  };
  if (exists) {
    struct stat mine{};
    ::fstat(fd, &mine);
    if ((mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Only the owner's own content may change hands here: keep the file
      // and its owner, and write into it.
      ::close(fd);
      ::unlink(tmp.c_str());
      return writeInPlace(path, target, data, true);
    }
    // After the owner: changing it clears the set-id bits.
    ::fchmod(fd, st.st_mode & 07777);
  }
  if (!writeAll(fd, data) || ::fsync(fd) != 0) return discard(Stage::Write, errno);
  if (::close(fd) != 0) {
    const int saved = errno;
    ::unlink(tmp.c_str());
    return failure(path, Stage::Write, saved);
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int saved = errno;
    ::unlink(tmp.c_str());
    return failure(path, Stage::Replace, saved);
  }
  syncFolder(folder);
  return {true, Stage::None, 0, ""};
}

bool writeFileAtomically(const std::string& path, std::string_view data, mode_t mode, std::string* error) {
  const AtomicWrite w = replaceFileContent(path, data, mode);
  if (!w.ok && error) *error = w.message;
  return w.ok;
}

}  // namespace corvane
