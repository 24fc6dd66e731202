#include "app/UserDefaults.h"

#include "app/AtomicFile.h"
#include "app/Bundle.h"
#include "app/FileContents.h"
#include "app/JsonText.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace corvane {
namespace {

// Holds an exclusive advisory lock on `<store>.lock` for its lifetime.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0)
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

std::string parentOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

std::string UserDefaults::pathForIdentifier(const std::string& identifier) {
  return xdg::configHome() + "/corvane/" + identifierFileName(identifier) + ".json";
}

std::string UserDefaults::languageTag(const std::string& locale) {
  std::string tag = locale.substr(0, locale.find_first_of(".@"));
  if (tag.empty() || tag == "C" || tag == "POSIX") return "";
  for (char& c : tag)
    if (c == '_') c = '-';
  return tag;
}

nlohmann::json UserDefaults::systemDomain() {
  // LANGUAGE is a colon-separated preference list and wins; otherwise the
  // first of LC_ALL, LC_MESSAGES, LANG that is set names the one language.
  std::vector<std::string> langs;
  auto add = [&](const std::string& locale) {
    std::string tag = languageTag(locale);
    if (!tag.empty() && std::find(langs.begin(), langs.end(), tag) == langs.end())
      langs.push_back(tag);
  };
  if (const char* language = std::getenv("LANGUAGE"); language && *language) {
    std::string list = language;
    size_t start = 0;
    while (start <= list.size()) {
      size_t colon = list.find(':', start);
      add(list.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  if (langs.empty()) {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* v = std::getenv(var);
      if (v && *v) {
        add(v);
        break;
      }
    }
  }
  if (langs.empty()) langs.push_back("en-US");
  return {{"AppleLanguages", langs}};
}

UserDefaults::UserDefaults(std::string filePath) : path_(std::move(filePath)) { load(); }

std::optional<nlohmann::json> UserDefaults::readStore(const std::string& path, bool& corrupt) {
  corrupt = false;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;  // no store yet
  auto text = readFileContents(path);
  if (!text) {
    // Something that cannot be read (a folder, say) is no store either.
    corrupt = true;
    return std::nullopt;
  }
  auto parsed = parseJsonText(*text);  // nesting bounded: a hand-edited store is input too
  if (!parsed || !parsed->is_object()) {
    corrupt = true;
    return std::nullopt;
  }
  return parsed;
}

void UserDefaults::setAside() {
  // Keep the unreadable file for the user instead of overwriting it.
  const std::string aside = path_ + ".corrupt-" + Utils::uniqueStamp();
  if (::rename(path_.c_str(), aside.c_str()) == 0)
    log().error("user defaults file {} could not be read; kept it as {} and started empty", path_,
                aside);
  else
    log().error("user defaults file {} could not be read and not be moved aside: {}", path_,
                std::strerror(errno));
}

void UserDefaults::load() {
  std::lock_guard lock(mutex_);
  bool corrupt = false;
  auto stored = readStore(path_, corrupt);
  if (corrupt) setAside();
  values_ = stored ? std::move(*stored) : nlohmann::json::object();
}

std::optional<nlohmann::json> UserDefaults::objectForKey(const std::string& key) const {
  {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end()) return *it;
  }
  auto system = systemDomain();
  auto it = system.find(key);
  if (it != system.end()) return *it;
  return std::nullopt;
}

std::string UserDefaults::stringForKey(const std::string& key) const {
  auto v = objectForKey(key);
  return v && v->is_string() ? v->get<std::string>() : "";
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto v = objectForKey(key);
  return v && jsonBoolValue(*v);
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (v->is_number()) return static_cast<int64_t>(v->get<double>());
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_string()) return std::strtoll(v->get<std::string>().c_str(), nullptr, 10);
  return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  auto v = objectForKey(key);
  if (!v) return 0;
  if (v->is_number()) return v->get<double>();
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  if (v->is_string()) return std::strtod(v->get<std::string>().c_str(), nullptr);
  return 0;
}

void UserDefaults::setObject(const std::string& key, nlohmann::json value) {
  std::lock_guard lock(mutex_);
  if (value.is_null())
    values_.erase(key);
  else
    values_[key] = std::move(value);
  dirty_.insert(key);
}

void UserDefaults::removeObject(const std::string& key) { setObject(key, nullptr); }

nlohmann::json UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return synchronizeLocked(nullptr);
}

bool UserDefaults::synchronizeLocked(std::string* error) {
  const std::string folder = parentOf(path_);
  if (!Utils::checkPathIsDir(folder)) Utils::createDirWithPath(folder);
  FileLock fileLock(path_ + ".lock");

  bool corrupt = false;
  auto disk = readStore(path_, corrupt);
  if (corrupt) setAside();
  nlohmann::json merged = disk ? std::move(*disk) : nlohmann::json::object();
  for (const auto& key : dirty_) {
    auto it = values_.find(key);
    if (it == values_.end())
      merged.erase(key);
    else
      merged[key] = *it;
  }

  const std::string text = merged.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  const AtomicWrite written = replaceFileContent(path_, text, 0600);
  if (!written.ok) {
    log().error("cannot write user defaults {}: {}", path_, written.message);
    if (error) *error = written.message;
    return false;
  }
  values_ = std::move(merged);
  dirty_.clear();
  return true;
}

bool UserDefaults::setObjectAndSynchronize(const std::string& key, nlohmann::json value, std::string* error) {
  std::lock_guard lock(mutex_);
  std::optional<nlohmann::json> old;
  if (auto it = values_.find(key); it != values_.end()) old = *it;
  const bool wasDirty = dirty_.count(key) > 0;
  if (value.is_null())
    values_.erase(key);
  else
    values_[key] = std::move(value);
  dirty_.insert(key);
  if (synchronizeLocked(error)) return true;
  // The disk still holds the old value: so does memory.
  if (old)
    values_[key] = std::move(*old);
  else
    values_.erase(key);
  if (!wasDirty) dirty_.erase(key);
  return false;
}

}  // namespace corvane
