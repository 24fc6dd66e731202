#include "plugins/BuiltInTaskRegistry.h"

#include "plugins/PluginBundle.h"

#include <glib.h>

#include <memory>

namespace corvane {

BuiltInTaskRegistry& BuiltInTaskRegistry::shared() {
  static BuiltInTaskRegistry* registry = [] {
    auto* r = new BuiltInTaskRegistry();  // lives as long as the process
    r->registerClass(echoTaskClass());
    return r;
  }();
  return *registry;
}

void BuiltInTaskRegistry::registerClass(const corvane_task_class* cls) {
  if (!cls || !cls->name) return;
  std::lock_guard<std::mutex> hold(mutex_);
  classes_[cls->name] = cls;
}

const corvane_task_class* BuiltInTaskRegistry::classNamed(const std::string& name) const {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = classes_.find(name);
    if (it != classes_.end()) return it->second;
  }
  return PluginBundle::loadedClassNamed(name);
}

void BuiltInTaskRegistry::runInBackground(std::function<void()> job) {
  // A non-exclusive GLib pool: threads are shared with the rest of the
  // process's pools and come and go with the load.
  static GThreadPool* pool = g_thread_pool_new(
      [](gpointer data, gpointer) {
        std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
        (*work)();
      },
      nullptr, 8, FALSE, nullptr);
  g_thread_pool_push(pool, new std::function<void()>(std::move(job)), nullptr);
}

}  // namespace corvane
