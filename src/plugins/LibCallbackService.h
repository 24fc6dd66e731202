#pragma once
// The delegate every plug-in task receives: it turns plug-in messages into
// calls of page functions. Messages come two ways, from any thread: the
// delegate call (host table pass_back_info on this service's handle) and
// the process-wide "kPluginSendMessageAndInfoNotification", which every
// live service answers for its own page. The page function itself always
// runs on the main thread (the evaluator given at creation sees to that).
#include "corvane/plugin.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <string>

namespace corvane {

inline constexpr const char* kPluginSendMessageAndInfoNotification = CORVANE_PLUGIN_MESSAGE_NOTIFICATION;
inline constexpr const char* kPluginLifecycleToken = CORVANE_PLUGIN_LIFECYCLE_TOKEN;

class LibCallbackService {
 public:
  // Calls the page function named `callback` with `value` in this service's
  // page, from any thread (an empty name does nothing).
  using Evaluate = std::function<void(const std::string& callback, const nlohmann::json& value)>;

  // initWithWebView: starts observing the plug-in message notification.
  explicit LibCallbackService(Evaluate evaluate);
  // Stops observing; the handle then answers nothing.
  ~LibCallbackService();
  LibCallbackService(const LibCallbackService&) = delete;
  LibCallbackService& operator=(const LibCallbackService&) = delete;

  // The opaque handle plug-ins get through set_my_delegate.
  corvane_delegate* handle() const;

  void receivePluginNotification(const nlohmann::json& object);
  void taskService_didPassBackInfo_withCallback(const std::string& sender, const nlohmann::json& info,
                                                const std::string& callback);

  struct State;

 private:
  std::shared_ptr<State> state_;
  uint64_t observer_ = 0;
};

// The host table handed to every plug-in library.
const corvane_host_api* pluginHostApi();

}  // namespace corvane
