#include "bridge/PageConnection.h"

#include "app/ErrorText.h"
#include "app/Log.h"
#include "bridge/BridgeProtocol.h"
#include "bridge/PageConsole.h"
#include "bridge/BridgeSchema.h"
#include "bridge/ServiceObject.h"
#include "bridge/WebViewDelegate.h"

#include <glib-unix.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corvane {

namespace {

// A page loop calls again within microseconds of our reply; serving the next
// call without going back to sleep in the main loop roughly halves the cost
// of a round trip. The burst is bounded so the main loop never starves.
constexpr int kNextCallSpinMicros = 150;
constexpr auto kMaxBurst = std::chrono::milliseconds(8);

const char kHostIntrospection[] =
    "<node><interface name='org.corvane.Bridge.Host'>"
    "<method name='Log'><arg type='s' direction='in'/></method>"
    "<method name='Console'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface></node>";

void onHostMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* params, GDBusMethodInvocation* invocation, gpointer) {
  if (std::strcmp(method, bridge::kLog) == 0) {
    const gchar* text = nullptr;
    g_variant_get(params, "(&s)", &text);
    log().info("{}", text);
  } else if (std::strcmp(method, bridge::kConsole) == 0) {
    const gchar *level = nullptr, *source = nullptr, *url = nullptr, *text = nullptr;
    guint32 line = 0;
    g_variant_get(params, "(&s&s&su&s)", &level, &source, &url, &line, &text);
    reportConsoleLine({level, source, url, line, text});
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kHostVTable = {onHostMethod, nullptr, nullptr, {nullptr}};

// Only our own user may complete the handshake, and only with credentials.
gboolean allowPeer(GDBusAuthObserver*, GIOStream*, GCredentials* credentials, gpointer) {
  if (!credentials) return FALSE;
  GError* error = nullptr;
  uid_t uid = g_credentials_get_unix_user(credentials, &error);
  if (error) {
    g_error_free(error);
    return FALSE;
  }
  return uid == getuid();
}

gboolean allowMechanism(GDBusAuthObserver*, const gchar* mechanism, gpointer) {
  return std::strcmp(mechanism, "EXTERNAL") == 0;
}

}  // namespace

PageConnection::PageConnection(WebViewDelegate& root, int busFd, int syncFd) : root_(root) {
  channel_ = std::make_unique<bridge::FrameChannel>(syncFd);

  GError* error = nullptr;
  GSocket* socket = g_socket_new_from_fd(busFd, &error);
  if (!socket) {
    log().error("bridge connection: {}", error->message);
    g_error_free(error);
    ::close(busFd);
    return;
  }
  GSocketConnection* stream = g_socket_connection_factory_create_connection(socket);
  g_object_unref(socket);
  GDBusAuthObserver* observer = g_dbus_auth_observer_new();
  g_signal_connect(observer, "authorize-authenticated-peer", G_CALLBACK(allowPeer), nullptr);
  g_signal_connect(observer, "allow-mechanism", G_CALLBACK(allowMechanism), nullptr);
  gchar* guid = g_dbus_generate_guid();
  // Our object must be in place before the first message is processed.
  dbus_ = g_dbus_connection_new_sync(
      G_IO_STREAM(stream), guid,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_SERVER |
                                        G_DBUS_CONNECTION_FLAGS_DELAY_MESSAGE_PROCESSING),
      observer, nullptr, &error);
  g_free(guid);
  g_object_unref(observer);
  g_object_unref(stream);
  if (!dbus_) {
    log().error("bridge connection: {}", error->message);
    g_error_free(error);
    return;
  }
  g_dbus_connection_set_exit_on_close(dbus_, FALSE);
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kHostIntrospection, nullptr);
  hostRegistration_ = g_dbus_connection_register_object(dbus_, bridge::kHostObjectPath,
                                                        info->interfaces[0], &kHostVTable, this,
                                                        nullptr, nullptr);
  g_dbus_node_info_unref(info);
  g_dbus_connection_start_message_processing(dbus_);

  source_ = g_unix_fd_source_new(channel_->fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_set_callback(source_, G_SOURCE_FUNC(&PageConnection::onReadable), this, nullptr);
  g_source_attach(source_, nullptr);
}

PageConnection::~PageConnection() {
  if (source_) {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  if (dbus_) {
    if (hostRegistration_) g_dbus_connection_unregister_object(dbus_, hostRegistration_);
    g_dbus_connection_flush_sync(dbus_, nullptr, nullptr);
    g_dbus_connection_close_sync(dbus_, nullptr, nullptr);
    g_object_unref(dbus_);
  }
}

void PageConnection::flush() {
  if (dbus_) g_dbus_connection_flush_sync(dbus_, nullptr, nullptr);
}

void PageConnection::sendEvaluate(const std::string& script) {
  if (!dbus_ || closed_) return;
  // Bytes, not a D-Bus string: a script may hold U+0000 (a callback name
  // from the page), which a D-Bus string cannot carry.
  GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, script.data(), script.size(), 1);
  g_dbus_connection_call(dbus_, nullptr, bridge::kPageObjectPath, bridge::kPageInterface, bridge::kEvaluate,
                         g_variant_new_tuple(&bytes, 1), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr,
                         nullptr);
}

void PageConnection::sendCallFunction(uint64_t handle, const std::string& argsJson) {
  if (!dbus_ || closed_) return;
  g_dbus_connection_call(dbus_, nullptr, bridge::kPageObjectPath, bridge::kPageInterface,
                         bridge::kCallFunction, g_variant_new("(ts)", handle, argsJson.c_str()), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void PageConnection::sendReleaseFunction(uint64_t handle) {
  if (!dbus_ || closed_) return;
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("at"));
  g_variant_builder_add(&b, "t", handle);
  g_dbus_connection_call(dbus_, nullptr, bridge::kPageObjectPath, bridge::kPageInterface,
                         bridge::kReleaseFunctions, g_variant_new("(at)", &b), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

gboolean PageConnection::onReadable(gint, GIOCondition, gpointer self) {
  auto* c = static_cast<PageConnection*>(self);
  if (!c->serveAvailable()) {
    // The web process went away; the web view reports why and reloads.
    c->closed_ = true;
    c->source_ = nullptr;
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

bool PageConnection::serveAvailable() {
  using Clock = std::chrono::steady_clock;
  const auto burstEnd = Clock::now() + kMaxBurst;
  bridge::Frame& frame = frame_;
  for (;;) {
    auto status = channel_->tryReceive(frame);
    if (status == bridge::FrameChannel::Status::Closed) return false;
    if (status == bridge::FrameChannel::Status::WouldBlock) {
      if (Clock::now() >= burstEnd) return true;
      const auto spinEnd = Clock::now() + std::chrono::microseconds(kNextCallSpinMicros);
      while ((status = channel_->tryReceive(frame)) == bridge::FrameChannel::Status::WouldBlock &&
             Clock::now() < spinEnd) {
        sched_yield();
      }
      if (status == bridge::FrameChannel::Status::Closed) return false;
      if (status == bridge::FrameChannel::Status::WouldBlock) return true;
    }
    serve(frame);
  }
}

void PageConnection::serve(const bridge::Frame& frame) {
  bridge::Reply reply;
  calls_.push_back(&reply);
  try {
    switch (frame.kind) {
      case bridge::kHello:
        reply.hasValue = true;
        reply.valueJson = root_.helloSchema(frame.payload).dump();
        break;
      case bridge::kCall:
        serveCall(frame, reply);
        break;
      case bridge::kGetField:
        serveField(frame, reply);
        break;
      default:
        reply.error = "corvane bridge: unknown request";
    }
  } catch (const ScriptTypeError& e) {
    // The page's own mistake (a wrong receiver or argument): its script
    // gets a TypeError, the application's log stays quiet.
    reply.error = std::string(bridge::kTypeErrorPrefix) + e.what();
  } catch (const std::exception& e) {
    // The log keeps the exception's own text; the page gets it in words.
    log().error("bridge call error = {}", e.what());
    reply.error = pageErrorText(e);
  }
  calls_.pop_back();
  const std::string head = bridge::encodeReplyHead(reply);
  channel_->send(bridge::kReply, head, reply.valueJson);
}

ServiceObject& PageConnection::receiver(uint32_t object, const ServiceClass& cls, const std::string& member) {
  // The web process names the class it took the member from; an object of
  // any other class, or one that is gone, is never handed to that class's code.
  ServiceObject* target = root_.objectById(object);
  if (!target || &target->serviceClass() != &cls) throw ScriptTypeError(bridge::receiverErrorText(cls.name(), member));
  return *target;
}

void PageConnection::serveCall(const bridge::Frame& frame, bridge::Reply& reply) {
  bridge::PayloadReader r(frame.payload);
  uint32_t object, cls, method;
  if (!r.u32(object) || !r.u32(cls) || !r.u32(method)) throw std::runtime_error("corvane bridge: bad call");
  const ServiceClass* c = root_.classAt(cls);
  if (!c || method >= c->scriptMethods().size()) throw std::runtime_error("corvane bridge: no such method");
  const ScriptMethod& m = c->scriptMethods()[method];
  ServiceObject& target = receiver(object, *c, m.scriptName);
  ScriptArgs list;
  if (!bridge::decodeArguments(r.rest(), list)) throw std::runtime_error("corvane bridge: bad call");
  BridgeCall call{root_.page()};
  ScriptResult result = m.invoke(target, call, std::move(list));
  if (result) {
    reply.hasValue = true;
    // Texts go back as they are, without JSON's escaping.
    reply.valueIsText = result->is_string();
    reply.valueJson = reply.valueIsText ? std::move(result->get_ref<std::string&>())
                                        : result->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

void PageConnection::serveField(const bridge::Frame& frame, bridge::Reply& reply) {
  bridge::PayloadReader r(frame.payload);
  uint32_t object, cls;
  if (!r.u32(object) || !r.u32(cls)) throw std::runtime_error("corvane bridge: bad field request");
  const ServiceClass* c = root_.classAt(cls);
  if (!c) throw std::runtime_error("corvane bridge: no such class");
  // Only the fields the class shows to scripts, whatever the page asks for.
  const std::string name(r.rest());
  const auto& fields = c->scriptFields();
  if (std::find(fields.begin(), fields.end(), name) == fields.end())
    throw std::runtime_error("corvane bridge: no such field");
  ServiceObject& target = receiver(object, *c, name);
  reply.hasValue = true;
  reply.valueJson = target.fieldValue(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvane
