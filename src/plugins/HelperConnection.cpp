#include "plugins/HelperConnection.h"

#include "app/Log.h"
#include "plugins/HelperProtocol.h"

#include <algorithm>
#include <set>
#include <thread>

namespace corvane {
namespace {

// ---- the helper queue ---------------------------------------------------------
// One thread running a main context of its own; every GDBus call, watch and
// export of the helper connections is made from it, so their callbacks run
// there too.
class HelperQueue {
 public:
  static HelperQueue& shared() {
    static HelperQueue* queue = new HelperQueue();  // lives as long as the process
    return *queue;
  }
  void post(std::function<void()> job) {
    auto* heap = new std::function<void()>(std::move(job));
    g_main_context_invoke_full(
        context_, G_PRIORITY_DEFAULT,
        [](void* data) -> gboolean {
          (*static_cast<std::function<void()>*>(data))();
          return G_SOURCE_REMOVE;
        },
        heap, [](void* data) { delete static_cast<std::function<void()>*>(data); });
  }
  bool isCurrent() const { return std::this_thread::get_id() == threadId_; }

 private:
  HelperQueue() : context_(g_main_context_new()) {
    std::thread worker([this] {
      g_main_context_push_thread_default(context_);
      GMainLoop* loop = g_main_loop_new(context_, FALSE);
      g_main_loop_run(loop);
    });
    threadId_ = worker.get_id();
    worker.detach();
  }
  GMainContext* context_;
  std::thread::id threadId_;
};

// ---- the application's own object ---------------------------------------------
// Helpers may call ProcessMessage back on the application. Only a current
// owner of a connected helper's name is heard; the message is logged and
// not answered (the caller gets kHelperNoReplyError at once rather than
// waiting for a reply that never comes).
std::mutex ownersMutex;
std::multiset<std::string> helperOwners;  // unique names of connected helpers

bool isHelperOwner(const std::string& sender) {
  std::lock_guard lock(ownersMutex);
  return helperOwners.count(sender) > 0;
}
void addOwner(const std::string& owner) {
  std::lock_guard lock(ownersMutex);
  helperOwners.insert(owner);
}
void removeOwner(const std::string& owner) {
  std::lock_guard lock(ownersMutex);
  if (auto it = helperOwners.find(owner); it != helperOwners.end()) helperOwners.erase(it);
}

void clientMethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                      GVariant* parameters, GDBusMethodInvocation* invocation, void*) {
  if (!sender || !isHelperOwner(sender)) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.AccessDenied",
                                               "only a connected helper may call the application");
    return;
  }
  if (g_strcmp0(method, kHelperMethod) == 0) {
    const char* message = nullptr;
    g_variant_get(parameters, "(&s)", &message);
    log().info("GetMessage {}", message ? message : "");
  }
  g_dbus_method_invocation_return_dbus_error(invocation, kHelperNoReplyError,
                                             "the application does not answer helper messages");
}

// Once per bus connection (there is one session bus connection).
void exportClientObject(GDBusConnection* bus) {
  static GDBusConnection* exportedOn = nullptr;
  if (exportedOn == bus) return;
  static const GDBusInterfaceVTable vtable = {clientMethodCall, nullptr, nullptr, {nullptr}};
  GError* error = nullptr;
  if (g_dbus_connection_register_object(bus, kClientObjectPath, helperInterfaceInfo(), &vtable, nullptr,
                                        nullptr, &error) == 0) {
    log().info("helper connections: cannot export {}: {}", kClientObjectPath, error->message);
    g_error_free(error);
    return;
  }
  exportedOn = bus;
}

// Errors that mean the bus cannot start or reach the service at all: the
// connection is as good as invalid.
bool unreachable(const GError* error) {
  if (error->domain != G_DBUS_ERROR) return false;
  switch (error->code) {
    case G_DBUS_ERROR_SERVICE_UNKNOWN:
    case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
    case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
    case G_DBUS_ERROR_SPAWN_FORK_FAILED:
    case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
    case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
    case G_DBUS_ERROR_SPAWN_FAILED:
    case G_DBUS_ERROR_SPAWN_SETUP_FAILED:
    case G_DBUS_ERROR_SPAWN_CONFIG_INVALID:
    case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
    case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
    case G_DBUS_ERROR_SPAWN_PERMISSIONS_INVALID:
    case G_DBUS_ERROR_SPAWN_FILE_INVALID:
    case G_DBUS_ERROR_SPAWN_NO_MEMORY: return true;
    default: return false;
  }
}

}  // namespace

struct HelperConnection::CallData {
  std::shared_ptr<HelperConnection> self;
  Reply reply;
  Failure failure;
  std::chrono::milliseconds limit;
};

std::string HelperConnection::timedOutText(std::chrono::milliseconds limit) {
  const auto ms = limit.count();
  return "the helper did not answer within " +
         (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
}

bool HelperConnection::onHelperQueue() { return HelperQueue::shared().isCurrent(); }

std::shared_ptr<HelperConnection> HelperConnection::create(const std::string& serviceName, LossHandler onLoss) {
  if (!isHelperServiceName(serviceName)) return nullptr;
  std::shared_ptr<HelperConnection> c(new HelperConnection(serviceName, std::move(onLoss)));
  HelperQueue::shared().post([c] { c->start(); });
  return c;
}

HelperConnection::HelperConnection(std::string serviceName, LossHandler onLoss)
    : serviceName_(std::move(serviceName)),
      objectPath_(helperObjectPath(serviceName_)),
      onLoss_(std::move(onLoss)) {}

HelperConnection::~HelperConnection() {
  // The bus objects belong to the helper queue: released there, never on a
  // thread that may be tearing the process down (a job not run at exit
  // leaks them, which is harmless then).
  auto release = [watch = watch_, cancel = cancel_, bus = bus_] {
    if (watch) g_bus_unwatch_name(watch);
    if (cancel) g_object_unref(cancel);
    if (bus) g_object_unref(bus);
  };
  if (HelperQueue::shared().isCurrent())
    release();
  else if (watch_ || cancel_ || bus_)
    HelperQueue::shared().post(release);
}

void HelperConnection::start() {
  if (lost_) return;  // invalidated before the queue got here
  GError* error = nullptr;
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus_) {
    const std::string why = error ? error->message : "no session bus";
    if (error) g_error_free(error);
    lose(Loss::Invalidation, why);
    return;
  }
  if (g_dbus_connection_is_closed(bus_)) {
    lose(Loss::Invalidation, "the session bus went away");
    return;
  }
  exportClientObject(bus_);
  cancel_ = g_cancellable_new();
  // The watch's match rule reaches the bus before any message of ours does,
  // so the owner that activation starts is always seen appearing. The watch
  // itself never starts the helper.
  watch_ = g_bus_watch_name_on_connection(
      bus_, serviceName_.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, &HelperConnection::onAppeared,
      &HelperConnection::onVanished, new std::weak_ptr<HelperConnection>(weak_from_this()),
      [](void* data) { delete static_cast<std::weak_ptr<HelperConnection>*>(data); });
}

void HelperConnection::onAppeared(GDBusConnection*, const char*, const char* owner, void* data) {
  auto self = static_cast<std::weak_ptr<HelperConnection>*>(data)->lock();
  if (!self || self->lost_) return;
  if (!self->owner_.empty()) removeOwner(self->owner_);
  self->everOwned_ = true;
  self->owner_ = owner;
  addOwner(self->owner_);
}

void HelperConnection::onVanished(GDBusConnection*, const char*, void* data) {
  auto self = static_cast<std::weak_ptr<HelperConnection>*>(data)->lock();
  if (!self) return;
  // The first answer of a watch on a name nobody owns yet is "vanished":
  // that is a helper not started, not one that went away.
  if (!self->everOwned_) return;
  self->lose(Loss::Interruption, "the helper process went away");
}

void HelperConnection::send(const std::string& message, Reply reply, Failure failure,
                            std::chrono::milliseconds limit) {
  auto self = shared_from_this();
  // A bus message carries UTF-8 text only.
  const bool text = g_utf8_validate(message.data(), static_cast<gssize>(message.size()), nullptr);
  limit = std::clamp<std::chrono::milliseconds>(limit, std::chrono::milliseconds(1), kLongestCallLimit);
  HelperQueue::shared().post(
      [self, text, p = Pending{message, std::move(reply), std::move(failure), limit}]() mutable {
        if (!text) {
          if (p.failure) p.failure("the message is not UTF-8 text");
          return;
        }
        if (self->lost_) {
          if (p.failure) p.failure("the connection is invalid");
          return;
        }
        self->waiting_.push_back(std::move(p));
        self->startWaiting();
      });
}

void HelperConnection::startWaiting() {
  while (!lost_ && suspends_ == 0 && inFlight_ < kMaxInFlight && !waiting_.empty()) {
    Pending next = std::move(waiting_.front());
    waiting_.pop_front();
    call(std::move(next));
  }
}

void HelperConnection::call(Pending p) {
  ++inFlight_;
  auto* data = new CallData{shared_from_this(), std::move(p.reply), std::move(p.failure), p.limit};
  // Auto-start is on: the bus starts the helper by its name when needed.
  g_dbus_connection_call(bus_, serviceName_.c_str(), objectPath_.c_str(), kHelperInterface, kHelperMethod,
                         g_variant_new("(s)", p.message.c_str()), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NONE, static_cast<int>(p.limit.count()), cancel_,
                         &HelperConnection::onCallDone, data);
}

void HelperConnection::onCallDone(GObject* source, GAsyncResult* result, void* raw) {
  std::unique_ptr<CallData> data(static_cast<CallData*>(raw));
  HelperConnection& self = *data->self;
  --self.inFlight_;
  // The next waiting call starts once this one's answer has been handed on.
  struct Next {
    HelperConnection& connection;
    ~Next() { connection.startWaiting(); }
  } next{self};
  GError* error = nullptr;
  GVariant* answer = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (answer) {
    GVariant* inner = nullptr;
    g_variant_get(answer, "(v)", &inner);
    nlohmann::json reply = jsonFromVariant(inner);
    g_variant_unref(inner);
    g_variant_unref(answer);
    if (data->reply) data->reply(reply);
    return;
  }
  std::string why = error->message;
  const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (cancelled) why = "the connection was invalidated";
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) why = timedOutText(data->limit);
  if (!cancelled) log().info("helper {}: message failed: {}", self.serviceName_, why);
  // A service the bus cannot start ends the connection, as an unknown
  // service does on platforms with named helper connections; so does a bus
  // that went away.
  if (unreachable(error))
    self.lose(Loss::Invalidation, why);
  else if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED))
    self.lose(Loss::Invalidation, "the session bus went away");
  g_error_free(error);
  if (data->failure) data->failure(why);
}

void HelperConnection::suspend() {
  auto self = shared_from_this();
  HelperQueue::shared().post([self] { ++self->suspends_; });
}

void HelperConnection::resume() {
  auto self = shared_from_this();
  HelperQueue::shared().post([self] {
    if (self->suspends_ == 0 || --self->suspends_ > 0) return;
    self->startWaiting();
  });
}

void HelperConnection::invalidate() {
  auto self = shared_from_this();
  HelperQueue::shared().post([self] { self->lose(Loss::Invalidation, "invalidated"); });
}

void HelperConnection::failWaiting(const std::string& why) {
  std::deque<Pending> dropped;
  dropped.swap(waiting_);
  for (auto& p : dropped)
    if (p.failure) p.failure(why);
}

void HelperConnection::lose(Loss how, const std::string& why) {
  if (lost_.exchange(true)) return;
  log().info("helper {}: connection {} ({})", serviceName_,
             how == Loss::Interruption ? "interrupted" : "invalidated", why);
  if (watch_) {
    g_bus_unwatch_name(watch_);
    watch_ = 0;
  }
  if (!owner_.empty()) {
    removeOwner(owner_);
    owner_.clear();
  }
  if (cancel_) g_cancellable_cancel(cancel_);
  failWaiting("the connection is invalid");
  if (onLoss_) onLoss_(shared_from_this(), how);
  onLoss_ = nullptr;  // may hold what holds us
}

}  // namespace corvane
