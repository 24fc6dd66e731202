#include "app/NotificationCenter.h"

#include <glib.h>

#include <algorithm>

namespace corvane {

namespace {

struct ReplayRequest {
  NotificationCenter* center;
  std::string name;
};

}  // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::~NotificationCenter() {
  for (const auto& [name, id] : replaySources_) g_source_remove(id);
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
  std::lock_guard lock(mutex_);
  const Token token = next_++;
  entries_.push_back({token, name, std::move(observer)});
  // Deliver what waited for this name once the new observer's owner has
  // finished setting itself up: from the main loop, not from inside here.
  if (auto it = held_.find(name); it != held_.end() && !it->second.empty()) scheduleReplayLocked(name);
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

std::vector<NotificationCenter::Observer> NotificationCenter::observersLocked(const std::string& name) const {
  std::vector<Observer> targets;
  for (const auto& e : entries_)
    if (e.name == name) targets.push_back(e.observer);
  return targets;
}

void NotificationCenter::post(const std::string& name, const nlohmann::json& object) {
  // Copy first: an observer may add or remove observers while it runs.
  std::vector<Observer> targets;
  {
    std::lock_guard lock(mutex_);
    targets = observersLocked(name);
  }
  for (const auto& observer : targets) observer(name, object);
}

void NotificationCenter::postOrHold(const std::string& name, const nlohmann::json& object) {
  std::vector<Observer> targets;
  {
    std::lock_guard lock(mutex_);
    targets = observersLocked(name);
    auto& queue = held_[name];
    if (targets.empty() || !queue.empty()) {
      // Nobody listens yet, or earlier notices still wait: keep the order.
      queue.push_back(object);
      if (!targets.empty()) scheduleReplayLocked(name);
      return;
    }
  }
  for (const auto& observer : targets) observer(name, object);
}

size_t NotificationCenter::heldCount(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = held_.find(name);
  return it == held_.end() ? 0 : it->second.size();
}

void NotificationCenter::scheduleReplayLocked(const std::string& name) {
  if (replaySources_.count(name)) return;
  replaySources_[name] = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        auto* request = static_cast<ReplayRequest*>(data);
        request->center->replay(request->name);
        return G_SOURCE_REMOVE;
      },
      new ReplayRequest{this, name}, [](gpointer data) { delete static_cast<ReplayRequest*>(data); });
}

void NotificationCenter::replay(const std::string& name) {
  std::deque<nlohmann::json> notices;
  std::vector<Observer> targets;
  {
    std::lock_guard lock(mutex_);
    replaySources_.erase(name);
    targets = observersLocked(name);
    if (targets.empty()) return;  // the observer went again: keep waiting
    notices.swap(held_[name]);
  }
  for (const auto& object : notices)
    for (const auto& observer : targets) observer(name, object);
}

}  // namespace corvane
