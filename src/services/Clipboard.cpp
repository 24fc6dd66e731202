#include "services/Clipboard.h"

#include <gtk/gtk.h>

namespace corvane {

void Clipboard::copy(const std::string& text) {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_clear(clipboard);
  gtk_clipboard_set_text(clipboard, text.c_str(), static_cast<gint>(text.size()));
  // A clipboard manager, where the desktop runs one, keeps the text after
  // the application quits.
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
}

std::string Clipboard::paste() const {
  // Waits for the owner (this or another application) to hand the text over.
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

const ServiceClass& Clipboard::serviceClass() const {
  static const ServiceClass cls = ServiceClass::Builder<Clipboard>("Clipboard")
                                      .method("copy:", &Clipboard::copy)
                                      .method("paste", &Clipboard::paste)
                                      .scriptNames({{"copy:", "copy"}, {"paste", "paste"}})
                                      .build();
  return cls;
}

}  // namespace corvane
