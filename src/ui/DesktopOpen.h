#pragma once
// Opening an address or a file with the desktop's handler for it. Inside a
// sandbox, or when GTK_USE_PORTAL=1 asks for it (the rule GTK's dialogs
// follow), the request goes to the desktop portal (OpenURI), which starts
// the handler outside the shell or lets the person choose one; otherwise
// GIO starts the default handler itself.
#include <string>

typedef struct _GtkWindow GtkWindow;

namespace corvane {

// True when dialogs and hand-offs go through the desktop portal.
bool desktopPortalWanted();

// Opens `uri` (a file: URI opens the file). `parent`: the window the
// portal's questions belong to (nullptr: the application's active window).
// False with a reason when neither the portal nor GIO took it.
bool openOnDesktop(const std::string& uri, GtkWindow* parent, std::string* error);

}  // namespace corvane
