#include "app/PageCrashPolicy.h"

namespace corvane {

PageCrashPolicy::Step PageCrashPolicy::crashed(Clock::time_point now) {
  if (!last_ || now - *last_ >= kCalmAfter) run_ = 0;
  last_ = now;
  ++run_;
  Step step;
  step.crashes = run_;
  if (run_ <= kReloadsPerRun) {
    step.reload = true;
    step.delay = kPauses[run_ - 1];
  }
  return step;
}

void PageCrashPolicy::reset() {
  run_ = 0;
  last_.reset();
}

}  // namespace corvane
