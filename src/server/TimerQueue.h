#pragma once
// One-shot timers run by the server's own loop thread. Any thread may add
// one; adding wakes the loop so that it sees the new deadline.
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane::server {

class TimerQueue {
 public:
  using Clock = std::chrono::steady_clock;

  // `wake` is called (outside the lock) after every addition.
  explicit TimerQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

  // Milliseconds until the earliest deadline (0 when one is due), or -1
  // when there is none: the timeout argument of poll().
  int pollTimeout() const;

  // Runs `action` after `delay`, with `first` called under the queue's
  // lock: whatever `first` starts (a parked connection) is then always
  // ended by `action`, even when runAll() runs at that moment. False, and
  // `first` not called, once runAll() ran.
  bool afterUnlessStopped(std::chrono::milliseconds delay, std::function<void()> action,
                          const std::function<void()>& first);

  // Runs every action whose deadline has passed, outside the lock.
  void runDue();
  // Runs every action at once, due or not, and takes no more until
  // reopen() (the server is stopping).
  void runAll();
  void reopen();

 private:
  std::vector<std::function<void()>> take(std::optional<Clock::time_point> until);

  std::function<void()> wake_;
  mutable std::mutex mutex_;
  std::multimap<Clock::time_point, std::function<void()>> timers_;
  bool stopped_ = false;
};

}  // namespace corvane::server
