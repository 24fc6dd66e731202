#pragma once
// Sleep and wake of the machine, as logind announces them on the system bus:
// PrepareForSleep(true) before sleeping, PrepareForSleep(false) after waking.
//
// The system bus is optional. The watcher keeps a connection of its own
// (never the process-wide one, whose loss would end the process): without a
// bus there are no events, and when the bus goes away the events stop and
// the watcher connects again after 1, 2, 4 ... up to 30 seconds.
#include <functional>
#include <memory>

namespace corvane {

class SleepWatcher {
 public:
  // `handler(true)` before sleep, `handler(false)` after wake; main thread.
  explicit SleepWatcher(std::function<void(bool sleeping)> handler);
  ~SleepWatcher();
  SleepWatcher(const SleepWatcher&) = delete;
  SleepWatcher& operator=(const SleepWatcher&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
