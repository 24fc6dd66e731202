#include "server/DocumentRoot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace corvane::server {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> realPathOf(const std::string& path) {
  char buffer[PATH_MAX];
  if (!::realpath(path.c_str(), buffer)) return std::nullopt;
  return std::string(buffer);
}

// The path the kernel has for an open file: symbolic links already resolved,
// in one call instead of one per path component.
std::optional<std::string> realPathOfOpen(int fd, const std::string& fallback) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(link, buffer, sizeof buffer - 1);
  if (n > 0 && buffer[0] == '/') return std::string(buffer, static_cast<size_t>(n));
  return realPathOf(fallback);
}

// Non-blocking, so that a FIFO placed in the folder cannot stall the server
// in open(); the result is used only when it is a regular file.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> decodeRequestPath(std::string_view raw) {
  if (raw.empty() || raw.front() != '/') return std::nullopt;
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\0') return std::nullopt;
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i + 2 >= raw.size()) return std::nullopt;
    const int hi = hexValue(raw[i + 1]);
    const int lo = hexValue(raw[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const char decoded = static_cast<char>(hi * 16 + lo);
    // An encoded separator would let one segment act as several after the
    // decoding, hiding ".." from the segment check below.
    if (decoded == '\0' || decoded == '/' || decoded == '\\') return std::nullopt;
    out.push_back(decoded);
    i += 2;
  }
  size_t start = 0;
  while (start <= out.size()) {
    size_t end = out.find('/', start);
    if (end == std::string::npos) end = out.size();
    if (out.compare(start, end - start, "..") == 0) return std::nullopt;
    start = end + 1;
  }
  return out;
}

bool isInsideRoot(const std::string& root, const std::string& path) {
  // Walk both paths one component at a time; "/srv/www-evil" shares a text
  // prefix with "/srv/www" but not its second component.
  size_t r = 0, p = 0;
  while (true) {
    while (r < root.size() && root[r] == '/') ++r;
    while (p < path.size() && path[p] == '/') ++p;
    if (r == root.size()) return true;
    if (p == path.size()) return false;
    const size_t rEnd = std::min(root.find('/', r), root.size());
    const size_t pEnd = std::min(path.find('/', p), path.size());
    if (root.compare(r, rEnd - r, path, p, pEnd - p) != 0) return false;
    r = rEnd;
    p = pEnd;
  }
}

DocumentRoot::DocumentRoot(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  cachedRealRoot_ = realPathOf(root_);
}

std::optional<std::string> DocumentRoot::realRoot() const {
  if (cachedRealRoot_) return cachedRealRoot_;
  return realPathOf(root_);
}

std::string DocumentRoot::relativeFor(const std::string& decoded) {
  if (!decoded.empty() && decoded.back() == '/') return decoded + "index.html";
  return decoded;
}

std::optional<ResolvedFile> DocumentRoot::resolve(const std::string& decoded) const {
  const auto root = realRoot();
  if (!root) return std::nullopt;
  ResolvedFile file;
  file.relative = relativeFor(decoded);
  file.filePath = (root_ == "/" ? std::string() : root_) + file.relative;
  FileHandle fd(::open(file.filePath.c_str(), kOpenFlags));
  struct stat st{};
  if (!fd || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) {
    file.folderWithoutSlash = true;
    file.relative += "/index.html";
    file.filePath += "/index.html";
    fd = FileHandle(::openat(fd.get(), "index.html", kOpenFlags));
    if (!fd || ::fstat(fd.get(), &st) != 0) return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  auto real = realPathOfOpen(fd.get(), file.filePath);
  if (!real || !isInsideRoot(*root, *real)) return std::nullopt;
  file.realPath = std::move(*real);
  file.file = std::move(fd);
  file.size = static_cast<uint64_t>(st.st_size);
  file.mtime = st.st_mtime;
  return file;
}

}  // namespace corvane::server
