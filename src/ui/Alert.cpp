#include "ui/Alert.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>

namespace corvane {

void runAlert(const std::string& title, const std::string& message, const std::string& button,
              AlertKind kind) {
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, kind == AlertKind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                             GTK_BUTTONS_NONE, "%s", title.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), GTK_RESPONSE_OK);
  // Enter answers the alert, as it does everywhere else on the desktop.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
#ifdef CORVANE_TEST_SERVICES
  // Test runs of the shell press the button themselves once it is shown.
  if (const char* v = std::getenv("CORVANE_TEST_SERVICES"); v && std::strcmp(v, "1") == 0)
    g_timeout_add(300, [](gpointer d) -> gboolean {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
      return G_SOURCE_REMOVE;
    }, dialog);
#endif
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

}  // namespace corvane
