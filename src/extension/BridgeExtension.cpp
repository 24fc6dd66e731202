// The web-process half of the bridge. For every page it opens a private
// connection to the UI process (two socket pairs whose far ends travel in a
// user message), and on every window-object clear of an allowed frame it
// builds the bridge objects with the JavaScriptCore GLib API. Method calls
// go synchronously over the framed channel; the UI process answers with the
// value and with the page work the method asked for "at once".
#include "bridge/BridgeProtocol.h"
#include "bridge/BridgeSchema.h"
#include "bridge/FrameChannel.h"
#include "bridge/OptionalSystemBus.h"
#include "bridge/TextEncoding.h"

#include <JavaScriptCore/JavaScript.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <jsc/jsc.h>
#include <webkit2/webkit-web-extension.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

using nlohmann::json;
namespace b = corvane::bridge;

namespace {

// The reply to a call usually arrives within tens of microseconds; spinning
// that long is cheaper than sleeping and being woken by the scheduler.
constexpr int kReplySpinMicros = 200;

const char kPageIntrospection[] =
    "<node><interface name='org.corvane.Bridge.Page'>"
    "<method name='Evaluate'><arg type='ay' direction='in'/></method>"
    "<method name='CallFunction'><arg type='t' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ReleaseFunctions'><arg type='at' direction='in'/></method>"
    "</interface></node>";

class PageBridge;

// What JavaScriptCore hands back to our callbacks. Script objects may
// outlive their page (another window of the same web process can hold
// them), so they name the page by id and find it only while it lives.
// Each is owned by the script engine and freed with the script object.
struct WrapperData {
  uint64_t page;
  uint32_t object;
  uint32_t classIndex;
};

struct MethodData {
  uint64_t page;
  uint32_t classIndex;
  uint32_t method;
};

struct FieldData {
  uint64_t page;
  uint32_t classIndex;
  std::string name;
};

// Object id of the one unexposed instance each class gets in each context.
constexpr uint32_t kAnchorObject = UINT32_MAX;

// The frame's script context through the engine's C interface, which reads
// a string as its UTF-16 code units: the GLib interface converts to UTF-8
// itself, stops at the first unpaired surrogate and takes several times as
// long. The two interfaces share no value type, so a private object that
// both reach carries a value across.
struct ScriptExchange {
  JSGlobalContextRef context = nullptr;
  JSObjectRef slot = nullptr;      // the private object (no prototype)
  JSCValue* slotValue = nullptr;   // the same object on the GLib side

  bool open(WebKitFrame* frame, WebKitScriptWorld* world, JSCContext* glib);
  void close();
  // Appends a string value as UTF-8 (unpaired surrogates as U+FFFD); false
  // when `value` is not a string.
  bool appendString(std::string& out, JSCValue* value);
  // object[key] = value with the whole key (the GLib interface takes keys
  // up to their first U+0000); false when the exchange is not open.
  bool setProperty(JSCValue* object, const std::string& key, JSCValue* value);
};

// Bridge state of one frame's script context. Dropped on the frame's next
// window-object clear, so nothing here keeps a dead document alive.
struct FrameState {
  uint64_t frameId = 0;
  JSCContext* context = nullptr;
  ScriptExchange exchange;
  std::vector<JSCClass*> classes;
  // One instance per class, never shown to scripts. The engine holds a
  // class's prototype (and so its methods) only weakly until an instance
  // exists; without these a collection between registering a class and
  // making its first object leaves that object without methods.
  std::vector<JSCValue*> anchors;
  std::unordered_map<uint32_t, JSCValue*> wrappers;  // object id -> script object
  std::unordered_map<JSCValue*, uint32_t> objectOf;  // script object -> object id
  ~FrameState() {
    for (auto& [id, v] : wrappers) g_object_unref(v);
    for (JSCValue* a : anchors) g_object_unref(a);
    exchange.close();
    if (context) g_object_unref(context);
  }
};

struct StoredFunction {
  uint64_t frameId;
  JSCValue* function;
};

class PageBridge {
 public:
  explicit PageBridge(WebKitWebPage* page);
  ~PageBridge();

  // The live page of that id, or nullptr.
  static PageBridge* byId(uint64_t id);

  void windowObjectCleared(WebKitScriptWorld* world, WebKitFrame* frame);
  void consoleMessage(WebKitConsoleMessage* message);
  JSCValue* callMethod(const MethodData& m, WrapperData* self, GPtrArray* args);
  JSCValue* getField(const FieldData& f, WrapperData* self);
  JSCValue* toJSON(WrapperData* self);
  void log(std::string text);
  // A line of the page's console (or an error the page did not catch) for
  // the UI process: it logs it, and shows it in development mode.
  void console(const char* level, const char* source, const char* url, unsigned line, const std::string& text);
  void sendToHost(const char* method, GVariant* params);

  // D-Bus page interface
  void evaluateOneWay(const std::string& script);
  void callFunction(uint64_t handle, const std::string& argsJson);
  void releaseFunctions(GVariant* handles);

 private:
  bool hello(const std::string& uri);
  FrameState* stateFor(JSCContext* context);
  JSCValue* wrapperFor(FrameState& st, uint32_t object, uint32_t classIndex);
  void appendArgument(b::PayloadWriter& w, FrameState* st, JSCValue* v);
  std::string argumentJson(FrameState* st, JSCValue* v);
  JSCValue* valueFromJson(FrameState* st, JSCContext* ctx, const json& j);
  JSCValue* valueFromJsonText(FrameState* st, JSCContext* ctx, const std::string& text);
  bool roundTrip(uint32_t kind, const std::string& payload, b::Reply& reply);
  void runActions(const std::vector<b::PageAction>& actions, FrameState* caller);
  // Where callbacks by name and events run (see evaluationContext()); a
  // new reference or null.
  JSCContext* evaluationContext(FrameState* caller);
  bool servesNow(WebKitFrame* frame) const;
  void evaluate(JSCContext* ctx, const std::string& script);
  bool wrongReceiver(JSCContext* ctx, const WrapperData* self, uint32_t classIndex, const std::string& member);
  void throwReplyError(JSCContext* ctx, const std::string& error);
  static bool hasOpaqueOrigin(JSCContext* context);
  void installClasses(FrameState& st);
  void dropFrame(uint64_t frameId);
  static void onDBusReady(GObject*, GAsyncResult* res, gpointer self);
  static void onFrameGone(gpointer self, GObject* frame);

  WebKitWebPage* page_;
  uint64_t id_;
  std::unique_ptr<b::FrameChannel> channel_;
  b::Frame replyFrame_;  // kept: its memory serves the next reply
  GDBusConnection* dbus_ = nullptr;
  guint registration_ = 0;
  // Messages for the host before the connection is up, in order (floating
  // references sunk on queueing).
  std::vector<std::pair<const char*, GVariant*>> pendingHost_;
  bool helloDone_ = false;
  bool broken_ = false;
  b::BridgeSchema schema_;
  std::unordered_map<uint64_t, std::unique_ptr<FrameState>> frames_;
  std::unordered_map<JSCContext*, FrameState*> byContext_;
  std::unordered_map<uint64_t, StoredFunction> functions_;
  uint64_t nextHandle_ = 1;
  std::vector<uint64_t>* callHandles_ = nullptr;  // functions made for the call in progress
  // Nesting depth of argument conversion: while above 0 our objects' toJSON
  // gives their wire marker instead of a plain object.
  int converting_ = 0;
  uint64_t lastCaller_ = 0;  // frame of the latest call, for one-way work
  WebKitFrame* mainFrame_ = nullptr;  // weak pointer
  std::unordered_map<uint64_t, WebKitFrame*> watchedFrames_;  // weakly referenced
  struct Pending {
    PageBridge* page;
  }* pending_ = nullptr;  // the D-Bus set-up still running, if any
};

JSCValue* pageGone() {
  JSCContext* ctx = jsc_context_get_current();
  jsc_context_throw(ctx, "corvane bridge: the window of this object has closed");
  return jsc_value_new_undefined(ctx);
}

JSCValue* onMethod(gpointer instance, GPtrArray* args, gpointer data) {
  auto* m = static_cast<MethodData*>(data);
  PageBridge* page = PageBridge::byId(m->page);
  return page ? page->callMethod(*m, static_cast<WrapperData*>(instance), args) : pageGone();
}

JSCValue* onToJSON(gpointer instance, GPtrArray*, gpointer data) {
  PageBridge* page = PageBridge::byId(reinterpret_cast<uintptr_t>(data));
  return page ? page->toJSON(static_cast<WrapperData*>(instance)) : pageGone();
}

// A script string of a native text, whole (U+0000 included). Texts from the
// UI process are well-formed UTF-8 already.
JSCValue* stringValue(JSCContext* ctx, const std::string& text) {
  GBytes* bytes = g_bytes_new_static(text.data(), text.size());
  JSCValue* v = jsc_value_new_string_from_bytes(ctx, bytes);
  g_bytes_unref(bytes);
  return v;
}

bool ScriptExchange::open(WebKitFrame* frame, WebKitScriptWorld* world, JSCContext* glib) {
  // The C interface's handle of this frame's context; the GLib interface
  // took its place, but it is still the only way to it.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  JSGlobalContextRef c = webkit_frame_get_javascript_context_for_script_world(frame, world);
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!c) return false;
  context = JSGlobalContextRetain(c);
  slot = JSObjectMake(context, nullptr, nullptr);
  JSObjectSetPrototype(context, slot, JSValueMakeNull(context));  // no setters of the page's
  JSValueProtect(context, slot);
  // The object crosses once, through the global object under a name of our
  // own that is taken away at once. This runs at the window-object clear,
  // before any script of the new document exists.
  JSObjectRef global = JSContextGetGlobalObject(context);
  JSStringRef name = JSStringCreateWithUTF8CString("__corvaneExchange");
  JSObjectSetProperty(context, global, name, slot, kJSPropertyAttributeDontEnum, nullptr);
  JSCValue* glibGlobal = jsc_context_get_global_object(glib);
  slotValue = jsc_value_object_get_property(glibGlobal, "__corvaneExchange");
  g_object_unref(glibGlobal);
  JSObjectDeleteProperty(context, global, name, nullptr);
  JSStringRelease(name);
  jsc_context_clear_exception(glib);
  // Both sides must see one object, or strings take the JSON way.
  bool same = false;
  if (slotValue && jsc_value_is_object(slotValue)) {
    JSCValue* probe = jsc_value_new_number(glib, 7);
    jsc_value_object_set_property_at_index(slotValue, 0, probe);
    g_object_unref(probe);
    JSValueRef seen = JSObjectGetPropertyAtIndex(context, slot, 0, nullptr);
    same = seen && JSValueIsNumber(context, seen) && JSValueToNumber(context, seen, nullptr) == 7;
    JSObjectSetPropertyAtIndex(context, slot, 0, JSValueMakeUndefined(context), nullptr);
  }
  if (!same) close();
  return same;
}

void ScriptExchange::close() {
  if (slotValue) g_object_unref(slotValue);
  if (slot) JSValueUnprotect(context, slot);
  if (context) JSGlobalContextRelease(context);
  *this = ScriptExchange{};
}

bool ScriptExchange::appendString(std::string& out, JSCValue* value) {
  if (!slotValue) return false;
  jsc_value_object_set_property_at_index(slotValue, 0, value);
  JSValueRef raw = JSObjectGetPropertyAtIndex(context, slot, 0, nullptr);
  JSStringRef text = raw && JSValueIsString(context, raw) ? JSValueToStringCopy(context, raw, nullptr) : nullptr;
  // The slot must not keep the page's string alive.
  JSObjectSetPropertyAtIndex(context, slot, 0, JSValueMakeUndefined(context), nullptr);
  if (!text) return false;
  if (const size_t n = JSStringGetLength(text))
    b::appendUtf16AsUtf8(out, reinterpret_cast<const char16_t*>(JSStringGetCharactersPtr(text)), n);
  JSStringRelease(text);
  return true;
}

bool ScriptExchange::setProperty(JSCValue* object, const std::string& key, JSCValue* value) {
  if (!slotValue) return false;
  jsc_value_object_set_property_at_index(slotValue, 0, object);
  jsc_value_object_set_property_at_index(slotValue, 1, value);
  JSValueRef target = JSObjectGetPropertyAtIndex(context, slot, 0, nullptr);
  JSValueRef item = JSObjectGetPropertyAtIndex(context, slot, 1, nullptr);
  const std::u16string units = b::utf16FromUtf8(key);
  JSStringRef name = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
  if (JSObjectRef o = target ? JSValueToObject(context, target, nullptr) : nullptr)
    JSObjectSetProperty(context, o, name, item, kJSPropertyAttributeNone, nullptr);
  JSStringRelease(name);
  JSObjectSetPropertyAtIndex(context, slot, 0, JSValueMakeUndefined(context), nullptr);
  JSObjectSetPropertyAtIndex(context, slot, 1, JSValueMakeUndefined(context), nullptr);
  return true;
}

JSCValue* onField(gpointer instance, gpointer data) {
  auto* f = static_cast<FieldData*>(data);
  PageBridge* page = PageBridge::byId(f->page);
  return page ? page->getField(*f, static_cast<WrapperData*>(instance)) : pageGone();
}

std::unordered_map<uint64_t, PageBridge*>& pagesById() {
  static std::unordered_map<uint64_t, PageBridge*> map;
  return map;
}

void onPageMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                      GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
  auto* page = static_cast<PageBridge*>(self);
  if (std::strcmp(method, b::kEvaluate) == 0) {
    GVariant* bytes = g_variant_get_child_value(params, 0);
    gsize size = 0;
    const auto* script = static_cast<const char*>(g_variant_get_fixed_array(bytes, &size, 1));
    page->evaluateOneWay(std::string(script ? script : "", size));
    g_variant_unref(bytes);
  } else if (std::strcmp(method, b::kCallFunction) == 0) {
    guint64 handle = 0;
    const gchar* args = nullptr;
    g_variant_get(params, "(t&s)", &handle, &args);
    page->callFunction(handle, args);
  } else if (std::strcmp(method, b::kReleaseFunctions) == 0) {
    GVariant* handles = g_variant_get_child_value(params, 0);
    page->releaseFunctions(handles);
    g_variant_unref(handles);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kPageVTable = {onPageMethodCall, nullptr, nullptr, {nullptr}};

PageBridge* PageBridge::byId(uint64_t id) {
  auto it = pagesById().find(id);
  return it == pagesById().end() ? nullptr : it->second;
}

PageBridge::PageBridge(WebKitWebPage* page) : page_(page), id_(webkit_web_page_get_id(page)) {
  pagesById()[id_] = this;
  auto [busOurs, busTheirs] = b::FrameChannel::socketPair();
  auto [syncOurs, syncTheirs] = b::FrameChannel::socketPair();
  if (busOurs < 0 || syncOurs < 0) {
    broken_ = true;
    return;
  }
  channel_ = std::make_unique<b::FrameChannel>(syncOurs);

  GUnixFDList* fds = g_unix_fd_list_new();
  g_unix_fd_list_append(fds, busTheirs, nullptr);
  g_unix_fd_list_append(fds, syncTheirs, nullptr);
  close(busTheirs);
  close(syncTheirs);
  WebKitUserMessage* msg =
      webkit_user_message_new_with_fd_list(b::kConnectMessage, nullptr, fds);
  g_object_unref(fds);
  webkit_web_page_send_message_to_view(page_, msg, nullptr, nullptr, nullptr);

  GSocket* socket = g_socket_new_from_fd(busOurs, nullptr);
  if (!socket) {
    close(busOurs);
    return;
  }
  GSocketConnection* stream = g_socket_connection_factory_create_connection(socket);
  g_object_unref(socket);
  g_dbus_connection_new(G_IO_STREAM(stream), nullptr,
                        static_cast<GDBusConnectionFlags>(
                            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                            G_DBUS_CONNECTION_FLAGS_DELAY_MESSAGE_PROCESSING),
                        nullptr, nullptr, &PageBridge::onDBusReady, pending_ = new Pending{this});
  g_object_unref(stream);
}

PageBridge::~PageBridge() {
  pagesById().erase(id_);
  for (auto& pending : pendingHost_) g_variant_unref(pending.second);
  if (pending_) pending_->page = nullptr;
  // Frames may outlive the page object: they must not call back into us.
  if (mainFrame_) g_object_remove_weak_pointer(G_OBJECT(mainFrame_), reinterpret_cast<gpointer*>(&mainFrame_));
  for (auto& [id, frame] : watchedFrames_) g_object_weak_unref(G_OBJECT(frame), &PageBridge::onFrameGone, this);
  frames_.clear();
  for (auto& [h, f] : functions_) g_object_unref(f.function);
  if (dbus_) {
    if (registration_) g_dbus_connection_unregister_object(dbus_, registration_);
    g_dbus_connection_flush_sync(dbus_, nullptr, nullptr);
    g_object_unref(dbus_);
  }
}

void PageBridge::onDBusReady(GObject*, GAsyncResult* res, gpointer data) {
  // The page may be gone by now; its destructor cleared the pointer then.
  auto* pending = static_cast<Pending*>(data);
  PageBridge* page = pending->page;
  delete pending;
  GError* error = nullptr;
  GDBusConnection* conn = g_dbus_connection_new_finish(res, &error);
  if (!conn) {
    g_warning("corvane bridge: private connection failed: %s", error->message);
    g_error_free(error);
    return;
  }
  if (!page) {
    g_object_unref(conn);
    return;
  }
  page->pending_ = nullptr;
  page->dbus_ = conn;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kPageIntrospection, nullptr);
  page->registration_ = g_dbus_connection_register_object(
      conn, b::kPageObjectPath, info->interfaces[0], &kPageVTable, page, nullptr, nullptr);
  g_dbus_node_info_unref(info);
  g_dbus_connection_start_message_processing(conn);
  auto queued = std::move(page->pendingHost_);
  page->pendingHost_.clear();
  for (auto& [method, params] : queued) {
    page->sendToHost(method, params);
    g_variant_unref(params);
  }
}

void PageBridge::sendToHost(const char* method, GVariant* params) {
  if (!dbus_) {
    pendingHost_.emplace_back(method, g_variant_ref_sink(params));
    return;
  }
  g_dbus_connection_call(dbus_, nullptr, b::kHostObjectPath, b::kHostInterface, method, params, nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

void PageBridge::log(std::string text) { sendToHost(b::kLog, g_variant_new("(s)", text.c_str())); }

void PageBridge::console(const char* level, const char* source, const char* url, unsigned line,
                         const std::string& text) {
  sendToHost(b::kConsole, g_variant_new("(sssus)", level, source, url ? url : "", line, text.c_str()));
}

bool PageBridge::roundTrip(uint32_t kind, const std::string& payload, b::Reply& reply) {
  if (broken_ || !channel_) return false;
  b::Frame& frame = replyFrame_;
  if (!channel_->send(kind, payload) ||
      channel_->receive(frame, kReplySpinMicros) != b::FrameChannel::Status::Ok ||
      frame.kind != b::kReply || !b::decodeReply(frame.payload, reply)) {
    broken_ = true;
    return false;
  }
  return true;
}

bool PageBridge::hello(const std::string& uri) {
  if (helloDone_) return true;
  b::Reply reply;
  if (!roundTrip(b::kHello, uri, reply) || !reply.hasValue) return false;
  json j = json::parse(reply.valueJson, nullptr, false);
  if (j.is_discarded()) return false;
  schema_ = b::BridgeSchema::fromJson(j);
  helloDone_ = true;
  return true;
}

void PageBridge::dropFrame(uint64_t frameId) {
  auto it = frames_.find(frameId);
  if (it == frames_.end()) return;
  byContext_.erase(it->second->context);
  frames_.erase(it);
  for (auto f = functions_.begin(); f != functions_.end();) {
    if (f->second.frameId == frameId) {
      g_object_unref(f->second.function);
      f = functions_.erase(f);
    } else {
      ++f;
    }
  }
}

void PageBridge::onFrameGone(gpointer self, GObject* frame) {
  // The frame object is finalising: only its address is usable, so look it
  // up by the id we stored beside the weak reference.
  auto* page = static_cast<PageBridge*>(self);
  auto id = reinterpret_cast<uintptr_t>(g_object_get_data(frame, "corvane-frame-id"));
  page->watchedFrames_.erase(id);
  page->dropFrame(id);
}

G_GNUC_BEGIN_IGNORE_DEPRECATIONS
bool PageBridge::hasOpaqueOrigin(JSCContext* context) {
  // A sandboxed frame, a data: document and the like: the page's author
  // cut it off from every origin, so it gets no bridge either. The origin
  // comes from the document itself (`document` cannot be redefined by the
  // page, `window.origin` can), so page script cannot disguise it.
  JSCValue* global = jsc_context_get_global_object(context);
  JSCValue* document = jsc_value_object_get_property(global, "document");
  WebKitDOMNode* node = document ? webkit_dom_node_for_js_value(document) : nullptr;
  gchar* origin = node && WEBKIT_DOM_IS_DOCUMENT(node) ? webkit_dom_document_get_origin(WEBKIT_DOM_DOCUMENT(node)) : nullptr;
  const bool opaque = !origin || std::strcmp(origin, "null") == 0;
  g_free(origin);
  if (document) g_object_unref(document);
  g_object_unref(global);
  jsc_context_clear_exception(context);
  return opaque;
}
G_GNUC_END_IGNORE_DEPRECATIONS

void PageBridge::installClasses(FrameState& st) {
  // Classes belong to one script context: register them again for each
  // new one, with the method table of the UI process's answer.
  auto freeWrapper = [](gpointer p) { delete static_cast<WrapperData*>(p); };
  for (uint32_t ci = 0; ci < schema_.classes.size(); ++ci) {
    const auto& face = schema_.classes[ci];
    std::string cname = "Corvane" + (face.name.empty() ? std::to_string(ci) : face.name);
    JSCClass* cls = jsc_context_register_class(st.context, cname.c_str(), nullptr, nullptr, freeWrapper);
    st.anchors.push_back(jsc_value_new_object(st.context, new WrapperData{id_, kAnchorObject, ci}, cls));
    for (uint32_t mi = 0; mi < face.methods.size(); ++mi) {
      jsc_class_add_method_variadic(cls, face.methods[mi].c_str(), G_CALLBACK(onMethod),
                                    new MethodData{id_, ci, mi},
                                    [](gpointer p) { delete static_cast<MethodData*>(p); }, JSC_TYPE_VALUE);
    }
    jsc_class_add_method_variadic(cls, "toJSON", G_CALLBACK(onToJSON),
                                  reinterpret_cast<gpointer>(static_cast<uintptr_t>(id_)), nullptr,
                                  JSC_TYPE_VALUE);
    for (const auto& field : face.fields) {
      jsc_class_add_property(cls, field.c_str(), JSC_TYPE_VALUE, G_CALLBACK(onField), nullptr,
                             new FieldData{id_, ci, field},
                             [](gpointer p) { delete static_cast<FieldData*>(p); });
    }
    st.classes.push_back(cls);
  }
}

void PageBridge::windowObjectCleared(WebKitScriptWorld* world, WebKitFrame* frame) {
  const char* uriC = webkit_frame_get_uri(frame);
  std::string uri = uriC ? uriC : "";
  const uint64_t frameId = webkit_frame_get_id(frame);
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  if (webkit_frame_is_main_frame(frame) && mainFrame_ != frame) {
    if (mainFrame_) g_object_remove_weak_pointer(G_OBJECT(mainFrame_), reinterpret_cast<gpointer*>(&mainFrame_));
    mainFrame_ = frame;
    g_object_add_weak_pointer(G_OBJECT(mainFrame_), reinterpret_cast<gpointer*>(&mainFrame_));
  }

  auto old = frames_.find(frameId);
  if (old != frames_.end() && old->second->context != context) dropFrame(frameId);

  if (!hello(uri)) {
    g_object_unref(context);
    return;
  }
  std::string refused;
  if (!schema_.policy.allows(uri))
    refused = b::OriginPolicy::describe(uri);
  else if (hasOpaqueOrigin(context))
    refused = b::OriginPolicy::describe(uri) + " (opaque origin)";
  if (!refused.empty()) {
    dropFrame(frameId);
    log("bridge refused for " + refused);
    g_object_unref(context);
    return;
  }

  FrameState* st;
  auto existing = frames_.find(frameId);
  if (existing != frames_.end()) {
    st = existing->second.get();
    g_object_unref(context);
  } else {
    auto fresh = std::make_unique<FrameState>();
    fresh->frameId = frameId;
    fresh->context = context;  // keeps our reference
    fresh->exchange.open(frame, world, context);
    installClasses(*fresh);
    st = fresh.get();
    byContext_[context] = st;
    frames_[frameId] = std::move(fresh);
    if (!watchedFrames_.count(frameId)) {
      g_object_set_data(G_OBJECT(frame), "corvane-frame-id",
                        reinterpret_cast<gpointer>(static_cast<uintptr_t>(frameId)));
      g_object_weak_ref(G_OBJECT(frame), &PageBridge::onFrameGone, this);
      watchedFrames_[frameId] = frame;
    }
  }

  JSCValue* root = wrapperFor(*st, schema_.rootObject, schema_.rootClass);
  for (const auto& m : schema_.members) {
    JSCValue* member = wrapperFor(*st, m.object, m.classIndex);
    jsc_value_object_define_property_data(root, m.name.c_str(), JSC_VALUE_PROPERTY_ENUMERABLE,
                                          member);
  }
  JSCValue* global = jsc_context_get_global_object(st->context);
  for (const auto& name : schema_.globalNames) jsc_value_object_set_property(global, name.c_str(), root);
  g_object_unref(global);
}

JSCValue* PageBridge::wrapperFor(FrameState& st, uint32_t object, uint32_t classIndex) {
  auto it = st.wrappers.find(object);
  if (it != st.wrappers.end()) return it->second;
  if (classIndex >= st.classes.size()) classIndex = schema_.rootClass;
  JSCValue* v = jsc_value_new_object(st.context, new WrapperData{id_, object, classIndex},
                                     st.classes[classIndex]);
  st.wrappers[object] = v;
  st.objectOf[v] = object;
  return v;
}

FrameState* PageBridge::stateFor(JSCContext* context) {
  auto it = byContext_.find(context);
  return it == byContext_.end() ? nullptr : it->second;
}

void PageBridge::appendArgument(b::PayloadWriter& w, FrameState* st, JSCValue* v) {
  if (st && jsc_value_is_string(v)) {
    w.u8(b::kTextArgument);
    const size_t start = w.begin();
    if (st->exchange.appendString(w.data(), v)) {
      w.end(start);
      return;
    }
    w.data().resize(start - sizeof(uint32_t) - 1);  // not written after all
  }
  b::writeArgument(w, b::kJsonArgument, argumentJson(st, v));
}

std::string PageBridge::argumentJson(FrameState* st, JSCValue* v) {
  if (jsc_value_is_undefined(v) || jsc_value_is_null(v)) return "null";
  if (jsc_value_is_function(v)) {
    uint64_t h = nextHandle_++;
    functions_[h] = StoredFunction{st ? st->frameId : 0, JSC_VALUE(g_object_ref(v))};
    if (callHandles_) callHandles_->push_back(h);
    return std::string("{\"") + b::kFunctionMarker + "\":" + std::to_string(h) + "}";
  }
  if (st) {
    auto it = st->objectOf.find(v);
    if (it != st->objectOf.end())
      return std::string("{\"") + b::kObjectMarker + "\":" + std::to_string(it->second) + "}";
  }
  char* text = jsc_value_to_json(v, 0);
  std::string out = text ? text : "null";
  g_free(text);
  JSCContext* ctx = jsc_value_get_context(v);
  jsc_context_clear_exception(ctx);
  b::replaceLoneSurrogateEscapes(out);
  return out;
}

JSCValue* PageBridge::valueFromJson(FrameState* st, JSCContext* ctx, const json& j) {
  if (j.is_object()) {
    if (st && j.contains(b::kObjectMarker)) {
      return JSC_VALUE(g_object_ref(wrapperFor(*st, j[b::kObjectMarker].get<uint32_t>(),
                                               j.value(b::kClassMarker, schema_.rootClass))));
    }
    if (j.contains(b::kUndefinedMarker)) return jsc_value_new_undefined(ctx);
    JSCValue* obj = jsc_value_new_object(ctx, nullptr, nullptr);
    for (auto it = j.begin(); it != j.end(); ++it) {
      JSCValue* v = valueFromJson(st, ctx, it.value());
      if (it.key().find('\0') == std::string::npos || !st || !st->exchange.setProperty(obj, it.key(), v))
        jsc_value_object_set_property(obj, it.key().c_str(), v);
      g_object_unref(v);
    }
    return obj;
  }
  if (j.is_array()) {
    GPtrArray* items = g_ptr_array_new_with_free_func(g_object_unref);
    for (const auto& e : j) g_ptr_array_add(items, valueFromJson(st, ctx, e));
    JSCValue* arr = jsc_value_new_array_from_garray(ctx, items);
    g_ptr_array_unref(items);
    return arr;
  }
  if (j.is_string()) return stringValue(ctx, j.get_ref<const std::string&>());
  if (j.is_boolean()) return jsc_value_new_boolean(ctx, j.get<bool>());
  if (j.is_number()) return jsc_value_new_number(ctx, j.get<double>());
  return jsc_value_new_null(ctx);
}

JSCValue* PageBridge::valueFromJsonText(FrameState* st, JSCContext* ctx, const std::string& text) {
  // Plain data takes the engine's own JSON parser; only answers that carry
  // native objects need the walk.
  if (text.find("\"$corvane") == std::string::npos) {
    JSCValue* v = jsc_value_new_from_json(ctx, text.c_str());
    if (v) return v;
    jsc_context_clear_exception(ctx);
  }
  json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) return jsc_value_new_undefined(ctx);
  return valueFromJson(st, ctx, j);
}

bool PageBridge::servesNow(WebKitFrame* frame) const {
  // Asked when script is about to run there, of the document the frame shows
  // now: a document can come back from the page cache without a new
  // window-object clear, and a frame's script context always runs script
  // in whatever document the frame shows.
  const char* uri = webkit_frame_get_uri(frame);
  if (!uri || !schema_.policy.allows(uri)) return false;
  JSCContext* context = webkit_frame_get_js_context(frame);
  const bool opaque = hasOpaqueOrigin(context);
  g_object_unref(context);
  return !opaque;
}

JSCContext* PageBridge::evaluationContext(FrameState* caller) {
  // Callbacks by name and events run in the main frame, where pages define
  // them, while the main frame shows a document of the application. When it
  // does not (a foreign page framing the application), they run in the
  // frame that called instead: never in a document refused the bridge.
  if (mainFrame_ && servesNow(mainFrame_)) return webkit_frame_get_js_context(mainFrame_);
  if (!caller) return nullptr;
  auto frame = watchedFrames_.find(caller->frameId);
  if (frame == watchedFrames_.end() || !servesNow(frame->second)) return nullptr;
  return JSC_CONTEXT(g_object_ref(caller->context));
}

void PageBridge::runActions(const std::vector<b::PageAction>& actions, FrameState* caller) {
  for (const auto& a : actions) {
    if (a.type == b::PageAction::kEvaluate)
      evaluate(evaluationContext(caller), a.text);
    else
      callFunction(a.handle, a.text);
  }
}

bool PageBridge::wrongReceiver(JSCContext* ctx, const WrapperData* self, uint32_t classIndex,
                               const std::string& member) {
  // The engine only checks that `this` is one of its wrapped objects: it
  // must also be one of this page's objects of the member's own class.
  if (self && self->page == id_ && self->classIndex == classIndex && self->object != kAnchorObject)
    return false;
  const std::string& cls = classIndex < schema_.classes.size() ? schema_.classes[classIndex].name : "";
  jsc_context_throw_with_name(ctx, "TypeError", b::receiverErrorText(cls, member).c_str());
  return true;
}

void PageBridge::throwReplyError(JSCContext* ctx, const std::string& error) {
  const std::string prefix = b::kTypeErrorPrefix;
  if (error.compare(0, prefix.size(), prefix) == 0)
    jsc_context_throw_with_name(ctx, "TypeError", error.c_str() + prefix.size());
  else
    jsc_context_throw(ctx, error.c_str());
}

JSCValue* PageBridge::callMethod(const MethodData& m, WrapperData* self, GPtrArray* args) {
  JSCContext* ctx = jsc_context_get_current();
  const auto& methods = schema_.classes[m.classIndex].methods;
  if (wrongReceiver(ctx, self, m.classIndex, methods[m.method])) return jsc_value_new_undefined(ctx);
  FrameState* st = stateFor(ctx);
  if (st) lastCaller_ = st->frameId;
  b::PayloadWriter w;
  w.u32(self->object);
  w.u32(m.classIndex);
  w.u32(m.method);
  std::vector<uint64_t> made;
  std::vector<uint64_t>* outer = callHandles_;
  callHandles_ = &made;
  ++converting_;  // our objects inside arrays and objects give their marker
  for (guint i = 0; args && i < args->len; ++i)
    appendArgument(w, st, static_cast<JSCValue*>(g_ptr_array_index(args, i)));
  --converting_;
  callHandles_ = outer;
  const bool tooLarge = w.data().size() > b::FrameChannel::kMaxPayload;
  b::Reply reply;
  const bool answered = !tooLarge && roundTrip(b::kCall, w.data(), reply);
  // Functions the native side did not keep are not ours to hold either.
  for (uint64_t h : made) {
    if (std::find(reply.retained.begin(), reply.retained.end(), h) != reply.retained.end()) continue;
    auto it = functions_.find(h);
    if (it == functions_.end()) continue;
    g_object_unref(it->second.function);
    functions_.erase(it);
  }
  if (!answered) {
    jsc_context_throw(ctx, tooLarge ? "corvane bridge: the arguments are too large"
                                    : "corvane bridge: the application is not reachable");
    return jsc_value_new_undefined(ctx);
  }
  runActions(reply.actions, st);
  if (!reply.error.empty()) {
    throwReplyError(ctx, reply.error);
    return jsc_value_new_undefined(ctx);
  }
  if (!reply.hasValue) return jsc_value_new_undefined(ctx);
  if (reply.valueIsText) return stringValue(ctx, reply.valueJson);
  return valueFromJsonText(st, ctx, reply.valueJson);
}

JSCValue* PageBridge::getField(const FieldData& f, WrapperData* self) {
  JSCContext* ctx = jsc_context_get_current();
  if (wrongReceiver(ctx, self, f.classIndex, f.name)) return jsc_value_new_undefined(ctx);
  b::PayloadWriter w;
  w.u32(self->object);
  w.u32(f.classIndex);
  w.rest(f.name);
  b::Reply reply;
  if (!roundTrip(b::kGetField, w.data(), reply)) return jsc_value_new_undefined(ctx);
  FrameState* st = stateFor(ctx);
  runActions(reply.actions, st);
  if (!reply.error.empty()) {
    throwReplyError(ctx, reply.error);
    return jsc_value_new_undefined(ctx);
  }
  if (!reply.hasValue) return jsc_value_new_undefined(ctx);
  return valueFromJsonText(st, ctx, reply.valueJson);
}

JSCValue* PageBridge::toJSON(WrapperData* self) {
  JSCContext* ctx = jsc_context_get_current();
  // While we turn a call's arguments into JSON, our objects inside arrays
  // and plain objects come out as their wire marker, so they keep their
  // identity. Everywhere else they serialise as ordinary objects (their own
  // enumerable members only), so pages never see the marker.
  if (converting_ > 0 && self && self->page == id_ && self->object != kAnchorObject) {
    std::string marker = std::string("{\"") + b::kObjectMarker + "\":" + std::to_string(self->object) + ",\"" +
                         b::kClassMarker + "\":" + std::to_string(self->classIndex) + "}";
    return jsc_value_new_from_json(ctx, marker.c_str());
  }
  FrameState* st = stateFor(ctx);
  if (st && self && self->page == id_) {
    auto it = st->wrappers.find(self->object);
    if (it != st->wrappers.end()) return JSC_VALUE(g_object_ref(it->second));
  }
  return jsc_value_new_object(ctx, nullptr, nullptr);
}

void PageBridge::evaluateOneWay(const std::string& script) {
  // Outside a call the frame that called last stands for the caller.
  auto it = frames_.find(lastCaller_);
  evaluate(evaluationContext(it == frames_.end() ? nullptr : it->second.get()), script);
}

void PageBridge::evaluate(JSCContext* ctx, const std::string& script) {
  // Takes the reference `ctx` comes with.
  if (!ctx) return;
  JSCValue* result = jsc_context_evaluate(ctx, script.data(), static_cast<gssize>(script.size()));
  if (JSCException* e = jsc_context_get_exception(ctx)) {
    // The error stays in the page: report it as the page's own console would.
    char* report = jsc_exception_report(e);
    console("error", "exception", "", 0, report);
    g_free(report);
    jsc_context_clear_exception(ctx);
  }
  if (result) g_object_unref(result);
  g_object_unref(ctx);
}

void PageBridge::callFunction(uint64_t handle, const std::string& argsJson) {
  auto it = functions_.find(handle);
  if (it == functions_.end()) return;
  JSCValue* fn = it->second.function;
  JSCContext* ctx = jsc_value_get_context(fn);
  FrameState* st = stateFor(ctx);
  std::vector<JSCValue*> values;
  JSCValue* list = valueFromJsonText(st, ctx, argsJson);
  if (jsc_value_is_array(list)) {
    JSCValue* length = jsc_value_object_get_property(list, "length");
    const int n = jsc_value_to_int32(length);
    g_object_unref(length);
    for (int i = 0; i < n; ++i) values.push_back(jsc_value_object_get_property_at_index(list, static_cast<guint>(i)));
  }
  g_object_unref(list);
  JSCValue* result = jsc_value_function_callv(fn, values.size(), values.data());
  for (auto* v : values) g_object_unref(v);
  if (result) g_object_unref(result);
  jsc_context_clear_exception(ctx);
}

void PageBridge::releaseFunctions(GVariant* handles) {
  GVariantIter iter;
  guint64 h;
  g_variant_iter_init(&iter, handles);
  while (g_variant_iter_next(&iter, "t", &h)) {
    auto it = functions_.find(h);
    if (it == functions_.end()) continue;
    g_object_unref(it->second.function);
    functions_.erase(it);
  }
}

void PageBridge::consoleMessage(WebKitConsoleMessage* message) {
  const char* level = "log";
  switch (webkit_console_message_get_level(message)) {
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_INFO: level = "info"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_WARNING: level = "warn"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_ERROR: level = "error"; break;
    case WEBKIT_CONSOLE_MESSAGE_LEVEL_DEBUG: level = "debug"; break;
    default: break;
  }
  const char* source = "other";
  switch (webkit_console_message_get_source(message)) {
    case WEBKIT_CONSOLE_MESSAGE_SOURCE_JAVASCRIPT: source = "javascript"; break;
    case WEBKIT_CONSOLE_MESSAGE_SOURCE_NETWORK: source = "network"; break;
    case WEBKIT_CONSOLE_MESSAGE_SOURCE_CONSOLE_API: source = "console"; break;
    case WEBKIT_CONSOLE_MESSAGE_SOURCE_SECURITY: source = "security"; break;
    default: break;
  }
  const char* text = webkit_console_message_get_text(message);
  console(level, source, webkit_console_message_get_source_id(message), webkit_console_message_get_line(message),
          text ? text : "");
}

std::unordered_map<WebKitWebPage*, PageBridge*>& pages() {
  static std::unordered_map<WebKitWebPage*, PageBridge*> map;
  return map;
}

void onPageGone(gpointer, GObject* page) {
  auto it = pages().find(reinterpret_cast<WebKitWebPage*>(page));
  if (it == pages().end()) return;
  delete it->second;
  pages().erase(it);
}

G_GNUC_BEGIN_IGNORE_DEPRECATIONS
void onConsoleMessage(WebKitWebPage* page, WebKitConsoleMessage* message, gpointer) {
  auto it = pages().find(page);
  if (it != pages().end()) it->second->consoleMessage(message);
}
G_GNUC_END_IGNORE_DEPRECATIONS

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  pages()[page] = new PageBridge(page);
  g_object_weak_ref(G_OBJECT(page), onPageGone, nullptr);
  g_signal_connect(page, "console-message-sent", G_CALLBACK(onConsoleMessage), nullptr);
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
  auto it = pages().find(page);
  if (it != pages().end()) it->second->windowObjectCleared(world, frame);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  corvane::keepRunningWhenTheSystemBusGoes();  // a lost system bus must not end the page
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(onWindowObjectCleared), nullptr);
}
