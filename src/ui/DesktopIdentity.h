#pragma once
// How the desktop knows the application's windows: their class is the
// bundle identifier, which is also the name of the application's desktop
// entry (as corvane-kit writes it), so docks and launchers group the
// windows with their entry; and their icon is the bundle's own.
namespace corvane {

class Bundle;

// The window class of every window made from now on (WM_CLASS on X11).
// Call before the first window is realised.
void applyWindowClass(const Bundle& bundle);

// Reads the bundle's icon and makes it every window's icon, on an idle
// turn of the main loop so that it never delays the first page. A bundle
// without an icon keeps the desktop's generic one (a log line says why).
void applyWindowIconSoon(const Bundle& bundle);

}  // namespace corvane
