#pragma once
// Base of the objects that hold the page's script context directly. Here
// the context is the page's script door: holding it keeps the page
// reachable for as long as the object lives.
#include "bridge/PageScript.h"

#include <memory>

namespace corvane {

class Command {
 public:
  explicit Command(std::shared_ptr<PageScript> context) : context(std::move(context)) {}
  virtual ~Command() = default;
  std::shared_ptr<PageScript> context;
};

}  // namespace corvane
