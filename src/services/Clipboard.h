#pragma once
// The `clipboard` member: plain text on the desktop's clipboard (the X
// CLIPBOARD selection through GTK), shared with every other application.
#include "bridge/ServiceObject.h"

#include <string>

namespace corvane {

class Clipboard : public ServiceObject {
 public:
  const ServiceClass& serviceClass() const override;
  void copy(const std::string& text);
  // The clipboard's text, or "" when it holds none.
  std::string paste() const;
};

}  // namespace corvane
