#include "services/ActivationWatcher.h"

#include "app/Utils.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include <fstream>
#include <set>

namespace corvane {

struct ActivationWatcher::Impl {
  Handler handler;
  std::set<GtkWidget*> watched;
  unsigned long lastActive = 0;
#ifdef GDK_WINDOWING_X11
  GdkWindow* root = nullptr;
#endif

  void ownActivated() {
    auto& u = Utils::sharedInstance();
    gchar* uri = g_filename_to_uri(u.bundle().bundlePath().c_str(), nullptr, nullptr);
    handler(u.getAppName(), uri ? uri : "");
    g_free(uri);
  }

#ifdef GDK_WINDOWING_X11
  // Name and program of another client's window, from its window
  // properties and, through its process id, /proc.
  void otherActivated(Display* dpy, Window w) {
    std::string name;
    XClassHint hint{};
    if (XGetClassHint(dpy, w, &hint)) {
      if (hint.res_class) name = hint.res_class;
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    std::string url;
    Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", True);
    Atom type;
    int format;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    if (pidAtom != None &&
        XGetWindowProperty(dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &rest,
                           &data) == Success && data && count == 1) {
      const unsigned long pid = *reinterpret_cast<unsigned long*>(data);
      char exe[4096];
      const std::string link = "/proc/" + std::to_string(pid) + "/exe";
      ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
      if (n > 0) {
        gchar* uri = g_filename_to_uri(std::string(exe, n).c_str(), nullptr, nullptr);
        if (uri) url = uri;
        g_free(uri);
      }
    }
    if (data) XFree(data);
    handler(name, url);
  }

  static GdkFilterReturn filter(GdkXEvent* xev, GdkEvent*, gpointer self) {
    auto* impl = static_cast<Impl*>(self);
    auto* ev = static_cast<XEvent*>(xev);
    if (ev->type != PropertyNotify) return GDK_FILTER_CONTINUE;
    Display* dpy = ev->xproperty.display;
    static Atom active = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    if (ev->xproperty.atom != active) return GDK_FILTER_CONTINUE;
    Atom type;
    int format;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, ev->xproperty.window, active, 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &rest, &data) == Success && data && count == 1) {
      const Window w = *reinterpret_cast<Window*>(data);
      if (w != None && w != impl->lastActive) {
        impl->lastActive = w;
        // Our own windows report through their focus instead.
        if (!gdk_x11_window_lookup_for_display(gdk_x11_lookup_xdisplay(dpy), w))
          impl->otherActivated(dpy, w);
      }
    }
    if (data) XFree(data);
    return GDK_FILTER_CONTINUE;
  }
#endif
};

ActivationWatcher::ActivationWatcher(Handler handler) : impl_(new Impl) {
  impl_->handler = std::move(handler);
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    impl_->root = gdk_get_default_root_window();
    gdk_window_set_events(impl_->root, static_cast<GdkEventMask>(gdk_window_get_events(impl_->root) |
                                                                 GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(impl_->root, &Impl::filter, impl_);
  }
#endif
}

ActivationWatcher::~ActivationWatcher() {
#ifdef GDK_WINDOWING_X11
  if (impl_->root) gdk_window_remove_filter(impl_->root, &Impl::filter, impl_);
#endif
  for (GtkWidget* w : impl_->watched) g_signal_handlers_disconnect_by_data(w, impl_);
  delete impl_;
}

void ActivationWatcher::watchOwnWindow(void* window) {
  auto* widget = GTK_WIDGET(window);
  if (!widget || impl_->watched.count(widget)) return;
  impl_->watched.insert(widget);
  g_signal_connect(widget, "notify::is-active", G_CALLBACK(+[](GObject* w, GParamSpec*, gpointer self) {
                     if (gtk_window_is_active(GTK_WINDOW(w))) static_cast<Impl*>(self)->ownActivated();
                   }),
                   impl_);
  g_signal_connect(widget, "destroy", G_CALLBACK(+[](GtkWidget* w, gpointer self) {
                     static_cast<Impl*>(self)->watched.erase(w);
                   }),
                   impl_);
}

}  // namespace corvane
