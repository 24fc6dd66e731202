#pragma once
// Process-wide notifications between subsystems ("ZVR_NOTICE_APP_TERMINATE",
// "kNotice_Custom_ZAVRELON_ApplicationOpenFiles", ...). Observers run
// synchronously on the posting thread, in the order they were added.
//
// A notice that must not be lost when it comes before anyone listens (files
// opened at start-up come before the page that takes them exists) is posted
// with postOrHold: without an observer it is kept, and the kept notices are
// delivered in order, once, from the main loop soon after the first observer
// of that name is added. Later notices of that name queue behind them.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* kNoticeAppTerminate = "ZVR_NOTICE_APP_TERMINATE";
inline constexpr const char* kNoticeApplicationOpenFiles =
    "kNotice_Custom_ZAVRELON_ApplicationOpenFiles";

class NotificationCenter {
 public:
  using Observer = std::function<void(const std::string& name, const nlohmann::json& object)>;
  using Token = uint64_t;

  NotificationCenter() = default;
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  static NotificationCenter& defaultCenter();

  Token addObserver(const std::string& name, Observer observer);
  void removeObserver(Token token);
  void post(const std::string& name, const nlohmann::json& object = nullptr);
  // As post, but kept until an observer of `name` exists (see above). Kept
  // notices are delivered on the default main context, so the order holds
  // for notices posted from the main thread.
  void postOrHold(const std::string& name, const nlohmann::json& object = nullptr);
  // How many notices of `name` wait for an observer.
  size_t heldCount(const std::string& name) const;

 private:
  struct Entry {
    Token token;
    std::string name;
    Observer observer;
  };
  std::vector<Observer> observersLocked(const std::string& name) const;
  void scheduleReplayLocked(const std::string& name);
  void replay(const std::string& name);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::map<std::string, std::deque<nlohmann::json>> held_;
  std::map<std::string, unsigned> replaySources_;  // name -> idle source id
  Token next_ = 1;
};

}  // namespace corvane
