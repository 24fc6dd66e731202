// The helper-service registry of `Utils` (map_key2XPC): keys to connections,
// sending with "con_id", and the loss notices.
#include "app/Log.h"
#include "app/NotificationCenter.h"
#include "app/Utils.h"
#include "plugins/HelperConnection.h"

namespace corvane {
namespace {

static_assert(HelperConnection::kDefaultCallLimit == std::chrono::seconds(60),
              "the default of Utils::sendMessageWithXPCKey is the connection's");

// The loss handler of every connection: the keys that named it leave the
// registry, then one notice per key goes out (outside the lock, so an
// observer may use the registry).
HelperConnection::LossHandler lossHandler(std::weak_ptr<HelperMap> weakMap) {
  return [weakMap](const std::shared_ptr<HelperConnection>& lost, HelperConnection::Loss how) {
    auto map = weakMap.lock();
    if (!map) return;
    std::vector<std::string> keys;
    {
      std::lock_guard lock(map->mutex);
      for (auto it = map->byKey.begin(); it != map->byKey.end();) {
        if (it->second == lost) {
          keys.push_back(it->first);
          it = map->byKey.erase(it);
        } else {
          ++it;
        }
      }
    }
    const char* notice =
        how == HelperConnection::Loss::Interruption ? kNoticeXPCOnInterruption : kNoticeXPCOnInvalidation;
    for (const auto& key : keys) {
      log().info("{} {}", notice, key);
      NotificationCenter::defaultCenter().post(notice, key);
    }
  };
}

// The message text: JSON, with texts that are not UTF-8 mended rather
// than refused.
std::string messageText(const nlohmann::json& dictionary) {
  return dictionary.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string Utils::getDefaultXPCKey() { return "XPCKEY_ZavrelonLAB_Default"; }
std::string Utils::getDefaultXPCBundleID() { return "com.zavrelon.app.mac.xpc.AgentHelper"; }

bool Utils::registerDefaultXPCConnection() {
  return registerXPCConnectionWithKey(getDefaultXPCKey(), getDefaultXPCBundleID());
}

bool Utils::registerXPCConnectionWithKey(const std::string& key, const std::string& bundleID) {
  std::lock_guard lock(map_key2XPC->mutex);
  if (map_key2XPC->byKey.count(key)) return false;
  auto connection = HelperConnection::create(bundleID, lossHandler(map_key2XPC));
  if (!connection) return false;
  map_key2XPC->byKey.emplace(key, std::move(connection));
  return true;
}

bool Utils::unRegisterXPCConnectionWithKey(const std::string& key) {
  std::shared_ptr<HelperConnection> connection;
  {
    std::lock_guard lock(map_key2XPC->mutex);
    auto it = map_key2XPC->byKey.find(key);
    if (it == map_key2XPC->byKey.end()) return false;
    connection = std::move(it->second);
    map_key2XPC->byKey.erase(it);
  }
  connection->invalidate();
  return true;
}

bool Utils::containsXPCConnection(const std::string& key) const {
  std::lock_guard lock(map_key2XPC->mutex);
  return map_key2XPC->byKey.count(key) > 0;
}

std::shared_ptr<HelperConnection> Utils::getXPCConnectionByKey(const std::string& key) const {
  std::lock_guard lock(map_key2XPC->mutex);
  auto it = map_key2XPC->byKey.find(key);
  return it == map_key2XPC->byKey.end() ? nullptr : it->second;
}

std::shared_ptr<HelperConnection> Utils::getDefaultXPCConnection() const {
  return getXPCConnectionByKey(getDefaultXPCKey());
}

std::vector<std::string> Utils::getAllXPCKeys() const {
  std::lock_guard lock(map_key2XPC->mutex);
  std::vector<std::string> keys;
  for (const auto& [key, connection] : map_key2XPC->byKey) keys.push_back(key);
  return keys;
}

std::vector<std::shared_ptr<HelperConnection>> Utils::getAllXPCConnections() const {
  std::lock_guard lock(map_key2XPC->mutex);
  std::vector<std::shared_ptr<HelperConnection>> all;
  for (const auto& [key, connection] : map_key2XPC->byKey) all.push_back(connection);
  return all;
}

void Utils::sendMessageWithXPCKey(const std::string& key, const nlohmann::json& messageDic,
                                  std::function<void(const nlohmann::json& reply)> reply) {
  sendMessageWithXPCKey(key, messageDic, std::move(reply), nullptr);
}

bool Utils::sendMessageWithXPCKey(const std::string& key, const nlohmann::json& messageDic, XPCReply reply,
                                  std::function<void(const std::string& error)> failure,
                                  std::chrono::milliseconds limit) {
  auto connection = getXPCConnectionByKey(key);
  if (!connection) return false;
  nlohmann::json message = messageDic.is_object() ? messageDic : nlohmann::json::object();
  message["con_id"] = key;
  connection->send(messageText(message), std::move(reply), std::move(failure), limit);
  return true;
}

void Utils::sendMessageWithXPCConnection(const std::shared_ptr<HelperConnection>& connection,
                                         const nlohmann::json& messageDic, XPCReply reply) {
  sendMessageTextWithXPCConnection(connection, messageText(messageDic), std::move(reply));
}

void Utils::sendMessageTextWithXPCConnection(const std::shared_ptr<HelperConnection>& connection,
                                             const std::string& message, XPCReply reply) {
  if (!connection) return;
  connection->send(message, std::move(reply));
}

void Utils::resumeXPCConnectionWithXPCKey(const std::string& key) {
  if (auto connection = getXPCConnectionByKey(key)) connection->resume();
}

void Utils::suspendXPCConnectionWithXPCKey(const std::string& key) {
  if (auto connection = getXPCConnectionByKey(key)) connection->suspend();
}

void Utils::invalidateXPCConnectionWithXPCKey(const std::string& key) {
  if (auto connection = getXPCConnectionByKey(key)) connection->invalidate();
}

}  // namespace corvane
