#pragma once
// A page function object held by the native side. The function itself
// stays in the web process, protected from collection under a handle, until
// this object is destroyed (or the page's frame loads a new document).
#include "bridge/Command.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class CallbackDelegate : public Command {
 public:
  // Nothing for a value that is not a page function (missing, undefined).
  static std::shared_ptr<CallbackDelegate> initWithContext(std::shared_ptr<PageScript> context,
                                                           const nlohmann::json& callback);
  ~CallbackDelegate() override;

  // Calls the function with native values converted to script values, in
  // order. The call is one-way: the page runs it (inside a bridge call,
  // before that call returns; otherwise next), so the function's result is
  // not available here and the answer is always nothing.
  std::optional<nlohmann::json> call();
  std::optional<nlohmann::json> callWithParams(const std::vector<nlohmann::json>& params);

  // Native to script value rules; script to native come from the page side.
  static nlohmann::json valueFromObject(const nlohmann::json& value);

  uint64_t handle() const { return handle_; }

 private:
  CallbackDelegate(std::shared_ptr<PageScript> context, uint64_t handle, uint64_t generation);
  uint64_t handle_;
  uint64_t generation_;
};

}  // namespace corvane
