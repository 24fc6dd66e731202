#pragma once
// A window's size in the one box that the configuration and pages speak of:
// the frame, title bar included, client-side shadows and resize borders
// excluded.
//
// GTK works with two other boxes. gtk_window_resize() and
// gtk_window_get_size() take the content (below the header bar, inside the
// borders), while the size hints it hands to the window manager are for the
// whole X window (borders and header bar included). This module converts
// the frame into both, and keeps every size hint of a window together:
// GTK's hints are set all at once, so setting a limit must never drop the
// aspect ratio set before it, or the other way round.
#include <gtk/gtk.h>

#include <optional>
#include <utility>

namespace corvane::frame {

using Size = std::pair<int, int>;

// What a window adds around its content: the header bar's height and the
// client-side borders (both sides added up).
struct Decorations {
  int titleBar = 0;
  int borderWidth = 0;
  int borderHeight = 0;
};
Decorations decorations(GtkWindow* window);

// The title bar height as the frame counts it (0 without a visible header
// bar or for an undecorated window).
int titleBarHeight(GtkWindow* window);

Size frameSize(GtkWindow* window);
// Resizes the window so that its frame has this size (within its limits).
void setFrameSize(GtkWindow* window, Size size);

// The limits and the aspect ratio kept for a window; nullopt clears one.
void setMinFrameSize(GtkWindow* window, std::optional<Size> size);
void setMaxFrameSize(GtkWindow* window, std::optional<Size> size);
std::optional<Size> minFrameSize(GtkWindow* window);
std::optional<Size> maxFrameSize(GtkWindow* window);
// Width / height of the content (the frame below the title bar) while the
// user resizes. The window manager keeps it (ICCCM: the aspect applies to
// the window minus its base size, which is set to the decorations).
void setContentAspectRatio(GtkWindow* window, std::optional<double> ratio);

}  // namespace corvane::frame
