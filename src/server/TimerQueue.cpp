#include "server/TimerQueue.h"

namespace corvane::server {

bool TimerQueue::afterUnlessStopped(std::chrono::milliseconds delay, std::function<void()> action,
                                    const std::function<void()>& first) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return false;
    first();
    timers_.emplace(Clock::now() + delay, std::move(action));
  }
  if (wake_) wake_();
  return true;
}

int TimerQueue::pollTimeout() const {
  std::lock_guard lock(mutex_);
  if (timers_.empty()) return -1;
  const auto left = timers_.begin()->first - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up, so that the loop never wakes just before the deadline.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

std::vector<std::function<void()>> TimerQueue::take(std::optional<Clock::time_point> until) {
  std::vector<std::function<void()>> due;
  std::lock_guard lock(mutex_);
  auto end = until ? timers_.upper_bound(*until) : timers_.end();
  for (auto it = timers_.begin(); it != end; ++it) due.push_back(std::move(it->second));
  timers_.erase(timers_.begin(), end);
  return due;
}

void TimerQueue::runDue() {
  for (auto& action : take(Clock::now())) action();
}

void TimerQueue::runAll() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  for (auto& action : take(std::nullopt)) action();
}

void TimerQueue::reopen() {
  std::lock_guard lock(mutex_);
  stopped_ = false;
}

}  // namespace corvane::server
