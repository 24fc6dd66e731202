#include "app/FileContents.h"

#include "app/ErrorText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace corvane {

std::optional<std::string> readFileContents(const std::string& path, std::string* error) {
  auto fail = [&](int code) -> std::optional<std::string> {
    if (error) *error = failureText("cannot read", path, code);
    return std::nullopt;
  };
  // A path holding U+0000 would name the file its prefix names.
  if (path.empty() || path.find('\0') != std::string::npos) return fail(ENOENT);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(errno);
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(EISDIR);
  }
  std::string bytes;
  if (S_ISREG(st.st_mode) && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      ::close(fd);
      return fail(saved);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return bytes;
}

}  // namespace corvane
