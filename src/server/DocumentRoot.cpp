#include "server/DocumentRoot.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
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

// Opens `relative` below `dir` only if the kernel can resolve it without
// leaving `dir` (no "..", no absolute or outward link on the way): such a
// file is inside the root by construction, so the real-path check can be
// skipped. -1 with errno otherwise (EXDEV for a way out, ENOSYS on kernels
// without openat2); the caller then checks the slow way.
int openBeneath(int dir, const char* relative) {
  open_how how{};
  how.flags = static_cast<uint64_t>(kOpenFlags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, dir, relative, &how, sizeof how));
}

}  // namespace

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
  // Segment by segment: "" (from "//") and "." are dropped, ".." refused.
  // A path that ended in "/" (or in a dropped segment) keeps its final "/",
  // so that it still names a folder.
  std::string normal = "/";
  size_t start = 1;
  while (start <= out.size()) {
    size_t end = out.find('/', start);
    if (end == std::string::npos) end = out.size();
    const std::string_view segment(out.data() + start, end - start);
    if (segment == "..") return std::nullopt;
    if (!segment.empty() && segment != ".") {
      normal.append(segment);
      if (end < out.size()) normal.push_back('/');
    }
    start = end + 1;
  }
  return normal;
}

std::string encodeRequestPath(const std::string& decoded) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : decoded) {
    if (std::isalnum(c) || std::strchr("-._~!$&'()*+,;=:@/", c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  // Never "//host": that would name another origin.
  while (out.size() > 1 && out[0] == '/' && out[1] == '/') out.erase(0, 1);
  if (out.empty() || out[0] != '/') out.insert(out.begin(), '/');
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
}

std::string DocumentRoot::relativeFor(const std::string& decoded) {
  if (!decoded.empty() && decoded.back() == '/') return decoded + "index.html";
  return decoded;
}

std::optional<ResolvedFile> DocumentRoot::resolve(const std::string& decoded,
                                                  bool* outOfDescriptors) const {
  auto failed = [outOfDescriptors]() -> std::optional<ResolvedFile> {
    if (outOfDescriptors) *outOfDescriptors = errno == EMFILE || errno == ENFILE;
    return std::nullopt;
  };
  if (outOfDescriptors) *outOfDescriptors = false;
  // The root as it is now, opened once: the file is looked up below that
  // very folder, so a root that is a link may be repointed at any time.
  FileHandle rootFd(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd) return failed();
  ResolvedFile file;
  file.relative = relativeFor(decoded);
  file.filePath = (root_ == "/" ? std::string() : root_) + file.relative;
  const char* relative = file.relative.c_str() + 1;
  FileHandle fd(openBeneath(rootFd.get(), relative));
  bool beneath = static_cast<bool>(fd);
  if (!fd && (errno == EXDEV || errno == ENOSYS || errno == ELOOP)) {
    fd = FileHandle(::openat(rootFd.get(), relative, kOpenFlags));
  }
  struct stat st{};
  if (!fd) return failed();
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  if (S_ISDIR(st.st_mode)) {
    file.folderWithoutSlash = true;
    file.relative += "/index.html";
    file.filePath += "/index.html";
    fd = FileHandle(::openat(fd.get(), "index.html", kOpenFlags));
    // The folder was inside; its "index.html" may still be a link out.
    beneath = false;
    if (!fd) return failed();
    if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  if (!beneath) {
    // Reached through a link: allowed only when what was opened really
    // lies inside the real root (checking the open file, not the name,
    // leaves no gap for a link swapped in between).
    const auto root = realPathOfOpen(rootFd.get(), root_);
    auto real = realPathOfOpen(fd.get(), file.filePath);
    if (!root || !real || !isInsideRoot(*root, *real)) return std::nullopt;
    file.realPath = std::move(*real);
  } else {
    file.realPath = file.filePath;
  }
  file.beneath = beneath;
  file.file = std::move(fd);
  file.stamp.inode = static_cast<uint64_t>(st.st_ino);
  file.stamp.size = static_cast<uint64_t>(st.st_size);
  file.stamp.mtime = st.st_mtim;
  file.stamp.ctime = st.st_ctim;
  return file;
}

}  // namespace corvane::server
