#pragma once
// What to do when the web process of a page dies: reload the page at once
// the first time, then after growing pauses, and stop after a run of
// crashes that follow each other closely, so that a page that crashes its
// process at every load does not keep the machine busy. The person can
// always reload by hand, which starts afresh.
#include <chrono>
#include <optional>

namespace corvane {

class PageCrashPolicy {
 public:
  using Clock = std::chrono::steady_clock;

  struct Step {
    bool reload = false;                   // false: give up and say so
    std::chrono::milliseconds delay{0};    // before the reload
    int crashes = 0;                       // in the current run, this one included
  };

  // The pause before each reload of a run; one crash more gives up.
  static constexpr std::chrono::milliseconds kPauses[] = {std::chrono::milliseconds(0),
                                                          std::chrono::milliseconds(1000),
                                                          std::chrono::milliseconds(3000)};
  static constexpr int kReloadsPerRun = static_cast<int>(sizeof kPauses / sizeof kPauses[0]);
  // A crash this long after the previous one starts a new run: the page
  // had been working.
  static constexpr std::chrono::seconds kCalmAfter{60};

  Step crashed(Clock::time_point now);
  // The person reloaded: the next crash starts a new run.
  void reset();

 private:
  int run_ = 0;
  std::optional<Clock::time_point> last_;
};

}  // namespace corvane
