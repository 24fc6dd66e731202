#include "plugins/LibCallbackService.h"

#include "app/Log.h"
#include "app/NotificationCenter.h"

#include <atomic>
#include <map>
#include <mutex>

namespace corvane {

// Shared with the notification observer and the handle table, so a message
// that arrives on another thread while the service goes away finds the
// state still there, marked dead, and does nothing.
struct LibCallbackService::State {
  Evaluate evaluate;
  std::atomic<bool> alive{true};
  uint64_t id = 0;

  void passBack(const std::string& sender, const nlohmann::json& info, const std::string& callback) {
    if (!alive) return;
    log().info("Notice by {}  #####  {} [Line {}] ", sender,
               "-[LibCallbackService taskService:didPassBackInfo:withCallback:]", __LINE__);
    evaluate(callback, info);
  }

  void receive(const nlohmann::json& object) {
    if (!alive || !object.is_object()) return;
    auto service = object.find("service");
    const std::string label = service == object.end() ? "(null)"
                              : service->is_string()  ? service->get<std::string>()
                                                      : service->dump();
    log().info("[MainThread]##Notice by {}  #####  {} [Line {}] ", label,
               "-[LibCallbackService receivePluginNotification:]", __LINE__);
    auto passback = object.find("passback");
    auto data = object.find("data");
    evaluate(passback != object.end() && passback->is_string() ? passback->get<std::string>() : "",
             data == object.end() ? nlohmann::json(nullptr) : *data);
  }
};

namespace {

// Handles are numbers, never addresses: a plug-in may keep one after its
// page is gone, and a number names no freed memory.
std::mutex g_handlesLock;
std::map<uint64_t, std::weak_ptr<LibCallbackService::State>> g_handles;
uint64_t g_nextHandle = 1;

std::shared_ptr<LibCallbackService::State> stateForHandle(corvane_delegate* handle) {
  std::lock_guard<std::mutex> hold(g_handlesLock);
  auto it = g_handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == g_handles.end() ? nullptr : it->second.lock();
}

nlohmann::json parsedOrNull(const char* text) {
  if (!text) return nullptr;
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  return value.is_discarded() ? nlohmann::json(nullptr) : value;
}

void hostPassBackInfo(corvane_delegate* delegate, const char* sender, const char* infoJson,
                      const char* callback) {
  try {
    if (auto state = stateForHandle(delegate))
      state->passBack(sender ? sender : "(null)", parsedOrNull(infoJson), callback ? callback : "");
  } catch (const std::exception& e) {
    log().error("{}{} [Line {}] ", e.what(), __PRETTY_FUNCTION__, __LINE__);
  }
}

int hostPostNotification(const char* name, const char* objectJson) {
  try {
    if (!name || !objectJson) return -1;
    nlohmann::json object = nlohmann::json::parse(objectJson, nullptr, false);
    if (object.is_discarded()) return -1;
    NotificationCenter::defaultCenter().post(name, object);
    return 0;
  } catch (const std::exception& e) {
    log().error("{}{} [Line {}] ", e.what(), __PRETTY_FUNCTION__, __LINE__);
    return -1;
  }
}

void hostLog(const char* line) { log().info("{}", line ? line : ""); }

}  // namespace

const corvane_host_api* pluginHostApi() {
  static const corvane_host_api api = {sizeof(corvane_host_api), CORVANE_PLUGIN_API_VERSION, hostPassBackInfo,
                                       hostPostNotification, hostLog};
  return &api;
}

LibCallbackService::LibCallbackService(Evaluate evaluate) : state_(std::make_shared<State>()) {
  state_->evaluate = std::move(evaluate);
  {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    state_->id = g_nextHandle++;
    g_handles.emplace(state_->id, state_);
  }
  observer_ = NotificationCenter::defaultCenter().addObserver(
      kPluginSendMessageAndInfoNotification,
      [state = state_](const std::string&, const nlohmann::json& object) { state->receive(object); });
}

LibCallbackService::~LibCallbackService() {
  state_->alive = false;
  NotificationCenter::defaultCenter().removeObserver(observer_);
  std::lock_guard<std::mutex> hold(g_handlesLock);
  g_handles.erase(state_->id);
}

corvane_delegate* LibCallbackService::handle() const {
  return reinterpret_cast<corvane_delegate*>(static_cast<uintptr_t>(state_->id));
}

void LibCallbackService::receivePluginNotification(const nlohmann::json& object) { state_->receive(object); }

void LibCallbackService::taskService_didPassBackInfo_withCallback(const std::string& sender,
                                                                  const nlohmann::json& info,
                                                                  const std::string& callback) {
  state_->passBack(sender, info, callback);
}

}  // namespace corvane
