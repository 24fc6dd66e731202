#include "app/LoginItem.h"

#include "app/Bundle.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"

#include <glib.h>

#include <fstream>
#include <iterator>

namespace corvane {
namespace {

// Desktop-entry Exec quoting: double quotes around every argument, with
// the characters that stay special inside them escaped.
std::string quoteArg(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

constexpr const char* kBundleKey = "X-Corvane-Bundle=";

}  // namespace

LoginItem::LoginItem(std::string bundleIdentifier, std::string bundlePath, std::string appName,
                     std::string executable)
    : id_(std::move(bundleIdentifier)),
      bundle_(std::move(bundlePath)),
      name_(std::move(appName)),
      executable_(std::move(executable)) {}

std::string LoginItem::entryPath() const {
  return xdg::configHome() + "/autostart/" + identifierFileName(id_) + ".desktop";
}

std::string LoginItem::execLine() const {
  // "%" is a field code in Exec lines and must be doubled.
  std::string line = quoteArg(executable_) + " --bundle " + quoteArg(bundle_);
  std::string out;
  for (char c : line) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

bool LoginItem::isStartAtLogin() const {
  std::ifstream in(entryPath());
  if (!in) return false;
  for (std::string line; std::getline(in, line);)
    if (line == std::string(kBundleKey) + bundle_) return true;
  return false;
}

bool LoginItem::setStartAtLogin(bool wish) const {
  if (wish == isStartAtLogin()) return true;
  const std::string path = entryPath();
  if (!wish) return Utils::removeFile(path);

  const std::string folder = Utils::getPathParentPath(path);
  if (!Utils::checkPathIsDir(folder)) Utils::createDirWithPath(folder);
  const std::string entry = "[Desktop Entry]\nType=Application\nName=" + name_ +
                            "\nExec=" + execLine() + "\n" + kBundleKey + bundle_ +
                            "\nX-GNOME-Autostart-enabled=true\n";
  GError* error = nullptr;
  // g_file_set_contents writes a temporary file and renames it.
  if (!g_file_set_contents(path.c_str(), entry.data(), static_cast<gssize>(entry.size()), &error)) {
    log().error("cannot write login item {}: {}", path, error->message);
    g_error_free(error);
    return false;
  }
  return true;
}

}  // namespace corvane
