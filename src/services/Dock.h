#pragma once
// The `dock` member: the application's badge. The desktop's launchers
// (docks and panels) learn it from the launcher-entry signal on the session
// bus: a number shows as a count, an empty text hides the count. The text
// itself is kept for `badge`, whatever it is.
#include "bridge/ServiceObject.h"

#include <gio/gio.h>

#include <optional>
#include <string>

namespace corvane {

class Dock : public ServiceObject {
 public:
  Dock();
  ~Dock() override;
  const ServiceClass& serviceClass() const override;
  nlohmann::json fieldValue(const std::string& field) const override;

  void setBadge(const std::string& text);
  nlohmann::json badge() const;  // the text, or null when none was set

  // "application://<identifier>.desktop", the launcher the signal names.
  static std::string applicationUri();
  // What the launcher shows for a badge text: the count, or none.
  static std::optional<int64_t> countOf(const std::string& text);

 private:
  GVariant* properties() const;
  void emitUpdate();
  static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                           GDBusMethodInvocation*, gpointer);

  std::optional<std::string> badge_;
  GDBusConnection* bus_ = nullptr;
  guint registration_ = 0;
  std::string objectPath_;
};

}  // namespace corvane
