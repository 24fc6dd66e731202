#include "services/Notice.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/DesktopNotifications.h"

namespace corvane {
namespace {

constexpr uint64_t kNoPanel = static_cast<uint64_t>(-1);
// Response ids of the alert's three places.
constexpr int kDefault = 1, kAlternate = 2, kOther = 3;

std::string textOf(const nlohmann::json& params, const char* key) {
  if (!params.contains(key)) return "";
  const auto& v = params[key];
  return v.is_string() ? v.get<std::string>() : v.dump();
}

notifications::Message messageFrom(const std::string& json, std::string appName, std::string sound) {
  const nlohmann::json params = UtilTool::paramsDictionary(json);
  return {std::move(appName), UtilTool::stringValue(params, "title"), UtilTool::stringValue(params, "content"),
          std::move(sound)};
}

GtkWindow* mainWindow() {
  GApplication* app = g_application_get_default();
  if (!app || !GTK_IS_APPLICATION(app)) return nullptr;
  GList* last = g_list_last(gtk_application_get_windows(GTK_APPLICATION(app)));
  return last ? GTK_WINDOW(last->data) : nullptr;
}

}  // namespace

// ---- growl ---------------------------------------------------------------------

Growl::Growl() : available_(notifications::serviceAnswers()) {
  if (!available_) log().info("Could not load Growl.framework");
}

void Growl::notify(const std::string& json) {
  if (!available_) return;
  const std::string error = notifications::post(messageFrom(json, "Callback", ""));
  if (!error.empty()) log().info("growl notify: {}", error);
}

const ServiceClass& Growl::serviceClass() const {
  static const ServiceClass cls = ServiceClass::Builder<Growl>("Growl")
                                      .method("notify:", &Growl::notify)
                                      .scriptNames({{"notify:", "notify"}})
                                      .excludeSelectors([](const std::string& s) { return s != "notify:"; })
                                      .build();
  return cls;
}

// ---- notice --------------------------------------------------------------------

bool Notice::available() { return notifications::serviceAnswers(); }

std::string Notice::notify(const std::string& json) {
  // The desktop's usual sound for a new message goes with it.
  return notifications::post(messageFrom(json, Utils::sharedInstance().getAppName(), "message-new-instant"));
}

GtkWidget* Notice::makeAlert(const nlohmann::json& params, GtkWindow* parent) {
  const std::string kind = params.contains("alertType") ? textOf(params, "alertType") : "Alert";
  GtkMessageType type;
  if (kind == "Alert") type = GTK_MESSAGE_WARNING;
  else if (kind == "Information") type = GTK_MESSAGE_INFO;
  else if (kind == "Critical") type = GTK_MESSAGE_ERROR;
  else return nullptr;
  const nlohmann::json buttons =
      params.contains("buttons") && params["buttons"].is_array() ? params["buttons"] : nlohmann::json::array();
  if (buttons.empty() || buttons.size() > 4) return nullptr;

  // Texts go in as arguments of "%s": never read as formats or markup.
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s",
                                             textOf(params, "title").c_str());
  const std::string message = textOf(params, "message");
  if (!message.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", message.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), textOf(params, "title").c_str());
  // Three places at most; the first (default) button stands at the right
  // end, the way GTK dialogs place their affirmative button.
  const size_t places = std::min<size_t>(buttons.size(), 3);
  static const int ids[] = {kDefault, kAlternate, kOther};
  for (size_t i = places; i-- > 0;) {
    const auto& b = buttons[i];
    GtkWidget* button = gtk_button_new_with_label(b.is_string() ? b.get<std::string>().c_str() : b.dump().c_str());
    gtk_widget_set_can_default(button, TRUE);
    gtk_widget_show(button);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, ids[i]);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kDefault);
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), kDefault));
  return dialog;
}

uint64_t Notice::alert(const std::string& json) {
  const nlohmann::json params = UtilTool::paramsDictionary(json);
  GtkWidget* dialog = makeAlert(params, mainWindow());
  if (!dialog) return kNoPanel;
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  switch (response) {
    case kDefault: return 1;
    case kAlternate: return 0;
    case kOther: return kNoPanel;
    default: {
      // Closed without a button (Escape, the window's close button): the
      // answer of the last button, the one that cancels.
      const size_t count = params["buttons"].size();
      return count == 1 ? 1 : count == 2 ? 0 : kNoPanel;
    }
  }
}

const ServiceClass& Notice::serviceClass() const {
  // Only notify and alert are visible; available stays hidden.
  static const ServiceClass cls =
      ServiceClass::Builder<Notice>("Notice")
          .method("notify:", &Notice::notify)
          .method("alert:", &Notice::alert)
          .scriptNames({{"notify:", "notify"}, {"alert:", "alert"}, {"available", "available"}})
          .excludeSelectors([](const std::string& s) { return s != "notify:" && s != "alert:"; })
          .build();
  return cls;
}

}  // namespace corvane
