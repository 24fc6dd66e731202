#pragma once
// Which frames get the bridge. Decided in the web process (the extension)
// from a policy the UI process hands over when the connection starts.
// Origins are compared exactly: scheme, host and port, never by prefix.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace corvane::bridge {

struct Origin {
  std::string scheme;  // lower case
  std::string host;    // lower case
  int port = -1;       // the scheme's default port when the URI names none
  bool operator==(const Origin&) const = default;
  std::string text() const;  // scheme://host:port
};

// The origin of an http(s) URI; nullopt for other schemes or bad URIs.
std::optional<Origin> parseOrigin(const std::string& uri);

// The local path a file: URI names, without its query and fragment and with
// "." and ".." resolved; nullopt for other schemes, another host, an
// escaped "/" or NUL, or a relative path. Never reads the file system.
std::optional<std::string> localFilePath(const std::string& uri);

class OriginPolicy {
 public:
  bool allowAll = false;
  std::vector<Origin> origins;
  // Folders whose files belong to the application (canonical, no trailing /).
  std::vector<std::string> fileRoots;

  void addOrigin(const std::string& uriOrOrigin);  // "*" allows everything
  void addFileRoot(const std::string& folder);

  bool allows(const std::string& frameUri) const;
  // A file: URI of a file inside one of the roots ("*" does not count).
  bool isApplicationFile(const std::string& fileUri) const;
  static bool isFileUri(const std::string& uri);
  // What the refusal log line names: the origin, or the URI's scheme part.
  static std::string describe(const std::string& frameUri);

  nlohmann::json toJson() const;
  static OriginPolicy fromJson(const nlohmann::json& j);
};

}  // namespace corvane::bridge
