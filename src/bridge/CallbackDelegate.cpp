#include "bridge/CallbackDelegate.h"

#include "app/Log.h"
#include "bridge/BridgeProtocol.h"
#include "bridge/MainQueue.h"
#include "bridge/PageConnection.h"
#include "bridge/ServiceObject.h"

namespace corvane {

std::shared_ptr<CallbackDelegate> CallbackDelegate::initWithContext(std::shared_ptr<PageScript> context,
                                                                    const nlohmann::json& callback) {
  if (!context || !callback.is_object() || !callback.contains(bridge::kFunctionMarker)) return nullptr;
  const auto& h = callback[bridge::kFunctionMarker];
  if (!h.is_number_unsigned()) return nullptr;
  uint64_t generation = context->generation();
  // Tell the page to keep the function beyond the call that brought it.
  if (auto* reply = context->innermostReply()) reply->retained.push_back(h.get<uint64_t>());
  return std::shared_ptr<CallbackDelegate>(
      new CallbackDelegate(std::move(context), h.get<uint64_t>(), generation));
}

CallbackDelegate::CallbackDelegate(std::shared_ptr<PageScript> context, uint64_t handle,
                                   uint64_t generation)
    : Command(std::move(context)), handle_(handle), generation_(generation) {}

CallbackDelegate::~CallbackDelegate() {
  if (!context) return;
  if (MainQueue::isMainThread()) {
    context->releaseFunction(handle_, generation_);
    return;
  }
  // The last holder may be a worker thread; the page is only touched on
  // the main thread.
  MainQueue::post([page = std::weak_ptr<PageScript>(context), h = handle_, g = generation_] {
    if (auto p = page.lock()) p->releaseFunction(h, g);
  });
}

std::optional<nlohmann::json> CallbackDelegate::call() { return callWithParams({}); }

std::optional<nlohmann::json> CallbackDelegate::callWithParams(const std::vector<nlohmann::json>& params) {
  nlohmann::json args = nlohmann::json::array();
  for (const auto& p : params) args.push_back(valueFromObject(p));
  if (context) context->callFunction(handle_, generation_, args);
  return std::nullopt;
}

nlohmann::json CallbackDelegate::valueFromObject(const nlohmann::json& value) {
  // JSON already has the table's shapes: null, text, number, dictionary,
  // array; booleans become 1 or 0 like every other number.
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_object()) {
    if (value.contains(bridge::kObjectMarker) || value.contains(bridge::kFunctionMarker)) return value;
    nlohmann::json out = nlohmann::json::object();
    for (auto it = value.begin(); it != value.end(); ++it) out[it.key()] = valueFromObject(it.value());
    return out;
  }
  if (value.is_array()) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& e : value) out.push_back(valueFromObject(e));
    return out;
  }
  if (value.is_binary()) {
    log().warn("Warning: unknown object type for: {}", "binary");
    return nlohmann::json{{bridge::kUndefinedMarker, true}};
  }
  return value;
}

namespace script {
std::shared_ptr<CallbackDelegate> From<std::shared_ptr<CallbackDelegate>>::get(const nlohmann::json& v,
                                                                              BridgeCall& c) {
  return CallbackDelegate::initWithContext(c.page, v);
}
}  // namespace script

}  // namespace corvane
