#include "ui/Alert.h"

namespace corvane {
namespace {

GtkWidget* makeAlert(const std::string& title, const std::string& message, GtkWindow* parent,
                     GtkMessageType type) {
  GtkWidget* dialog =
      gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", title.c_str());
  if (!message.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  return dialog;
}

}  // namespace

void runAlert(const std::string& title, const std::string& message, const std::string& button,
              AlertKind kind) {
  GtkWidget* dialog = makeAlert(title, message, nullptr, kind == AlertKind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO);
  gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), GTK_RESPONSE_OK);
  // Enter answers the alert, as it does everywhere else on the desktop.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

void runModalAlert(const std::string& title, const std::string& message, const std::string& button,
                   GtkWindow* parent) {
  GtkWidget* dialog = makeAlert(title, message, parent, GTK_MESSAGE_WARNING);
  gtk_dialog_add_button(GTK_DIALOG(dialog), button.c_str(), GTK_RESPONSE_OK);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

bool runQuestion(const std::string& message, const std::string& detail, const std::string& yes,
                 const std::string& no, GtkWindow* parent) {
  GtkWidget* dialog = makeAlert(message, detail, parent, GTK_MESSAGE_QUESTION);
  gtk_dialog_add_button(GTK_DIALOG(dialog), no.c_str(), GTK_RESPONSE_CANCEL);
  gtk_dialog_add_button(GTK_DIALOG(dialog), yes.c_str(), GTK_RESPONSE_ACCEPT);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
  const bool answer = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
  gtk_widget_destroy(dialog);
  return answer;
}

void showChoiceAlert(const std::string& windowTitle, const std::string& message,
                     const std::vector<std::string>& buttons, GtkWindow* parent, std::function<void(int)> chosen) {
  GtkWidget* dialog = makeAlert(message, "", parent, GTK_MESSAGE_INFO);
  gtk_window_set_title(GTK_WINDOW(dialog), windowTitle.c_str());
  for (size_t i = buttons.size(); i-- > 0;)
    gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(), static_cast<gint>(i));
  if (!buttons.empty()) gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
  auto* holder = new std::function<void(int)>(std::move(chosen));
  g_signal_connect_data(dialog, "response", G_CALLBACK(+[](GtkDialog* d, gint response, gpointer data) {
                          // Hidden first: the choice may open another window.
                          gtk_widget_hide(GTK_WIDGET(d));
                          (*static_cast<std::function<void(int)>*>(data))(response >= 0 ? response : -1);
                          gtk_widget_destroy(GTK_WIDGET(d));
                        }),
                        holder, +[](gpointer data, GClosure*) { delete static_cast<std::function<void(int)>*>(data); },
                        GConnectFlags(0));
  gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace corvane
