#include "ui/Alert.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>

namespace corvane {

void runAlert(const std::string& title, const std::string& message, const std::string& button) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_NONE,
                                             "%s", title.c_str());
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), GTK_RESPONSE_OK);
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
#ifdef CORVANE_TEST_SERVICES
  // Test runs of the shell press the button themselves once it is shown
  // (after CORVANE_TEST_ALERT_ANSWER_MS, 300 by default).
  if (const char* v = std::getenv("CORVANE_TEST_SERVICES"); v && std::strcmp(v, "1") == 0) {
    const char* after = std::getenv("CORVANE_TEST_ALERT_ANSWER_MS");
    g_timeout_add(after ? static_cast<guint>(std::atoi(after)) : 300, [](gpointer d) -> gboolean {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
      return G_SOURCE_REMOVE;
    }, dialog);
  }
#endif
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

}  // namespace corvane
