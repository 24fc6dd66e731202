// "EchoTask", the shell's own built-in task: answers every method with its
// name and arguments through the delegate, from the thread it runs on.
// Besides being useful to check a page's task plumbing, it is the model of
// a built-in class: a shared instance whose settings may be read by jobs on
// several threads while the main thread sets them for the next call.
#include "plugins/BuiltInTaskRegistry.h"
#include "plugins/LibCallbackService.h"

#include <glib.h>
#include <nlohmann/json.hpp>

#include <mutex>
#include <string>

namespace corvane {
namespace {

struct EchoTask {
  std::mutex mutex;
  corvane_delegate* delegate = nullptr;
  std::string passback;
  std::string lifecycle;
};

EchoTask& shared() {
  static EchoTask* task = new EchoTask();  // the shared instance lives as long as the process
  return *task;
}

EchoTask* of(void* self) { return self ? static_cast<EchoTask*>(self) : &shared(); }

int setDelegate(void* self, corvane_delegate* delegate, corvane_error*) {
  std::lock_guard<std::mutex> hold(of(self)->mutex);
  of(self)->delegate = delegate;
  return 0;
}

int setPassback(void* self, const char* passback, corvane_error*) {
  std::lock_guard<std::mutex> hold(of(self)->mutex);
  of(self)->passback = passback ? passback : "";
  return 0;
}

int setLifecycle(void* self, const char* token, corvane_error* error) {
  if (!token || std::string(token) != kPluginLifecycleToken) return corvane_error_set(error, "unknown lifecycle");
  std::lock_guard<std::mutex> hold(of(self)->mutex);
  of(self)->lifecycle = token;
  return 0;
}

int callMethod(void* self, const char* method, const char* argumentsJson, corvane_error*) {
  corvane_delegate* delegate;
  std::string passback;
  {
    std::lock_guard<std::mutex> hold(of(self)->mutex);
    delegate = of(self)->delegate;
    passback = of(self)->passback;
  }
  nlohmann::json arguments = nlohmann::json::parse(argumentsJson ? argumentsJson : "null", nullptr, false);
  nlohmann::json info = {{"method", method ? method : ""},
                         {"arguments", arguments.is_discarded() ? nlohmann::json(nullptr) : arguments},
                         {"mainThread", g_main_context_is_owner(g_main_context_default()) == TRUE}};
  pluginHostApi()->pass_back_info(delegate, "EchoTask", info.dump().c_str(), passback.c_str());
  return 0;
}

void* shareInstance(corvane_error*) { return &shared(); }

}  // namespace

const corvane_task_class* echoTaskClass() {
  static const corvane_task_class cls = {
      sizeof(corvane_task_class), "EchoTask", setDelegate, setPassback, setLifecycle,
      nullptr,                    nullptr,    callMethod,  shareInstance, nullptr, nullptr};
  return &cls;
}

}  // namespace corvane
