#include "app/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {
namespace {

bool writeAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string folderOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view data, mode_t mode, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + " " + path + ": " + std::strerror(errno);
    return false;
  };
  // The replacement keeps the permission bits of the file it replaces.
  struct stat st{};
  mode_t bits = mode;
  if (::stat(path.c_str(), &st) == 0) {
    bits = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bits = mode & ~mask;
  }
  std::string tmpl = path + ".tmp-XXXXXX";
  int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return fail("cannot create a temporary file for");
  ::fchmod(fd, bits);
  if (!writeAll(fd, data) || ::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    ::unlink(tmpl.c_str());
    errno = saved;
    return fail("cannot write");
  }
  ::close(fd);
  if (::rename(tmpl.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(tmpl.c_str());
    errno = saved;
    return fail("cannot replace");
  }
  if (int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace corvane
