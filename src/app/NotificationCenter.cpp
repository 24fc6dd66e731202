#include "app/NotificationCenter.h"

#include <algorithm>

namespace corvane {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
  std::lock_guard lock(mutex_);
  const Token token = next_++;
  entries_.push_back({token, name, std::move(observer)});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const std::string& name, const nlohmann::json& object) {
  // Copy first: an observer may add or remove observers while it runs.
  std::vector<Observer> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_)
      if (e.name == name) targets.push_back(e.observer);
  }
  for (const auto& observer : targets) observer(name, object);
}

}  // namespace corvane
