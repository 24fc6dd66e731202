#include "services/ActivationWatcher.h"

#include "app/Utils.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <gdk/gdkx.h>
#endif

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace corvane {

// Which application is active, as far as this process can tell, shared by
// every watcher: one page's App object must not see an application switch
// that another page's already took for its own.
class ActiveApplication {
 public:
  static ActiveApplication& instance() {
    static ActiveApplication* shared = new ActiveApplication();  // lives as long as the process
    return *shared;
  }

  void add(ActivationWatcher* w) { watchers_.push_back(w); }
  void remove(ActivationWatcher* w) { watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), w), watchers_.end()); }

 private:
  enum class Active { Nobody, Us, Other };

  ActiveApplication() {
    // Every focus gain of one of our top-level windows, whenever it was made.
    g_type_class_ref(GTK_TYPE_WIDGET);  // its signals exist from here on
    focusHook_ = g_signal_add_emission_hook(g_signal_lookup("focus-in-event", GTK_TYPE_WIDGET), 0, &onFocusIn,
                                            this, nullptr);
    for (GtkWindow* w : ownTopLevels())
      if (gtk_window_is_active(w)) active_ = Active::Us;
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
      root_ = gdk_get_default_root_window();
      gdk_window_set_events(root_, static_cast<GdkEventMask>(gdk_window_get_events(root_) | GDK_PROPERTY_CHANGE_MASK));
      gdk_window_add_filter(root_, &ActiveApplication::filter, this);
      // Who was active before we looked: another application that was
      // makes our first activation a change.
      if (active_ == Active::Nobody) {
        Display* dpy = gdk_x11_display_get_xdisplay(display);
        const Window w = activeWindow(dpy);
        if (w != None && !ours(dpy, w)) {
          active_ = Active::Other;
          otherKey_ = applicationKey(dpy, w);
        }
      }
    }
#endif
  }

  static std::vector<GtkWindow*> ownTopLevels() {
    std::vector<GtkWindow*> out;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next)
      if (gtk_window_get_window_type(GTK_WINDOW(l->data)) == GTK_WINDOW_TOPLEVEL) out.push_back(GTK_WINDOW(l->data));
    g_list_free(all);
    return out;
  }

  void notify(const std::string& name, const std::string& url) {
    // A handler may end a page and with it a watcher: notify a copy.
    const std::vector<ActivationWatcher*> now = watchers_;
    for (ActivationWatcher* w : now)
      if (std::find(watchers_.begin(), watchers_.end(), w) != watchers_.end()) w->handler_(name, url);
  }

  void weBecameActive() {
    const bool change = active_ == Active::Other;
    active_ = Active::Us;
    otherKey_.clear();
    if (!change) return;
    auto& u = Utils::sharedInstance();
    gchar* uri = g_filename_to_uri(u.bundle().bundlePath().c_str(), nullptr, nullptr);
    notify(u.getAppName(), uri ? uri : "");
    g_free(uri);
  }

  static gboolean onFocusIn(GSignalInvocationHint*, guint count, const GValue* params, gpointer self) {
    if (count > 0 && G_VALUE_HOLDS_OBJECT(&params[0])) {
      auto* target = static_cast<GObject*>(g_value_get_object(&params[0]));
      if (GTK_IS_WINDOW(target) && gtk_window_get_window_type(GTK_WINDOW(target)) == GTK_WINDOW_TOPLEVEL)
        static_cast<ActiveApplication*>(self)->weBecameActive();
    }
    return TRUE;  // stay installed
  }

#ifdef GDK_WINDOWING_X11
  // Another client's window may be gone by the time we ask about it (it
  // was active a moment ago and has just closed): the X error that brings
  // is ignored, where GDK's own handler would end the process.
  struct IgnoredXErrors {
    GdkDisplay* display;
    explicit IgnoredXErrors(Display* dpy) : display(gdk_x11_lookup_xdisplay(dpy)) {
      if (display) gdk_x11_display_error_trap_push(display);
    }
    ~IgnoredXErrors() {
      if (display) gdk_x11_display_error_trap_pop_ignored(display);
    }
    IgnoredXErrors(const IgnoredXErrors&) = delete;
    IgnoredXErrors& operator=(const IgnoredXErrors&) = delete;
  };

  static Window activeWindow(Display* dpy) {
    static const Atom active = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    Atom type;
    int format;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    Window w = None;
    if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), active, 0, 1, False, XA_WINDOW, &type, &format, &count,
                           &rest, &data) == Success && data && count == 1)
      w = *reinterpret_cast<Window*>(data);
    if (data) XFree(data);
    return w;
  }

  static bool ours(Display* dpy, Window w) {
    return gdk_x11_window_lookup_for_display(gdk_x11_lookup_xdisplay(dpy), w) != nullptr;
  }

  // The window's process: as the client names it (_NET_WM_PID), else as
  // the X server knows it (many older clients name none).
  static unsigned long windowPid(Display* dpy, Window w) {
    static const Atom pidAtom = XInternAtom(dpy, "_NET_WM_PID", False);
    IgnoredXErrors ignored(dpy);
    Atom type;
    int format;
    unsigned long count = 0, rest = 0, pid = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &rest, &data) ==
            Success && data && count == 1)
      pid = *reinterpret_cast<unsigned long*>(data);
    if (data) XFree(data);
    int event = 0, error = 0;
    if (pid == 0 && XResQueryExtension(dpy, &event, &error)) {
      XResClientIdSpec spec{w, XRES_CLIENT_ID_PID_MASK};
      long n = 0;
      XResClientIdValue* values = nullptr;
      if (XResQueryClientIds(dpy, 1, &spec, &n, &values) == Success) {
        for (long i = 0; i < n && pid == 0; ++i)
          if (values[i].spec.mask == XRES_CLIENT_ID_PID_MASK) {
            const pid_t p = XResGetClientPid(&values[i]);
            if (p > 0) pid = static_cast<unsigned long>(p);
          }
        XResClientIdsDestroy(n, values);
      }
    }
    return pid;
  }

  static std::string windowClass(Display* dpy, Window w) {
    IgnoredXErrors ignored(dpy);
    std::string name;
    XClassHint hint{};
    if (XGetClassHint(dpy, w, &hint)) {
      if (hint.res_class) name = hint.res_class;
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    return name;
  }

  // Windows of one application share a process (or, without one named, a
  // window class).
  static std::string applicationKey(Display* dpy, Window w) {
    if (const unsigned long pid = windowPid(dpy, w)) return "pid:" + std::to_string(pid);
    const std::string cls = windowClass(dpy, w);
    return cls.empty() ? "window:" + std::to_string(w) : "class:" + cls;
  }

  // Name and program of another client's window, from its window
  // properties and, through its process id, /proc.
  void otherBecameActive(Display* dpy, Window w) {
    const std::string key = applicationKey(dpy, w);
    if (active_ == Active::Other && key == otherKey_) return;
    active_ = Active::Other;
    otherKey_ = key;
    std::string url;
    if (const unsigned long pid = windowPid(dpy, w)) {
      char exe[4096];
      const std::string link = "/proc/" + std::to_string(pid) + "/exe";
      const ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
      if (n > 0) {
        gchar* uri = g_filename_to_uri(std::string(exe, static_cast<size_t>(n)).c_str(), nullptr, nullptr);
        if (uri) url = uri;
        g_free(uri);
      }
    }
    notify(windowClass(dpy, w), url);
  }

  static GdkFilterReturn filter(GdkXEvent* xev, GdkEvent*, gpointer self) {
    auto* ev = static_cast<XEvent*>(xev);
    if (ev->type != PropertyNotify) return GDK_FILTER_CONTINUE;
    Display* dpy = ev->xproperty.display;
    static const Atom active = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    if (ev->xproperty.atom != active) return GDK_FILTER_CONTINUE;
    const Window w = activeWindow(dpy);
    // Nothing active (the desktop) changes nothing; our own windows report
    // through their focus.
    if (w != None && !ours(dpy, w)) static_cast<ActiveApplication*>(self)->otherBecameActive(dpy, w);
    return GDK_FILTER_CONTINUE;
  }

  GdkWindow* root_ = nullptr;
#endif

  std::vector<ActivationWatcher*> watchers_;
  Active active_ = Active::Nobody;
  std::string otherKey_;
  gulong focusHook_ = 0;
};

ActivationWatcher::ActivationWatcher(Handler handler) : handler_(std::move(handler)) {
  ActiveApplication::instance().add(this);
}

ActivationWatcher::~ActivationWatcher() { ActiveApplication::instance().remove(this); }

}  // namespace corvane
