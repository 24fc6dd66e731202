#include "kit/DesktopEntry.h"

#include <glib.h>

#include <algorithm>

namespace corvane::kit {
namespace {

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;

void setList(GKeyFile* file, const char* key, const std::vector<std::string>& values) {
  std::vector<const gchar*> list;
  for (const auto& v : values) list.push_back(v.c_str());
  g_key_file_set_string_list(file, kGroup, key, list.data(), list.size());
}

std::string escapeXml(const std::string& text) {
  gchar* e = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
  std::string out = e;
  g_free(e);
  return out;
}

}  // namespace

std::vector<std::string> openedMimeTypes(const AppMetadata& app) {
  std::vector<std::string> out;
  for (const auto& doc : app.documentTypes)
    for (const auto& mime : doc.mimeTypes)
      if (std::find(out.begin(), out.end(), mime) == out.end()) out.push_back(mime);
  return out;
}

std::string desktopEntryText(const AppMetadata& app, const std::string& command, bool withIcon) {
  GKeyFile* file = g_key_file_new();
  g_key_file_set_string(file, kGroup, "Type", "Application");
  g_key_file_set_string(file, kGroup, "Version", "1.4");
  g_key_file_set_string(file, kGroup, "Name", app.name.c_str());
  if (!app.genericName.empty()) g_key_file_set_string(file, kGroup, "GenericName", app.genericName.c_str());
  if (!app.summary.empty() && app.summary != app.name) g_key_file_set_string(file, kGroup, "Comment", app.summary.c_str());
  if (withIcon) g_key_file_set_string(file, kGroup, "Icon", app.identifier.c_str());
  // The command is a package name (letters, digits and ".+-"), which needs
  // no quoting in Exec.
  g_key_file_set_string(file, kGroup, "Exec", (command + " %F").c_str());
  g_key_file_set_boolean(file, kGroup, "Terminal", FALSE);
  setList(file, "Categories", app.categories);
  const auto mimes = openedMimeTypes(app);
  if (!mimes.empty()) setList(file, "MimeType", mimes);
  if (!app.keywords.empty()) setList(file, "Keywords", app.keywords);
  g_key_file_set_boolean(file, kGroup, "StartupNotify", TRUE);
  // The windows' class is the identifier, as is the entry's name.
  g_key_file_set_string(file, kGroup, "StartupWMClass", app.identifier.c_str());
  // Read back by other applications' facts (getOtherAppInfo).
  g_key_file_set_string(file, kGroup, "X-AppVersion", app.shortVersion.c_str());
  gsize length = 0;
  gchar* data = g_key_file_to_data(file, &length, nullptr);
  std::string out(data, length);
  g_free(data);
  g_key_file_free(file);
  return out;
}

std::string mimeInfoXml(const AppMetadata& app) {
  std::string types;
  for (const auto& doc : app.documentTypes) {
    if (!doc.ownMimeType) continue;
    types += "  <mime-type type=\"" + escapeXml(doc.mimeTypes.front()) + "\">\n";
    types += "    <comment>" + escapeXml(doc.name) + "</comment>\n";
    for (const auto& ext : doc.extensions) types += "    <glob pattern=\"*." + escapeXml(ext) + "\"/>\n";
    types += "  </mime-type>\n";
  }
  if (types.empty()) return "";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         types + "</mime-info>\n";
}

}  // namespace corvane::kit
