#include "ui/DevMode.h"

#include "app/Log.h"
#include "bridge/PageConsole.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace corvane {

namespace {

constexpr const char* kRed = "\033[1;31m";
constexpr const char* kYellow = "\033[33m";
constexpr const char* kDim = "\033[2m";
constexpr const char* kReset = "\033[0m";

// The file a file: URL loads, or nullopt.
std::optional<std::string> filePath(const std::string& url) {
  if (url.rfind("file:", 0) != 0) return std::nullopt;
  gchar* path = g_filename_from_uri(url.c_str(), nullptr, nullptr);
  if (!path) return std::nullopt;
  std::string out = path;
  g_free(path);
  return out;
}

std::string where(const std::string& url, const std::vector<std::string>& folders) {
  if (auto path = filePath(url)) {
    for (const auto& folder : folders)
      if (path->rfind(folder + "/", 0) == 0) return path->substr(folder.size() + 1);
    return lastPathComponent(url);
  }
  // A server's file by its path: "src/main.ts".
  const auto scheme = url.find("://");
  if (scheme != std::string::npos) {
    const auto slash = url.find('/', scheme + 3);
    std::string path = slash == std::string::npos ? "" : url.substr(slash + 1);
    path = path.substr(0, path.find_first_of("?#"));
    return path.empty() ? url : path;
  }
  return url.empty() ? std::string("page") : lastPathComponent(url);
}

bool sameOrigin(const std::string& a, const std::string& b) {
  auto origin = [](const std::string& url) {
    GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!uri) return std::string();
    std::string o = std::string(g_uri_get_scheme(uri)) + "://" + (g_uri_get_host(uri) ? g_uri_get_host(uri) : "") +
                    ":" + std::to_string(g_uri_get_port(uri));
    g_uri_unref(uri);
    return o;
  };
  return origin(a) == origin(b);
}

// A page's text as the terminal shows it: control characters (an escape
// sequence could move the cursor, retitle the terminal or clear it) are
// written as \xNN, line breaks and tabs kept.
std::string printable(const std::string& text) {
  std::string out;
  char hex[8];
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // C1 controls arrive as UTF-8: C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else if (c1) {
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned char>(text[++i]));
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string padded(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

std::string DevMode::consoleText(const ConsoleLine& line, const std::vector<std::string>& folders) {
  const bool uncaught = line.source == "javascript" && line.level == "error";
  std::string level = line.level == "error" ? "ERROR" : printable(line.level);
  if (line.source == "exception") {
    // The engine's report of an error in a callback the shell ran.
    return padded(level, 6) + "uncaught  " + printable(line.text);
  }
  std::string text = printable(line.text);
  if (uncaught && text.rfind("Uncaught", 0) != 0) text = "Uncaught " + text;
  // Lines from promise callbacks and the like come without a place.
  std::string place = line.url.empty() ? std::string("page") : printable(where(line.url, folders));
  // Piece by piece: ":" + std::to_string(...) makes g++ 12 warn falsely
  // (-Wrestrict) at -O3.
  if (line.line > 0) {
    place += ':';
    place += std::to_string(line.line);
  }
  return padded(level, 6) + padded(place, 16) + "  " + text;
}

DevMode::DevMode(WebKitWebView* view, const std::vector<std::string>& folders, const std::string& devUrl)
    : view_(view), folders_(outermostFolders(folders)), devUrl_(devUrl) {
  g_object_ref(view_);
  const char* noColour = std::getenv("NO_COLOR");
  colour_ = isatty(STDOUT_FILENO) && !(noColour && *noColour);

  // Loud on purpose: this mode changes what the page may reach.
  log().warn("DEVELOPMENT MODE (--dev): developer tools on, the page reloads when its files change");
  print("corvane dev: development mode: developer tools on (View > Developer Tools, Ctrl+Shift+I)", kDim);
  if (!devUrl_.empty()) {
    log().warn("DEVELOPMENT MODE: the bridge is given to pages from {} (--dev-url); any program serving that "
               "address reaches the user's files. Never ship an application that runs this way.",
               devUrl_);
    print("corvane dev: the page comes from " + devUrl_ + " and has the bridge there (development only)", kYellow);
  }

  WebKitSettings* settings = webkit_web_view_get_settings(view_);
  webkit_settings_set_enable_developer_extras(settings, TRUE);

  setConsoleObserver([this](const ConsoleLine& line) { console(line); });
  g_signal_connect(view_, "load-changed", G_CALLBACK(&DevMode::onLoadChanged), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(&DevMode::onLoadFailed), this);

  watch_ = std::make_unique<FolderWatch>(folders_, [this](const std::vector<std::string>& paths) { reload(paths); });
  for (const auto& folder : folders_) print("corvane dev: reloading when files change in " + folder, kDim);
}

DevMode::~DevMode() {
  setConsoleObserver(nullptr);
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_unref(view_);
}

void DevMode::print(const std::string& text, const char* colour) {
  if (colour && colour_)
    std::fprintf(stdout, "%s%s%s\n", colour, text.c_str(), kReset);
  else
    std::fprintf(stdout, "%s\n", text.c_str());
  std::fflush(stdout);
}

void DevMode::console(const ConsoleLine& line) {
  const char* colour = line.level == "error" ? kRed : line.level == "warn" ? kYellow : nullptr;
  print(consoleText(line, folders_), colour);
}

void DevMode::reload(const std::vector<std::string>& paths) {
  std::string what = std::to_string(paths.size()) + " files";
  if (paths.size() == 1) {
    what = paths.front();
    for (const auto& folder : folders_)
      if (what.rfind(folder + "/", 0) == 0) what = what.substr(folder.size() + 1);
  }
  print("corvane dev: " + what + " changed: reloading", kDim);
  webkit_web_view_reload_bypass_cache(view_);
}

void DevMode::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  auto* self = static_cast<DevMode*>(data);
  WebKitWebResource* main = webkit_web_view_get_main_resource(view);
  WebKitURIResponse* response = main ? webkit_web_resource_get_response(main) : nullptr;
  if (!response) return;
  const guint status = webkit_uri_response_get_status_code(response);
  if (status < 400) return;
  self->print(std::string("ERROR load failed  ") + webkit_web_resource_get_uri(main) + ": HTTP " +
                  std::to_string(status),
              kRed);
}

gboolean DevMode::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
  auto* self = static_cast<DevMode*>(data);
  // A load that a newer one replaced is no failure.
  if (error && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return FALSE;
  std::string text = std::string("ERROR load failed  ") + (uri ? uri : "") + ": " + (error ? error->message : "");
  if (!self->devUrl_.empty() && uri && sameOrigin(uri, self->devUrl_))
    text += " (is the development server running? Ctrl+R reloads the page)";
  self->print(text, kRed);
  return FALSE;  // WebKit shows its error page
}

}  // namespace corvane
