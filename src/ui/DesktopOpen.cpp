#include "ui/DesktopOpen.h"

#include "app/Log.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <cstdio>

namespace corvane {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kOpenUri = "org.freedesktop.portal.OpenURI";

// The portal's name for a parent window: "x11:<XID>" (no handle elsewhere:
// the question is then shown on its own).
std::string parentHandle(GtkWindow* parent) {
  if (!parent)
    if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
      parent = gtk_application_get_active_window(GTK_APPLICATION(app));
#ifdef GDK_WINDOWING_X11
  if (parent)
    if (GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(parent)); w && GDK_IS_X11_WINDOW(w)) {
      char handle[32];
      std::snprintf(handle, sizeof handle, "x11:%lx", static_cast<unsigned long>(gdk_x11_window_get_xid(w)));
      return handle;
    }
#endif
  return "";
}

// OpenURI for addresses, OpenFile (with the open file) for local files: the
// portal cannot read our paths inside a sandbox.
bool openWithPortal(const std::string& uri, GtkWindow* parent, std::string* error) {
  GError* e = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
  if (!bus) {
    if (error) *error = e ? e->message : "no session bus";
    g_clear_error(&e);
    return false;
  }
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  const std::string handle = parentHandle(parent);
  GVariant* reply = nullptr;
  gchar* path = g_str_has_prefix(uri.c_str(), "file:") ? g_filename_from_uri(uri.c_str(), nullptr, nullptr) : nullptr;
  if (path) {
    const int fd = ::open(path, O_PATH | O_CLOEXEC);
    if (fd < 0) {
      if (error) *error = std::string("cannot open ") + path;
      g_free(path);
      g_variant_builder_clear(&options);
      g_object_unref(bus);
      return false;
    }
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);  // takes the descriptor
    reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kPortal, kPortalPath, kOpenUri, "OpenFile",
        g_variant_new("(sha{sv})", handle.c_str(), 0, &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 30000,
        fds, nullptr, nullptr, &e);
    g_object_unref(fds);
    g_free(path);
  } else {
    reply = g_dbus_connection_call_sync(bus, kPortal, kPortalPath, kOpenUri, "OpenURI",
                                        g_variant_new("(ssa{sv})", handle.c_str(), uri.c_str(), &options),
                                        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &e);
  }
  g_object_unref(bus);
  if (!reply) {
    if (error) *error = e ? e->message : "the desktop portal did not answer";
    g_clear_error(&e);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

}  // namespace

bool desktopPortalWanted() {
  if (g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS)) return true;
  const char* v = g_getenv("GTK_USE_PORTAL");
  return v && v[0] == '1';
}

bool openOnDesktop(const std::string& uri, GtkWindow* parent, std::string* error) {
  if (desktopPortalWanted()) {
    std::string why;
    if (openWithPortal(uri, parent, &why)) return true;
    log().info("the desktop portal cannot open {} ({}); the shell opens it itself", uri, why);
  }
  GError* e = nullptr;
  if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &e)) return true;
  if (error) *error = e ? e->message : "no handler";
  g_clear_error(&e);
  return false;
}

}  // namespace corvane
