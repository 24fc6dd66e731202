#include "server/FileCache.h"

#include "server/MicroHttpd.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace corvane::server {

namespace {

// Anything that could change what a name on the way means or what a file
// holds; never IN_ACCESS or IN_OPEN, which our own reads would raise.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                   IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
// The file itself, whichever name (a hard link elsewhere) it is written by.
constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

// Past either bound the cache starts over rather than choosing what to drop.
constexpr uint64_t kMaxBytes = 16 * 1024 * 1024;
constexpr size_t kMaxFiles = 4096;

int newInotify() { return ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

}  // namespace

FileCache::FileCache(std::string root) : root_(std::move(root)), inotify_(newInotify()) {}

FileCache::~FileCache() {
  std::lock_guard lock(mutex_);
  clear();
  if (inotify_ >= 0) ::close(inotify_);
}

void FileCache::clear() {
  for (auto& [path, response] : answers_) mhd().destroy_response(response);
  answers_.clear();
  watchedFolders_.clear();
  bytes_ = 0;
  ++generation_;
  if (inotify_ >= 0) {
    // A fresh instance drops every watch at once, and no IN_IGNORED
    // events of removed watches come back as changes.
    ::close(inotify_);
    inotify_ = newInotify();
  }
}

void FileCache::drainEvents() {
  if (inotify_ < 0) return;
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  while (true) {
    const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
    if (n > 0) {
      changed = true;  // any event at all, an overflow included
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: nothing pending
  }
  if (changed) clear();
}

bool FileCache::rootUnchanged() {
  struct stat st {};
  if (::stat(root_.c_str(), &st) != 0) {
    if (rootKnown_ || !answers_.empty()) clear();
    rootKnown_ = false;
    return false;
  }
  if (rootKnown_ && st.st_dev == rootDev_ && st.st_ino == rootIno_) return true;
  if (rootKnown_) clear();  // another folder (a repointed link) now
  rootKnown_ = true;
  rootDev_ = st.st_dev;
  rootIno_ = st.st_ino;
  return true;
}

MHD_Response* FileCache::find(const std::string& relative) {
  std::lock_guard lock(mutex_);
  if (inotify_ < 0) return nullptr;
  drainEvents();
  if (!rootUnchanged() || answers_.empty()) return nullptr;
  auto it = answers_.find(relative);
  return it == answers_.end() ? nullptr : it->second;
}

bool FileCache::addWatch(const std::string& path, uint32_t mask) {
  return ::inotify_add_watch(inotify_, path.c_str(), mask) >= 0;
}

uint64_t FileCache::watchWay(const std::string& relative) {
  std::lock_guard lock(mutex_);
  if (inotify_ < 0 || relative.empty() || relative.front() != '/' || relative.back() == '/') return 0;
  drainEvents();
  if (!rootUnchanged()) return 0;
  if (answers_.size() >= kMaxFiles || bytes_ >= kMaxBytes) clear();
  // Every folder from the root down to the file's own, each through the
  // name the next lookup will use: a renamed, removed or replaced name on
  // the way is an event in the folder above it.
  const std::string base = root_ == "/" ? std::string() : root_;
  for (size_t slash = 0; slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    std::string folder = base + relative.substr(0, slash);
    if (folder.empty()) folder = "/";
    if (watchedFolders_.count(folder)) continue;
    if (!addWatch(folder, kFolderEvents)) return 0;  // out of watches: served from disk
    watchedFolders_.insert(std::move(folder));
  }
  return generation_;
}

bool FileCache::watchFile(uint64_t ticket, int fd) {
  std::lock_guard lock(mutex_);
  if (!ticket || ticket != generation_ || inotify_ < 0) return false;
  // The very file that is open, not whatever its name means by now.
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  return addWatch(link, kFileEvents);
}

void FileCache::store(uint64_t ticket, const std::string& relative, MHD_Response* response, uint64_t size) {
  std::lock_guard lock(mutex_);
  drainEvents();
  if (!response) return;
  if (!ticket || ticket != generation_ || size > kMaxFileSize) {
    mhd().destroy_response(response);
    return;
  }
  auto [it, added] = answers_.emplace(relative, response);
  if (!added) {
    mhd().destroy_response(it->second);
    it->second = response;
  }
  bytes_ += size;
}

}  // namespace corvane::server
