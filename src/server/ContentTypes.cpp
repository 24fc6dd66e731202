#include "server/ContentTypes.h"

#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace corvane::server {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 44> kWebTypes{{
    {"bin", "application/octet-stream"},
    {"html", "text/html"},        {"htm", "text/html"},
    {"css", "text/css"},          {"js", "text/javascript"},
    {"mjs", "text/javascript"},   {"cjs", "text/javascript"},
    {"json", "application/json"}, {"webmanifest", "application/manifest+json"},
    {"ts", "text/plain"},
    {"map", "application/json"},  {"txt", "text/plain"},
    {"xml", "application/xml"},   {"svg", "image/svg+xml"},
    {"png", "image/png"},         {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
    {"webp", "image/webp"},       {"ico", "image/x-icon"},
    {"bmp", "image/bmp"},         {"avif", "image/avif"},
    {"wasm", "application/wasm"}, {"pdf", "application/pdf"},
    {"mp4", "video/mp4"},         {"m4v", "video/mp4"},
    {"webm", "video/webm"},       {"ogv", "video/ogg"},
    {"mov", "video/quicktime"},   {"mp3", "audio/mpeg"},
    {"m4a", "audio/mp4"},         {"aac", "audio/aac"},
    {"ogg", "audio/ogg"},         {"oga", "audio/ogg"},
    {"opus", "audio/ogg"},        {"wav", "audio/wav"},
    {"flac", "audio/flac"},       {"woff", "font/woff"},
    {"woff2", "font/woff2"},      {"ttf", "font/ttf"},
    {"otf", "font/otf"},          {"zip", "application/zip"},
    {"csv", "text/csv"},          {"md", "text/markdown"},
}};

constexpr std::string_view kFallback = "application/octet-stream";

std::string guessByName(const std::string& path) {
  gboolean uncertain = FALSE;
  gchar* guessed = g_content_type_guess(path.c_str(), nullptr, 0, &uncertain);
  std::string result(kFallback);
  if (guessed && !uncertain) {
    if (gchar* mime = g_content_type_get_mime_type(guessed)) {
      result = mime;
      g_free(mime);
    }
  }
  g_free(guessed);
  return result;
}

}  // namespace

std::string contentTypeForPath(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, type] : kWebTypes) {
      if (known == ext) return std::string(type);
    }
  }
  // Guess from the name alone (sniffing would cost a read per request), and
  // remember per server thread: the MIME database lookup takes locks.
  thread_local std::unordered_map<std::string, std::string> guessed;
  const std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                              ? path.substr(dot)
                              : std::string();
  if (!ext.empty()) {
    if (auto it = guessed.find(ext); it != guessed.end()) return it->second;
  }
  std::string result = guessByName(path);
  if (!ext.empty() && guessed.size() < 256) guessed.emplace(ext, result);
  return result;
}

}  // namespace corvane::server
