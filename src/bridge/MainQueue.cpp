#include "bridge/MainQueue.h"

#include <glib.h>

#include <deque>
#include <mutex>
#include <thread>

namespace corvane {

namespace {
std::thread::id g_mainThread;
std::mutex g_lock;
std::deque<std::function<void()>> g_jobs;
bool g_scheduled = false;

gboolean drain(gpointer) {
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard<std::mutex> hold(g_lock);
      if (g_jobs.empty()) {
        g_scheduled = false;
        return G_SOURCE_REMOVE;
      }
      job = std::move(g_jobs.front());
      g_jobs.pop_front();
    }
    job();
  }
}
}  // namespace

void MainQueue::initOnMainThread() { g_mainThread = std::this_thread::get_id(); }

bool MainQueue::isMainThread() { return std::this_thread::get_id() == g_mainThread; }

void MainQueue::post(std::function<void()> job) {
  std::lock_guard<std::mutex> hold(g_lock);
  g_jobs.push_back(std::move(job));
  if (!g_scheduled) {
    g_scheduled = true;
    // Never run inline, even on the main thread: queued work comes after
    // whatever the main thread is doing now.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, drain, nullptr, nullptr);
    g_source_attach(source, nullptr);
    g_source_unref(source);
  }
}

}  // namespace corvane
