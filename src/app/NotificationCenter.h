#pragma once
// Process-wide notifications between subsystems ("ZVR_NOTICE_APP_TERMINATE",
// "kNotice_Custom_ZAVRELON_ApplicationOpenFiles", ...). Observers run
// synchronously on the posting thread, in the order they were added.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
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

  static NotificationCenter& defaultCenter();

  Token addObserver(const std::string& name, Observer observer);
  void removeObserver(Token token);
  void post(const std::string& name, const nlohmann::json& object = nullptr);

 private:
  struct Entry {
    Token token;
    std::string name;
    Observer observer;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
  Token next_ = 1;
};

}  // namespace corvane
