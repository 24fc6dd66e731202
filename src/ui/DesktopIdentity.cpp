#include "ui/DesktopIdentity.h"

#include "app/Bundle.h"
#include "app/BundleIcon.h"
#include "app/Log.h"
#include "icons/IconImage.h"

#include <gtk/gtk.h>

#include <vector>

namespace corvane {

void applyWindowClass(const Bundle& bundle) { gdk_set_program_class(bundle.identifier().c_str()); }

namespace {

// The sizes window managers and docks ask for; a raster icon is never
// enlarged beyond its own size (its largest size is used once instead).
GList* iconList(const icons::IconImage& image) {
  std::vector<int> sizes;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    if (image.scalable() || size <= image.largestSize()) sizes.push_back(size);
  if (sizes.empty()) sizes.push_back(image.largestSize());
  GList* list = nullptr;
  for (int size : sizes) {
    std::string why;
    if (GdkPixbuf* p = image.render(size, &why))
      list = g_list_append(list, p);
    else
      log().info("window icon: {}", why);
  }
  return list;
}

}  // namespace

void applyWindowIconSoon(const Bundle& bundle) {
  const auto found = findBundleIcon(bundle);
  if (!found) {
    if (!declaredIconNames(bundle).empty()) log().info("window icon: the bundle's icon file is missing");
    return;
  }
  auto* path = new std::string(found->path);
  g_idle_add_full(G_PRIORITY_LOW,
                  +[](gpointer data) -> gboolean {
                    std::string why;
                    if (auto image = icons::IconImage::load(*static_cast<std::string*>(data), &why)) {
                      GList* list = iconList(*image);
                      gtk_window_set_default_icon_list(list);
                      // GTK gives a new default only to windows that used
                      // one when they were realised: the main window was
                      // realised before.
                      GList* windows = gtk_window_list_toplevels();
                      for (GList* w = windows; w; w = w->next)
                        if (!gtk_window_get_icon(GTK_WINDOW(w->data)) && !gtk_window_get_icon_name(GTK_WINDOW(w->data)))
                          gtk_window_set_icon_list(GTK_WINDOW(w->data), list);
                      g_list_free(windows);
                      g_list_free_full(list, g_object_unref);
                    } else {
                      log().info("window icon: {}", why);
                    }
                    return G_SOURCE_REMOVE;
                  },
                  path, +[](gpointer data) { delete static_cast<std::string*>(data); });
}

}  // namespace corvane
