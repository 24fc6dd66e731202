#include "bridge/OriginPolicy.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

namespace corvane::bridge {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

int defaultPort(const std::string& scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return -1;
}

std::string canonicalFolder(const std::string& path) {
  gchar* c = g_canonicalize_filename(path.c_str(), nullptr);
  std::string out = c;
  g_free(c);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace

std::string Origin::text() const { return scheme + "://" + host + ":" + std::to_string(port); }

std::optional<Origin> parseOrigin(const std::string& uri) {
  GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!parsed) return std::nullopt;
  Origin o;
  o.scheme = lower(g_uri_get_scheme(parsed) ? g_uri_get_scheme(parsed) : "");
  o.host = lower(g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "");
  o.port = g_uri_get_port(parsed);
  g_uri_unref(parsed);
  if (o.port < 0) o.port = defaultPort(o.scheme);
  if (o.host.empty() || o.port < 0) return std::nullopt;
  return o;
}

std::optional<std::string> localFilePath(const std::string& uri) {
  if (!OriginPolicy::isFileUri(uri)) return std::nullopt;
  // Query and fragment are no part of the file; the path stays escaped until
  // it is decoded below, so that "%2F" and "%00" can be refused.
  GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_ENCODED_PATH, nullptr);
  if (!parsed) return std::nullopt;
  const char* host = g_uri_get_host(parsed);
  const bool local = !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0;
  gchar* path = local ? g_uri_unescape_string(g_uri_get_path(parsed), "/") : nullptr;
  g_uri_unref(parsed);
  if (!path) return std::nullopt;
  std::optional<std::string> out;
  if (path[0] == '/') out = canonicalFolder(path);
  g_free(path);
  return out;
}

bool OriginPolicy::isFileUri(const std::string& uri) {
  return g_ascii_strncasecmp(uri.c_str(), "file:", 5) == 0;
}

void OriginPolicy::addOrigin(const std::string& uriOrOrigin) {
  if (uriOrOrigin == "*") {
    allowAll = true;
    return;
  }
  if (auto o = parseOrigin(uriOrOrigin)) {
    if (std::find(origins.begin(), origins.end(), *o) == origins.end()) origins.push_back(*o);
  }
}

void OriginPolicy::addFileRoot(const std::string& folder) {
  if (folder.empty()) return;
  std::string c = canonicalFolder(folder);
  if (std::find(fileRoots.begin(), fileRoots.end(), c) == fileRoots.end()) fileRoots.push_back(c);
}

bool OriginPolicy::isApplicationFile(const std::string& fileUri) const {
  auto file = localFilePath(fileUri);
  if (!file) return false;
  for (const auto& root : fileRoots) {
    if (root == "/" || *file == root ||
        (file->size() > root.size() && file->compare(0, root.size(), root) == 0 && (*file)[root.size()] == '/'))
      return true;
  }
  return false;
}

bool OriginPolicy::allows(const std::string& frameUri) const {
  if (allowAll) return true;
  if (isFileUri(frameUri)) return isApplicationFile(frameUri);
  auto o = parseOrigin(frameUri);
  return o && std::find(origins.begin(), origins.end(), *o) != origins.end();
}

std::string OriginPolicy::describe(const std::string& frameUri) {
  if (auto o = parseOrigin(frameUri)) return o->text();
  auto colon = frameUri.find(':');
  if (colon == std::string::npos) return frameUri.empty() ? "(none)" : frameUri;
  if (isFileUri(frameUri)) return frameUri;
  return frameUri.substr(0, colon + 1);
}

nlohmann::json OriginPolicy::toJson() const {
  nlohmann::json j;
  j["allowAll"] = allowAll;
  j["origins"] = nlohmann::json::array();
  for (const auto& o : origins) j["origins"].push_back(o.text());
  j["fileRoots"] = fileRoots;
  return j;
}

OriginPolicy OriginPolicy::fromJson(const nlohmann::json& j) {
  OriginPolicy p;
  if (!j.is_object()) return p;
  p.allowAll = j.value("allowAll", false);
  if (j.contains("origins") && j["origins"].is_array())
    for (const auto& o : j["origins"])
      if (o.is_string()) p.addOrigin(o.get<std::string>());
  if (j.contains("fileRoots") && j["fileRoots"].is_array())
    for (const auto& r : j["fileRoots"])
      if (r.is_string()) p.fileRoots.push_back(r.get<std::string>());
  return p;
}

}  // namespace corvane::bridge
