#include "app/LoginItem.h"

#include "app/AtomicFile.h"
#include "app/Bundle.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/XdgDirs.h"

#include <glib.h>

#include <memory>

namespace corvane {
namespace {

constexpr const char* kGroup = "Desktop Entry";
constexpr const char* kBundleKey = "X-Corvane-Bundle";

using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

// One Exec argument as the freedesktop.org desktop entry format quotes it: in double
// quotes, with the characters that stay special inside them escaped, and
// "%" doubled (a field code otherwise). GKeyFile then escapes the whole
// value as a string (backslashes doubled, line breaks as \n), so the file
// holds one line whatever the argument holds.
std::string quoteArg(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  out += '"';
  return out;
}

// `text` as GKeyFile stores it (escaped, not checked for UTF-8, so a
// bundle path in any encoding compares as written).
std::string storedForm(const std::string& text) {
  KeyFile file(g_key_file_new(), g_key_file_free);
  g_key_file_set_string(file.get(), kGroup, kBundleKey, text.c_str());
  gchar* value = g_key_file_get_value(file.get(), kGroup, kBundleKey, nullptr);
  std::string out = value ? value : "";
  g_free(value);
  return out;
}

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

std::string LoginItem::execLine() const { return quoteArg(executable_) + " --bundle " + quoteArg(bundle_); }

bool LoginItem::isStartAtLogin() const {
  KeyFile file(g_key_file_new(), g_key_file_free);
  if (!g_key_file_load_from_file(file.get(), Utils::fsPath(entryPath()), G_KEY_FILE_NONE, nullptr)) return false;
  gchar* bundle = g_key_file_get_value(file.get(), kGroup, kBundleKey, nullptr);
  const bool ours = bundle && storedForm(bundle_) == bundle;
  g_free(bundle);
  return ours;
}

bool LoginItem::setStartAtLogin(bool wish) const {
  if (wish == isStartAtLogin()) return true;
  const std::string path = entryPath();
  if (!wish) return Utils::removeFile(path);

  const std::string folder = Utils::getPathParentPath(path);
  if (!Utils::checkPathIsDir(folder)) Utils::createDirWithPath(folder);
  // Every value through GKeyFile: names and paths may hold anything a file
  // name can, line breaks included, and none of it may start a key of its own.
  KeyFile file(g_key_file_new(), g_key_file_free);
  g_key_file_set_string(file.get(), kGroup, "Type", "Application");
  g_key_file_set_string(file.get(), kGroup, "Name", name_.c_str());
  g_key_file_set_string(file.get(), kGroup, "Exec", execLine().c_str());
  g_key_file_set_string(file.get(), kGroup, kBundleKey, bundle_.c_str());
  g_key_file_set_boolean(file.get(), kGroup, "X-GNOME-Autostart-enabled", TRUE);
  gsize length = 0;
  gchar* text = g_key_file_to_data(file.get(), &length, nullptr);
  std::string error;
  const bool written = writeFileAtomically(path, std::string_view(text, length), 0644, &error);
  g_free(text);
  if (!written) log().error("cannot write login item {}: {}", path, error);
  return written;
}

}  // namespace corvane
