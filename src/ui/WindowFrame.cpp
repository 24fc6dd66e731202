#include "ui/WindowFrame.h"

#include <algorithm>
#include <memory>

namespace corvane::frame {
namespace {

struct Limits {
  std::optional<Size> min, max;
  std::optional<double> aspect;
};

constexpr const char* kLimitsKey = "corvane-frame-limits";

void applyLimits(GtkWindow* window);

Limits& limitsOf(GtkWindow* window) {
  auto* limits = static_cast<Limits*>(g_object_get_data(G_OBJECT(window), kLimitsKey));
  if (!limits) {
    limits = new Limits;
    g_object_set_data_full(G_OBJECT(window), kLimitsKey, limits,
                           [](gpointer p) { delete static_cast<Limits*>(p); });
    // The hints are in the X window's box, which depends on the
    // decorations: measure again once they are known or change.
    auto again = +[](GtkWidget* w, gpointer) { applyLimits(GTK_WINDOW(w)); };
    g_signal_connect_after(window, "map", G_CALLBACK(again), nullptr);
    g_signal_connect(window, "notify::decorated",
                     G_CALLBACK(+[](GtkWidget* w, GParamSpec*, gpointer) { applyLimits(GTK_WINDOW(w)); }),
                     nullptr);
  }
  return *limits;
}

// Every hint at once, in the X window's box.
void applyLimits(GtkWindow* window) {
  const Limits& l = limitsOf(window);
  const Decorations d = decorations(window);
  // The frame already holds the title bar: only the borders come on top.
  const int extraWidth = d.borderWidth, extraHeight = d.borderHeight;
  GdkGeometry g{};
  int hints = 0;
  if (l.min) {
    g.min_width = std::max(1, l.min->first + extraWidth);
    g.min_height = std::max(1, l.min->second + extraHeight);
    hints |= GDK_HINT_MIN_SIZE;
  }
  if (l.max) {
    g.max_width = std::max(1, l.max->first + extraWidth);
    g.max_height = std::max(1, l.max->second + extraHeight);
    hints |= GDK_HINT_MAX_SIZE;
  }
  if (l.aspect) {
    g.min_aspect = g.max_aspect = *l.aspect;
    g.base_width = d.borderWidth;
    g.base_height = d.borderHeight + d.titleBar;
    hints |= GDK_HINT_ASPECT | GDK_HINT_BASE_SIZE;
  }
  gtk_window_set_geometry_hints(window, nullptr, hints ? &g : nullptr, static_cast<GdkWindowHints>(hints));
}

}  // namespace

int titleBarHeight(GtkWindow* window) {
  if (!window || !gtk_window_get_decorated(window)) return 0;
  GtkWidget* bar = gtk_window_get_titlebar(window);
  if (!bar || !gtk_widget_get_visible(bar)) return 0;
  // GTK itself counts the header bar by its natural height.
  int minimum = 0, natural = 0;
  gtk_widget_get_preferred_height(bar, &minimum, &natural);
  return natural;
}

Decorations decorations(GtkWindow* window) {
  Decorations d;
  d.titleBar = titleBarHeight(window);
  GtkWidget* widget = GTK_WIDGET(window);
  GdkWindow* gdk = gtk_widget_get_window(widget);
  if (gdk && gtk_widget_get_mapped(widget)) {
    // Mapped, GTK answers the size of the X window less exactly what it
    // draws around the content, so the difference is the decorations.
    int width = 0, height = 0;
    gtk_window_get_size(window, &width, &height);
    d.borderWidth = std::max(0, gdk_window_get_width(gdk) - width);
    d.borderHeight = std::max(0, gdk_window_get_height(gdk) - height - d.titleBar);
  }
  return d;
}

Size frameSize(GtkWindow* window) {
  int width = 0, height = 0;
  gtk_window_get_size(window, &width, &height);
  return {width, height + titleBarHeight(window)};
}

void setFrameSize(GtkWindow* window, Size size) {
  const int width = std::max(1, size.first);
  const int height = std::max(1, size.second - titleBarHeight(window));
  // A window that cannot be resized keeps its default size: set both.
  gtk_window_set_default_size(window, width, height);
  gtk_window_resize(window, width, height);
}

void setMinFrameSize(GtkWindow* window, std::optional<Size> size) {
  limitsOf(window).min = size;
  applyLimits(window);
}

void setMaxFrameSize(GtkWindow* window, std::optional<Size> size) {
  limitsOf(window).max = size;
  applyLimits(window);
}

std::optional<Size> minFrameSize(GtkWindow* window) { return limitsOf(window).min; }
std::optional<Size> maxFrameSize(GtkWindow* window) { return limitsOf(window).max; }

void setContentAspectRatio(GtkWindow* window, std::optional<double> ratio) {
  if (ratio && !(*ratio > 0)) ratio.reset();
  limitsOf(window).aspect = ratio;
  applyLimits(window);
}

}  // namespace corvane::frame
