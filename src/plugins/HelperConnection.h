#pragma once
// One connection to a helper service (see HelperProtocol.h), and the guarded
// key-to-connection map that `Utils` keeps as `map_key2XPC`.
//
// All bus work of every connection runs on one thread of its own, the
// helper queue, with its own GLib main context: replies, failures and the
// loss handler run there, never on the main thread, and registering a
// connection never waits for the bus or for the helper to start.
//
// A connection is lazy: the helper process is started by the bus (D-Bus
// activation) when the first message is sent, not when the connection is
// made. It is lost once, for good, in one of two ways:
//   interruption  the helper had a name owner and that owner went away;
//   invalidation  invalidate() was called, or the bus could not reach the
//                 service at all (no session bus, no such service).
// Either way the loss handler runs once, on the helper queue.
#include <gio/gio.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* kNoticeXPCOnInterruption = "ZVR_NOTICE_XPC_ON_INTERRUPTION";
inline constexpr const char* kNoticeXPCOnInvalidation = "ZVR_NOTICE_XPC_ON_INVALIDATION";

class HelperConnection : public std::enable_shared_from_this<HelperConnection> {
 public:
  enum class Loss { Interruption, Invalidation };
  using Reply = std::function<void(const nlohmann::json& reply)>;
  using Failure = std::function<void(const std::string& error)>;
  using LossHandler = std::function<void(const std::shared_ptr<HelperConnection>&, Loss)>;

  // nullptr when `serviceName` cannot name a service on the bus.
  static std::shared_ptr<HelperConnection> create(const std::string& serviceName, LossHandler onLoss);
  ~HelperConnection();
  HelperConnection(const HelperConnection&) = delete;
  HelperConnection& operator=(const HelperConnection&) = delete;

  const std::string& serviceName() const { return serviceName_; }
  const std::string& objectPath() const { return objectPath_; }
  bool isLost() const { return lost_.load(); }

  // At most this many calls of one connection wait for their answers at a
  // time; further ones wait their turn in order. Per connection, so a helper
  // that does not answer holds up only its own messages.
  static constexpr int kMaxInFlight = 32;
  // How long a call waits for the helper's answer unless the sender says
  // otherwise; then it fails with kTimedOutText.
  static constexpr std::chrono::seconds kDefaultCallLimit{60};
  // The longest time limit a sender may ask for.
  static constexpr std::chrono::hours kLongestCallLimit{24};
  // "the helper did not answer within N s"
  static std::string timedOutText(std::chrono::milliseconds limit);

  // Sends one message text. Exactly one of `reply` and `failure` runs, on
  // the helper queue: `failure` also when the helper has not answered
  // within `limit` of the call going out (clamped to kLongestCallLimit).
  // Messages sent while suspended wait, in order, until the connection is
  // resumed; invalidation fails them.
  void send(const std::string& message, Reply reply, Failure failure = nullptr,
            std::chrono::milliseconds limit = kDefaultCallLimit);
  // Suspends are counted; a resume without a suspend does nothing.
  void suspend();
  void resume();
  // Ends the connection: messages waiting or in flight fail, then the loss
  // handler runs with Invalidation (unless the connection was lost before).
  void invalidate();

  // Whether the calling thread is the helper queue's.
  static bool onHelperQueue();

 private:
  struct Pending {
    std::string message;
    Reply reply;
    Failure failure;
    std::chrono::milliseconds limit;
  };
  struct CallData;

  HelperConnection(std::string serviceName, LossHandler onLoss);
  void start();
  void call(Pending p);
  // Starts what waits, as far as suspends and the limit allow.
  void startWaiting();
  void lose(Loss how, const std::string& why);
  void failWaiting(const std::string& why);
  static void onAppeared(GDBusConnection*, const char* name, const char* owner, void* self);
  static void onVanished(GDBusConnection*, const char* name, void* self);
  static void onCallDone(GObject* source, GAsyncResult* result, void* data);

  const std::string serviceName_;
  const std::string objectPath_;
  LossHandler onLoss_;
  std::atomic<bool> lost_{false};
  // Touched on the helper queue only.
  GDBusConnection* bus_ = nullptr;
  GCancellable* cancel_ = nullptr;  // cancels every call in flight
  unsigned watch_ = 0;
  bool everOwned_ = false;
  std::string owner_;
  int suspends_ = 0;
  int inFlight_ = 0;
  std::deque<Pending> waiting_;  // while suspended or at the limit, in order
};

// `Utils::map_key2XPC`: key -> connection, guarded by its own lock because
// the loss handlers change it from the helper queue while the main thread
// registers and removes keys.
struct HelperMap {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<HelperConnection>> byKey;
};

}  // namespace corvane
