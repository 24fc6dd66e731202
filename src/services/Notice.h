#pragma once
// `growl` and `notice`: notifications on the desktop's notification service
// (DesktopNotifications.h) and, for `notice`, modal alerts.
#include "bridge/ServiceObject.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

namespace corvane {

class Growl : public ServiceObject {
 public:
  Growl();
  const ServiceClass& serviceClass() const override;
  // JSON text: "title", "content". The notification names its sender
  // "Callback".
  void notify(const std::string& json);

 private:
  bool available_;
};

class Notice : public ServiceObject {
 public:
  // Made only when a notification service answers on the session bus.
  static bool available();
  const ServiceClass& serviceClass() const override;

  // JSON text: "title", "content". "" when shown, else the error text.
  std::string notify(const std::string& json);
  // JSON text: "title", "message", "buttons" (1 to 4 texts), "alertType"
  // ("Alert", "Information", "Critical"). 1, 0 or 2^64-1 for the first,
  // second and third button; 2^64-1 also when no alert could be shown.
  uint64_t alert(const std::string& json);

  // The alert's dialog, for tests that look at it before it runs.
  static GtkWidget* makeAlert(const nlohmann::json& params, GtkWindow* parent);
};

}  // namespace corvane
