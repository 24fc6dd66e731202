#pragma once
// One record of a window's geometry hints (minimum and maximum size,
// aspect ratio). GTK replaces all hints on every call and cannot read them
// back, so every part that sets one goes through here: the others are kept
// and the current limits can be answered.
#include <gtk/gtk.h>

#include <optional>
#include <utility>

namespace corvane {

using SizeLimit = std::pair<int, int>;  // width, height

void setWindowMinSize(GtkWindow* window, int width, int height);
void setWindowMaxSize(GtkWindow* window, int width, int height);
void setWindowAspect(GtkWindow* window, double ratio);
std::optional<SizeLimit> windowMinSize(GtkWindow* window);
std::optional<SizeLimit> windowMaxSize(GtkWindow* window);

}  // namespace corvane
