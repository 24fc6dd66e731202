#pragma once
// Real faults for file tests: a small tmpfs mounted by the test, which is a
// full disk once filled and a read-only disk once remounted so. Mounting
// needs root (CI runs as root); elsewhere `skipReason()` says why the fault
// cases cannot run, for GTEST_SKIP.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace corvane::test {

class ScratchMount {
 public:
  explicit ScratchMount(size_t bytes) : options_("size=" + std::to_string(bytes) + ",mode=0755") {
    if (::geteuid() != 0) {
      why_ = "mounting a tmpfs for the fault cases needs root";
      return;
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvane-mount-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
      why_ = std::string("no folder for the mount: ") + std::strerror(errno);
      return;
    }
    path_ = tmpl;
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options_.c_str()) != 0) {
      why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
      ::rmdir(path_.c_str());
      path_.clear();
    }
  }
  ~ScratchMount() {
    if (path_.empty()) return;
    ::umount2(path_.c_str(), MNT_DETACH);
    ::rmdir(path_.c_str());
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  // Empty when the mount is there; otherwise why not.
  const std::string& skipReason() const { return why_; }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  // Fills the disk until `leave` bytes (whole pages) are still free.
  void fill(size_t leave = 0) {
    const std::string filler = path_ + "/.filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    static const char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) continue;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const off_t pages = static_cast<off_t>((leave + 4095) / 4096 * 4096);
    if (leave > 0) (void)!::ftruncate(fd, size > pages ? size - pages : 0);
    ::close(fd);
  }

  // Makes the whole disk read-only (or writable again).
  bool setReadOnly(bool readOnly) {
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", path_.c_str(), "tmpfs", flags, options_.c_str()) == 0;
  }

 private:
  std::string options_;
  std::string path_;
  std::string why_;
};

}  // namespace corvane::test
