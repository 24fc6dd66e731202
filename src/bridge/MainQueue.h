#pragma once
// The main thread's queue: work posted from any thread runs on the GLib
// main context in the order it was posted (one FIFO, one idle source).
#include <functional>

namespace corvane {

class MainQueue {
 public:
  // Marks the calling thread as the main thread; called once at start.
  static void initOnMainThread();
  static bool isMainThread();
  static void post(std::function<void()> job);
};

}  // namespace corvane
