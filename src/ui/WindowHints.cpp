#include "ui/WindowHints.h"

namespace corvane {
namespace {

constexpr const char* kHintsKey = "corvane-geometry-hints";

struct Hints {
  GdkGeometry geometry{};
  int mask = 0;
};

Hints& hintsOf(GtkWindow* window) {
  auto* h = static_cast<Hints*>(g_object_get_data(G_OBJECT(window), kHintsKey));
  if (!h) {
    h = new Hints();
    g_object_set_data_full(G_OBJECT(window), kHintsKey, h, [](gpointer p) { delete static_cast<Hints*>(p); });
  }
  return *h;
}

void apply(GtkWindow* window, Hints& h) {
  gtk_window_set_geometry_hints(window, nullptr, &h.geometry, static_cast<GdkWindowHints>(h.mask));
}

}  // namespace

void setWindowMinSize(GtkWindow* window, int width, int height) {
  Hints& h = hintsOf(window);
  h.geometry.min_width = width;
  h.geometry.min_height = height;
  h.mask |= GDK_HINT_MIN_SIZE;
  apply(window, h);
}

void setWindowMaxSize(GtkWindow* window, int width, int height) {
  Hints& h = hintsOf(window);
  h.geometry.max_width = width;
  h.geometry.max_height = height;
  h.mask |= GDK_HINT_MAX_SIZE;
  apply(window, h);
}

void setWindowAspect(GtkWindow* window, double ratio) {
  Hints& h = hintsOf(window);
  h.geometry.min_aspect = h.geometry.max_aspect = ratio;
  h.mask |= GDK_HINT_ASPECT;
  apply(window, h);
}

std::optional<SizeLimit> windowMinSize(GtkWindow* window) {
  Hints& h = hintsOf(window);
  if (!(h.mask & GDK_HINT_MIN_SIZE)) return std::nullopt;
  return SizeLimit{h.geometry.min_width, h.geometry.min_height};
}

std::optional<SizeLimit> windowMaxSize(GtkWindow* window) {
  Hints& h = hintsOf(window);
  if (!(h.mask & GDK_HINT_MAX_SIZE)) return std::nullopt;
  return SizeLimit{h.geometry.max_width, h.geometry.max_height};
}

}  // namespace corvane
