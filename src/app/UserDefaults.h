#pragma once
// Persistent typed key-value store of one application (text, number,
// boolean, array, dictionary), kept as a JSON file per bundle identifier.
//
// Two domains are searched: the application's own (read-write) and a
// read-only system domain ("AppleLanguages" from the locale environment).
//
// Durability: synchronize() writes a temporary file, fsyncs it and renames it
// over the store, so a crash leaves either the old or the new file.
// Concurrency between processes: synchronize() takes an exclusive lock on a
// sibling lock file, re-reads the store, applies only this process's own
// changes since its last synchronize, and writes the merged result; keys
// written by another process survive.
#include <nlohmann/json.hpp>

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvane {

class UserDefaults {
 public:
  // The store file for a bundle identifier: $XDG_CONFIG_HOME/corvane/<id>.json
  static std::string pathForIdentifier(const std::string& identifier);
  // The read-only system domain, from LANGUAGE, LC_ALL, LC_MESSAGES and LANG.
  static nlohmann::json systemDomain();
  // "de_DE.UTF-8" → "de-DE"; "C"/"POSIX" → "" (no preference).
  static std::string languageTag(const std::string& locale);

  explicit UserDefaults(std::string filePath);

  const std::string& filePath() const { return path_; }

  // The value of a key: the application's domain first, then the system's.
  std::optional<nlohmann::json> objectForKey(const std::string& key) const;
  std::string stringForKey(const std::string& key) const;  // "" unless text
  bool boolForKey(const std::string& key) const;            // number/bool/text rules
  int64_t integerForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;

  // Setting JSON null removes the key.
  void setObject(const std::string& key, nlohmann::json value);
  void removeObject(const std::string& key);
  nlohmann::json dictionaryRepresentation() const;  // application domain only

  // Merges with the file and writes it atomically. False (with a log line)
  // when the folder or file cannot be written; the in-memory values stay.
  bool synchronize();

  // Sets (or, with null, removes) a key and writes the store at once. When
  // the store cannot be written, the key keeps its old value in memory too,
  // so that what later reads answer is what the disk holds; false with the
  // reason in `error`.
  bool setObjectAndSynchronize(const std::string& key, nlohmann::json value, std::string* error = nullptr);

 private:
  bool synchronizeLocked(std::string* error);
  void load();
  static std::optional<nlohmann::json> readStore(const std::string& path, bool& corrupt);
  void setAside();

  std::string path_;
  mutable std::mutex mutex_;
  nlohmann::json values_ = nlohmann::json::object();
  std::set<std::string> dirty_;  // keys changed here since the last synchronize
};

}  // namespace corvane
