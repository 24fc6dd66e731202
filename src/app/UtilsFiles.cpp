// Shared file routines. Removal never follows symbolic links: removing a
// link removes the link, never what it points to.
#include "app/Log.h"
#include "app/Utils.h"

#include <fcntl.h>
#include <glib.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <string_view>

namespace fs = std::filesystem;

namespace corvane {
namespace {

bool statFollow(const std::string& p, struct stat& st) { return ::stat(Utils::fsPath(p), &st) == 0; }
bool statNoFollow(const std::string& p, struct stat& st) { return ::lstat(Utils::fsPath(p), &st) == 0; }
bool accessible(const std::string& p, int mode) { return ::access(Utils::fsPath(p), mode) == 0; }
bool existsNoFollow(const std::string& p) {
  struct stat st{};
  return statNoFollow(p, st);
}

std::mutex& iconMutex() {
  static std::mutex m;
  return m;
}
Utils::IconWriter& iconWriter() {
  static Utils::IconWriter w;
  return w;
}

std::string timeText(time_t t) {
  char buf[64];
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

// The birth time where the file system keeps one; elsewhere the earlier of
// the modification and change times (the change time alone moves with
// every chmod, which creates nothing).
time_t creationTime(const std::string& path, const struct stat& st) {
  struct statx sx{};
  if (::statx(AT_FDCWD, Utils::fsPath(path), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME)) {
    return static_cast<time_t>(sx.stx_btime.tv_sec);
  }
  return std::min(st.st_mtime, st.st_ctime);
}

}  // namespace

const char* Utils::fsPath(const std::string& path) {
  return path.find('\0') == std::string::npos ? path.c_str() : "";
}

bool Utils::namesNoFile(const std::string& path) { return *fsPath(path) == '\0'; }

bool Utils::checkPathisExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && statFollow(path, st);
}

bool Utils::checkPathIsFile(const std::string& path) {
  struct stat st{};
  return !path.empty() && statFollow(path, st) && !S_ISDIR(st.st_mode);
}

bool Utils::checkPathIsDir(const std::string& path) {
  struct stat st{};
  return !path.empty() && statFollow(path, st) && S_ISDIR(st.st_mode);
}

bool Utils::checkPathIsWritable(const std::string& path) {
  return checkPathIsDir(path) && accessible(path, W_OK);
}

bool Utils::checkPathIsReadable(const std::string& path) { return accessible(path, R_OK); }
bool Utils::checkPathIsExecutable(const std::string& path) { return accessible(path, X_OK); }

bool Utils::checkPathIsDeletable(const std::string& path) {
  // Deleting needs write and search permission on the parent folder.
  std::string parent = getPathParentPath(path);
  if (parent.empty()) parent = ".";
  return existsNoFollow(path) && accessible(parent, W_OK | X_OK);
}

bool Utils::createDirWithPathEx(const std::string& path, std::optional<unsigned> mode) {
  if (checkPathIsDir(path)) return false;
  std::error_code ec;
  fs::create_directories(fsPath(path), ec);
  if (ec) {
    log().info("Exception = {}", ec.message());
    return false;
  }
  if (mode) {
    fs::permissions(fsPath(path), static_cast<fs::perms>(*mode), ec);
    if (ec) {
      log().info("Exception = {}", ec.message());
      return false;
    }
  }
  return checkPathIsDir(path);
}

bool Utils::createDirWithPath(const std::string& path) { return createDirWithPathEx(path, std::nullopt); }

bool Utils::createEmptyFileWithPath(const std::string& path) {
  const std::string parent = getPathParentPath(path);
  if (!parent.empty() && !checkPathIsDir(parent)) createDirWithPath(parent);
  if (!parent.empty() && !checkPathIsDir(parent)) return false;
  if (checkPathisExists(path)) return checkPathIsFile(path);
  // O_EXCL: never truncate something that appeared in the meantime.
  FILE* f = std::fopen(fsPath(path), "wx");
  if (f) std::fclose(f);
  return checkPathIsFile(path);
}

// The item a path names, as the file system finds it: trailing slashes
// dropped, and the folder part ("nodir/..", ".", doubled slashes, links)
// resolved, so that a path that reaches an item by a detour still names
// it. The last component is never resolved: deleting a link deletes the
// link.
static std::string itemToDelete(const std::string& path) {
  // Resolving would read a path holding U+0000 up to it and could reach
  // another item; such a path names none and stays as it is.
  if (Utils::namesNoFile(path)) return path;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return p;
  const fs::path item(p);
  const fs::path name = item.filename();
  std::error_code ec;
  if (name == "." || name == "..") {
    fs::path whole = fs::weakly_canonical(item, ec);
    return ec ? item.lexically_normal().string() : whole.string();
  }
  if (!item.has_parent_path()) return p;
  fs::path folder = fs::weakly_canonical(item.parent_path(), ec);
  if (ec) folder = item.parent_path().lexically_normal();
  return (folder / name).string();
}

bool Utils::removeFile(const std::string& path) {
  const std::string item = itemToDelete(path);
  struct stat st{};
  if (statNoFollow(item, st) && !S_ISDIR(st.st_mode)) ::unlink(fsPath(item));
  return !item.empty() && !existsNoFollow(item);
}

static void removeTree(const std::string& path) {
  struct stat st{};
  if (!statNoFollow(path, st)) return;
  if (!S_ISDIR(st.st_mode)) {  // files and every symbolic link
    Utils::removeFile(path);
    return;
  }
  std::error_code ec;
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(Utils::fsPath(path), ec)) entries.push_back(e.path().string());
  for (const auto& e : entries) Utils::removeDir(e);
  ::rmdir(Utils::fsPath(path));
}

bool Utils::removeDir(const std::string& path) {
  const std::string item = itemToDelete(path);
  // Like rm's --preserve-root: the root folder is never emptied.
  if (item.empty() || item == "/") return false;
  removeTree(item);
  return !existsNoFollow(item);
}

bool Utils::fileIsZeroSize(const std::string& path) {
  struct stat st{};
  if (!statFollow(path, st)) return true;
  return st.st_size == 0;
}

uint64_t Utils::sizeAtPath(const std::string& path, bool diskMode) {
  uint64_t total = 0;
  std::deque<std::string> work{path};
  while (!work.empty()) {
    std::string item = std::move(work.front());
    work.pop_front();
    struct stat st{};
    if (!statNoFollow(item, st)) continue;
    if (S_ISDIR(st.st_mode)) {
      std::error_code ec;
      std::vector<std::string> entries;
      for (const auto& e : fs::directory_iterator(fsPath(item), ec)) entries.push_back(e.path().string());
      work.insert(work.begin(), entries.begin(), entries.end());  // depth first
    } else {
      total += diskMode ? static_cast<uint64_t>(st.st_blocks) * 512
                        : static_cast<uint64_t>(st.st_size);
    }
  }
  return total;
}

uint64_t Utils::pathSizeAtPath(const std::string& path, bool diskMode) {
  if (checkPathIsFile(path)) return sizeAtPath(path, diskMode);
  if (!checkPathIsDir(path)) return 0;
  uint64_t total = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(fsPath(path), fs::directory_options::skip_permission_denied, ec), end;
  if (ec) {
    log().info("Error: {}", ec.message());
    return 0;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      log().info("Error: {}", ec.message());
      break;
    }
    // Lexically: relative() would resolve links, and so measure what a
    // link points to (outside the folder, or a file counted twice).
    const std::string joined = path + "/" + it->path().lexically_relative(path).string();
    if (checkPathIsFile(joined)) total += sizeAtPath(joined, diskMode);
  }
  return total;
}

uint64_t Utils::fileSizeAtPath(const std::string& path) { return pathSizeAtPath(path, false); }
uint64_t Utils::diskSizeAtPath(const std::string& path) { return pathSizeAtPath(path, true); }

namespace {

// The path without its trailing slashes (a lone "/" stays).
std::string_view withoutTrailingSlashes(std::string_view p) {
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  return p;
}

// The last component; pages hand in long texts, so nothing but the answer
// is copied.
std::string_view lastComponent(std::string_view path) {
  const std::string_view p = withoutTrailingSlashes(path);
  if (p == "/") return p;
  // memrchr: a text without any slash is read once, at memory speed.
  const auto* slash = static_cast<const char*>(::memrchr(p.data(), '/', p.size()));
  return slash ? p.substr(static_cast<size_t>(slash - p.data()) + 1) : p;
}

// The extension of a last component without its dot; none for a name that
// starts with its only dot or ends with one.
std::string_view extensionOf(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  return name.substr(dot + 1);
}

}  // namespace

std::string Utils::getFileName(const std::string& path) { return std::string(lastComponent(path)); }

std::string Utils::getFileExt(const std::string& path) { return std::string(extensionOf(lastComponent(path))); }

std::string Utils::getFileNameWithoutExt(const std::string& path) {
  const std::string_view name = lastComponent(path);
  const std::string_view ext = extensionOf(name);
  return std::string(ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1));
}

std::string Utils::getPathParentPath(const std::string& path) {
  const std::string_view p = withoutTrailingSlashes(path);
  const auto* slash = static_cast<const char*>(::memrchr(p.data(), '/', p.size()));
  if (!slash) return "";
  if (slash == p.data()) return "/";
  return std::string(p.substr(0, static_cast<size_t>(slash - p.data())));
}

std::string Utils::uniqueStamp() {
  static std::mutex m;
  static std::mt19937 rng{std::random_device{}()};
  std::lock_guard lock(m);
  const auto r = static_cast<int32_t>(rng());
  return std::to_string(static_cast<long>(std::time(nullptr))) + std::to_string(r);
}

std::string Utils::getATempFilePath(const std::string& name) const {
  return path_get_tempDir() + uniqueStamp() + "_" + name;
}

std::string Utils::getFilePropertyJSONString(const std::string& path) {
  try {
    struct stat st{};
    if (!statNoFollow(path, st)) return "";
    nlohmann::json a = nlohmann::json::object();
    const char* type = S_ISDIR(st.st_mode)    ? "NSFileTypeDirectory"
                       : S_ISLNK(st.st_mode)  ? "NSFileTypeSymbolicLink"
                       : S_ISREG(st.st_mode)  ? "NSFileTypeRegular"
                       : S_ISSOCK(st.st_mode) ? "NSFileTypeSocket"
                       : S_ISCHR(st.st_mode)  ? "NSFileTypeCharacterSpecial"
                       : S_ISBLK(st.st_mode)  ? "NSFileTypeBlockSpecial"
                                              : "NSFileTypeUnknown";
    a["NSFileType"] = type;
    a["NSFileSize"] = static_cast<uint64_t>(st.st_size);
    a["NSFilePosixPermissions"] = st.st_mode & 07777;
    a["NSFileReferenceCount"] = static_cast<uint64_t>(st.st_nlink);
    a["NSFileSystemNumber"] = static_cast<uint64_t>(st.st_dev);
    a["NSFileSystemFileNumber"] = static_cast<uint64_t>(st.st_ino);
    a["NSFileOwnerAccountID"] = st.st_uid;
    a["NSFileGroupOwnerAccountID"] = st.st_gid;
    if (const passwd* pw = getpwuid(st.st_uid)) a["NSFileOwnerAccountName"] = pw->pw_name;
    if (const group* gr = getgrgid(st.st_gid)) a["NSFileGroupOwnerAccountName"] = gr->gr_name;
    a["NSFileModificationDate"] = timeText(st.st_mtime);
    a["NSFileCreationDate"] = timeText(creationTime(path, st));
    a["NSFileExtensionHidden"] = false;
    return convertDictionaryToJSON(a);
  } catch (const std::exception&) {
    return "";
  }
}

void Utils::setIconWriter(IconWriter writer) {
  std::lock_guard lock(iconMutex());
  iconWriter() = std::move(writer);
}

std::string Utils::getFileOrDirIconPath(const std::string& path) const {
  if (!checkPathisExists(path) || !checkPathIsReadable(path)) return "";
  IconWriter writer;
  {
    std::lock_guard lock(iconMutex());
    writer = iconWriter();
  }
  if (!writer) return "";  // no icon theme without the UI layer
  const std::string png = path_get_tempDir() + "tmp_rs_image_" + uniqueStamp() + ".png";
  return writer(path, png) && checkPathIsFile(png) ? png : "";
}

}  // namespace corvane
