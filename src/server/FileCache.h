#pragma once
// Small files answered from memory. A file found below the document root
// without a link out of it keeps its prepared full answer (body and
// headers) until anything on its way changes: the folders from the root
// down to it and the file itself are watched with inotify, and the events
// are read before every lookup, so a change that finished before a request
// arrived is never answered from memory. The root's own identity is checked
// on every lookup too (it may be a link that is repointed).
//
// Used from the server library's one polling thread; the lock only guards
// against a second caller.
#include <microhttpd.h>

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace corvane::server {

class FileCache {
 public:
  // Files up to this size are kept.
  static constexpr uint64_t kMaxFileSize = 32 * 1024;

  explicit FileCache(std::string root);
  ~FileCache();
  FileCache(const FileCache&) = delete;
  FileCache& operator=(const FileCache&) = delete;

  // The prepared answer for a relative path ("/a/b.css"), owned by the
  // cache (queue it, never destroy it), or nullptr.
  MHD_Response* find(const std::string& relative);

  // A fill in three steps: `watchWay` before the file is opened (answers a
  // ticket, 0 when this path cannot be kept), `watchFile` on the open file
  // before its bytes and metadata are read, `store` with the answer made
  // from them. The answer is kept only when nothing changed since the
  // ticket; `store` takes the caller's reference either way.
  uint64_t watchWay(const std::string& relative);
  bool watchFile(uint64_t ticket, int fd);
  void store(uint64_t ticket, const std::string& relative, MHD_Response* response, uint64_t size);

 private:
  void drainEvents();  // with mutex_ held
  void clear();        // with mutex_ held
  bool rootUnchanged();
  bool addWatch(const std::string& path, uint32_t mask);

  const std::string root_;
  std::mutex mutex_;
  int inotify_ = -1;
  uint64_t generation_ = 1;
  dev_t rootDev_ = 0;
  ino_t rootIno_ = 0;
  bool rootKnown_ = false;
  uint64_t bytes_ = 0;
  std::unordered_map<std::string, MHD_Response*> answers_;
  std::unordered_set<std::string> watchedFolders_;
};

}  // namespace corvane::server
