#include "ui/FileIcons.h"

#include "app/Utils.h"

#include <gtk/gtk.h>

namespace corvane {

bool writeFileIconPng(const std::string& item, const std::string& pngPath) {
  GFile* file = g_file_new_for_path(item.c_str());
  GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_ICON, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
  g_object_unref(file);
  if (!info) return false;
  GIcon* icon = g_file_info_get_icon(info);
  bool ok = false;
  if (icon) {
    GtkIconInfo* found = gtk_icon_theme_lookup_by_gicon(gtk_icon_theme_get_default(), icon, 128,
                                                        GTK_ICON_LOOKUP_FORCE_SIZE);
    if (found) {
      if (GdkPixbuf* pixbuf = gtk_icon_info_load_icon(found, nullptr)) {
        ok = gdk_pixbuf_save(pixbuf, pngPath.c_str(), "png", nullptr, nullptr);
        g_object_unref(pixbuf);
      }
      g_object_unref(found);
    }
  }
  g_object_unref(info);
  return ok;
}

void installFileIconWriter() { Utils::setIconWriter(&writeFileIconPng); }

}  // namespace corvane
