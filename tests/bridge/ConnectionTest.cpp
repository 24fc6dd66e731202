// The UI-process end of a page connection, driven by a stand-in for the
// web-process extension over the same two socket pairs: the schema at
// hello, calls with their values, the work a method asks for "at once"
// riding the reply, and one-way traffic over the private D-Bus connection.
#include "bridge/BridgeProtocol.h"
#include "bridge/BridgeSchema.h"
#include "bridge/FrameChannel.h"
#include "bridge/MainQueue.h"
#include "bridge/PageConnection.h"
#include "bridge/WebViewDelegate.h"
#include "services/Notice.h"
#include "TypeDeclarations.h"
#include "support/TestFiles.h"
#include "TestShell.h"

#include "app/Bundle.h"
#include "app/Utils.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <thread>

using nlohmann::json;
namespace b = corvane::bridge;
namespace fs = std::filesystem;

namespace {

const char kPageXml[] =
    "<node><interface name='org.corvane.Bridge.Page'>"
    "<method name='Evaluate'><arg type='ay' direction='in'/></method>"
    "<method name='CallFunction'><arg type='t' direction='in'/><arg type='s' direction='in'/></method>"
    "<method name='ReleaseFunctions'><arg type='at' direction='in'/></method>"
    "</interface></node>";

// A method as the page names it: its object, class and method ids.
struct Target {
  uint32_t object = 0;
  uint32_t cls = 0;
  uint32_t method = 0;
};

// What the extension would be: a D-Bus client exporting the page object on
// a context of its own thread, and the calling end of the framed channel.
class FakeExtension {
 public:
  explicit FakeExtension(int busFd, int syncFd) : channel(syncFd) {
    thread_ = std::thread([this, busFd] { runBus(busFd); });
  }
  ~FakeExtension() {
    stop_ = true;
    if (context_) g_main_context_wakeup(context_);
    thread_.join();
  }

  // Strings go as texts, everything else as JSON, as the extension sends them.
  static std::string callPayload(uint32_t object, uint32_t cls, uint32_t method, const json& args) {
    b::PayloadWriter w;
    w.u32(object);
    w.u32(cls);
    w.u32(method);
    for (const auto& a : args) {
      if (a.is_string())
        b::writeArgument(w, b::kTextArgument, a.get_ref<const std::string&>());
      else
        b::writeArgument(w, b::kJsonArgument, a.dump());
    }
    return w.data();
  }
  b::Reply call(const Target& t, const json& args) {
    return roundTrip(b::kCall, callPayload(t.object, t.cls, t.method, args));
  }
  // Sends a call without waiting for its answer (a page whose process dies
  // while the call waits never reads one).
  bool sendCall(const Target& t, const json& args) {
    return channel.send(b::kCall, callPayload(t.object, t.cls, t.method, args));
  }
  b::Reply field(uint32_t object, uint32_t cls, const std::string& name) {
    b::PayloadWriter w;
    w.u32(object);
    w.u32(cls);
    w.rest(name);
    return roundTrip(b::kGetField, w.data());
  }
  b::Reply roundTrip(uint32_t kind, const std::string& payload) { return roundTrips({{kind, payload}}).front(); }
  // Requests one after the other, each sent once the previous one is
  // answered, as a page's calls are.
  std::vector<b::Reply> roundTrips(const std::vector<std::pair<uint32_t, std::string>>& requests) {
    // The UI side serves on the main loop of the test's thread.
    auto answer = std::async(std::launch::async, [&] {
      std::vector<b::Reply> replies;
      for (const auto& [kind, payload] : requests) {
        b::Frame f;
        b::Reply r;
        EXPECT_TRUE(channel.send(kind, payload));
        EXPECT_EQ(channel.receive(f), b::FrameChannel::Status::Ok);
        EXPECT_EQ(f.kind, b::kReply);
        EXPECT_TRUE(b::decodeReply(f.payload, r));
        replies.push_back(std::move(r));
      }
      return replies;
    });
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
      g_main_context_iteration(nullptr, FALSE);
    return answer.get();
  }

  std::vector<std::pair<std::string, std::string>> received() {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

  b::FrameChannel channel;
  std::atomic<bool> ready{false};

 private:
  void runBus(int fd) {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    GSocket* socket = g_socket_new_from_fd(fd, nullptr);
    GSocketConnection* stream = g_socket_connection_factory_create_connection(socket);
    g_object_unref(socket);
    GDBusConnection* conn = g_dbus_connection_new_sync(
        G_IO_STREAM(stream), nullptr,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_DELAY_MESSAGE_PROCESSING),
        nullptr, nullptr, nullptr);
    g_object_unref(stream);
    ASSERT_NE(conn, nullptr);
    static const GDBusInterfaceVTable vtable = {
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
            GDBusMethodInvocation* inv, gpointer self) {
          auto* ext = static_cast<FakeExtension*>(self);
          std::string text;
          if (g_variant_is_of_type(params, G_VARIANT_TYPE("(ay)"))) {
            // A script: its bytes as they are.
            GVariant* bytes = g_variant_get_child_value(params, 0);
            gsize n = 0;
            const auto* data = static_cast<const char*>(g_variant_get_fixed_array(bytes, &n, 1));
            text.assign(data ? data : "", n);
            g_variant_unref(bytes);
          } else {
            gchar* printed = g_variant_print(params, FALSE);
            text = printed;
            g_free(printed);
          }
          std::lock_guard<std::mutex> hold(ext->lock_);
          ext->calls_.emplace_back(method, std::move(text));
          g_dbus_method_invocation_return_value(inv, nullptr);
        },
        nullptr, nullptr, {nullptr}};
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kPageXml, nullptr);
    g_dbus_connection_register_object(conn, b::kPageObjectPath, info->interfaces[0], &vtable, this, nullptr,
                                      nullptr);
    g_dbus_node_info_unref(info);
    g_dbus_connection_start_message_processing(conn);
    ready = true;
    while (!stop_) g_main_context_iteration(context_, TRUE);
    g_dbus_connection_close_sync(conn, nullptr, nullptr);
    g_object_unref(conn);
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  GMainContext* context_ = nullptr;
  std::mutex lock_;
  std::vector<std::pair<std::string, std::string>> calls_;
};

class Connection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/corvane-conn-XXXXXX";
    root = new std::string(mkdtemp(tmpl));
    const std::string app = *root + "/Conn.app";
    fs::create_directories(app + "/Contents/Resources/public");
    std::ofstream(app + "/Contents/Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleName</key><string>Conn</string>
<key>CFBundleIdentifier</key><string>app.corvane.conn</string></dict></plist>)";
    std::ofstream(app + "/Contents/Resources/public/project.json")
        << R"({"AppExInfo": {"bridgeAllowedOrigins": ["https://docs.example", 7, "*nope"]}})";
    setenv("HOME", (*root + "/home").c_str(), 1);
    corvane::testshell::install();  // the `test` member, as in the tests' shell
    corvane::Bundle::setMain(*corvane::Bundle::open(app));
    corvane::MainQueue::initOnMainThread();
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(*root, ec);
    delete root;
  }

  void SetUp() override {
    auto [busOurs, busTheirs] = b::FrameChannel::socketPair();
    auto [syncOurs, syncTheirs] = b::FrameChannel::socketPair();
    ext = std::make_unique<FakeExtension>(busOurs, syncOurs);
    delegate = std::make_unique<corvane::WebViewDelegate>(nullptr);
    connection = std::make_shared<corvane::PageConnection>(*delegate, busTheirs, syncTheirs);
    ASSERT_TRUE(connection->ok());
    connection->attachTo(delegate->page());
    while (!ext->ready) g_main_context_iteration(nullptr, FALSE);
    b::Reply hello = ext->roundTrip(b::kHello, "file:///x");
    ASSERT_TRUE(hello.hasValue);
    schema = b::BridgeSchema::fromJson(json::parse(hello.valueJson));
  }
  void TearDown() override {
    if (connection) connection->close();
    connection.reset();
    ext.reset();
    delegate.reset();
  }

  // Object, class and method id of `member.method`.
  Target find(const std::string& member, const std::string& method) {
    for (const auto& m : schema.members) {
      if (m.name != member) continue;
      const auto& methods = schema.classes[m.classIndex].methods;
      for (uint32_t i = 0; i < methods.size(); ++i)
        if (methods[i] == method) return {m.object, m.classIndex, i};
    }
    ADD_FAILURE() << member << "." << method << " not in the schema";
    return {};
  }

  // Waits (serving the main loop) until the fake extension got `n` D-Bus calls.
  std::vector<std::pair<std::string, std::string>> awaitBus(size_t n) {
    for (int i = 0; i < 5000 && ext->received().size() < n; ++i) {
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ext->received();
  }

  static std::string* root;
  std::unique_ptr<FakeExtension> ext;
  std::unique_ptr<corvane::WebViewDelegate> delegate;
  std::shared_ptr<corvane::PageConnection> connection;
  b::BridgeSchema schema;
};

std::string* Connection::root = nullptr;

TEST_F(Connection, HelloDescribesTheRootItsMembersAndTheOriginPolicy) {
  EXPECT_EQ(schema.globalNames, (std::vector<std::string>{"corvane", "quorlix", "ZVRLabJs"}));
  EXPECT_EQ(schema.classes[schema.rootClass].name, "WebViewDelegate");
  EXPECT_TRUE(schema.classes[schema.rootClass].methods.empty());
  EXPECT_EQ(schema.classes[schema.rootClass].fields, (std::vector<std::string>{"requestedWindow", "mainMenu"}));
  // The members themselves: TheTypeDeclarationsMatchTheBridge.
  EXPECT_TRUE(schema.policy.allows("file://" + *root + "/Conn.app/Contents/Resources/public/index.html"));
  EXPECT_TRUE(schema.policy.allows("https://docs.example/page"));
  EXPECT_FALSE(schema.policy.allows("https://docs.example.org/page"));
  EXPECT_FALSE(schema.policy.allows("file://" + *root + "/Other.app/index.html"));
  EXPECT_FALSE(schema.policy.allowAll);
  // A configured web UI folder holds application files too; a missing one is ignored.
  const std::string ui = *root + "/ExternalUI";
  fs::create_directories(ui);
  corvane::WebViewDelegate::addApplicationFolder(ui);
  corvane::WebViewDelegate::addApplicationFolder(*root + "/missing");
  const b::OriginPolicy policy = corvane::WebViewDelegate::applicationPolicy();
  EXPECT_TRUE(policy.isApplicationFile("file://" + ui + "/pages/index.html"));
  EXPECT_FALSE(policy.isApplicationFile("file://" + *root + "/missing/index.html"));
  EXPECT_FALSE(policy.isApplicationFile("file://" + *root + "/ExternalUI2/index.html"));
}

TEST_F(Connection, CallsAnswerWithTheMethodsValue) {
  auto getFileExt = find("path", "getFileExt");
  b::Reply r = ext->call(getFileExt, {"dir/a.tar.gz"});
  EXPECT_TRUE(r.error.empty());
  ASSERT_TRUE(r.hasValue);
  EXPECT_TRUE(r.valueIsText);  // a text goes back as itself, not as JSON
  EXPECT_EQ(r.valueJson, "gz");
  EXPECT_TRUE(r.actions.empty());

  auto home = find("path", "homeDir");
  r = ext->call(home, json::array());
  EXPECT_EQ(r.valueJson, *root + "/home");
  EXPECT_EQ(ext->call(getFileExt, json::array()).valueJson, "") << "a missing argument reads empty";

  auto setValue = find("test", "setValue");
  r = ext->call(setValue, {1});
  EXPECT_FALSE(r.hasValue);  // void: undefined in the page
}

TEST_F(Connection, TextsCrossWholeBothWays) {
  auto echo = find("test", "echo");
  const std::string nul("a\0b", 3);
  b::Reply r = ext->call(echo, {nul});
  ASSERT_TRUE(r.valueIsText);
  EXPECT_EQ(r.valueJson, nul);
  // Inside JSON values too.
  r = ext->call(echo, {{{"k" + nul, nul}}});
  EXPECT_FALSE(r.valueIsText);
  EXPECT_EQ(json::parse(r.valueJson), (json{{"k" + nul, nul}}));
  // Megabytes, both ways.
  std::string big(3 * 1024 * 1024, 'q');
  big[1234567] = '\0';
  r = ext->call(echo, {big});
  EXPECT_EQ(r.valueJson, big);
  // A path holding U+0000 names no file, even where its prefix exists.
  auto exists = find("path", "pathIsExist");
  EXPECT_EQ(ext->call(exists, {*root}).valueJson, "true");
  EXPECT_EQ(ext->call(exists, {*root + std::string("\0/nothing", 9)}).valueJson, "false");
}

TEST_F(Connection, ForgedArgumentsGetAnErrorAndStrayBytesAreReplaced) {
  auto echo = find("test", "echo");
  b::PayloadWriter w;
  w.u32(echo.object);
  w.u32(echo.cls);
  w.u32(echo.method);
  w.u8('?');
  w.text("x");
  EXPECT_EQ(ext->roundTrip(b::kCall, w.data()).error, "corvane bridge: bad call");
  // A text that is not UTF-8 (only a broken web process sends one) comes
  // back with U+FFFD in place of each stray piece.
  b::Reply r = ext->call(echo, {std::string("ok\xC3(\xFF")});
  EXPECT_EQ(r.valueJson, "ok\xEF\xBF\xBD(\xEF\xBF\xBD");
}

TEST_F(Connection, ScriptsKeepTheirWholeTextOnBothPaths) {
  // A callback name from the page may hold U+0000; the script built from it
  // reaches the page whole, inside a call and outside one.
  auto callNow = find("test", "callNow");
  b::Reply r = ext->call(callNow, {json{{"callback", std::string("f\0g", 3)}, {"value", 1}}.dump()});
  ASSERT_EQ(r.actions.size(), 1u);
  EXPECT_EQ(r.actions[0].text, std::string("f\0g", 3) + R"(({"success":true,"value":1});)");
  auto fromThread = find("test", "callFromThread");
  ext->call(fromThread, {json{{"callback", std::string("q\0x", 3)}, {"count", 1}}.dump()});
  auto calls = awaitBus(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].second, std::string("q\0x(0);", 7));
}

TEST_F(Connection, AnObjectTheRootRetiredIsGoneForGood) {
  // (Objects of another class than the method's: HostileRequestsOnTheWireNeverReachAWrongMethod.)
  auto callNow = find("test", "callNow");
  EXPECT_TRUE(ext->call(callNow, {R"({"callback":"f"})"}).error.empty());
  delegate->forgetObject(*delegate->objectById(callNow.object));
  b::Reply r = ext->call(callNow, {R"({"callback":"f"})"});
  EXPECT_EQ(r.error, "TypeError: Can only call TestService.callNow on instances of TestService");
  EXPECT_TRUE(r.actions.empty());
}

TEST_F(Connection, FieldsAreReadOnlyWhenTheClassShowsThem) {
  const uint32_t root = schema.rootObject, rootClass = schema.rootClass;
  b::Reply r = ext->field(root, rootClass, "mainMenu");
  EXPECT_TRUE(r.error.empty());
  EXPECT_EQ(r.valueJson, "null");
  auto path = find("path", "homeDir");
  EXPECT_EQ(ext->field(path.object, rootClass, "mainMenu").error,
            "TypeError: Can only call WebViewDelegate.mainMenu on instances of WebViewDelegate");
  // A name the class does not show, or a class that does not exist.
  EXPECT_FALSE(ext->field(root, rootClass, "app").error.empty());
  EXPECT_FALSE(ext->field(path.object, path.cls, "homeDir").error.empty());
  EXPECT_FALSE(ext->field(root, 999, "mainMenu").error.empty());
}

TEST_F(Connection, HostileRequestsOnTheWireNeverReachAWrongMethod) {
  // Random ids, classes, method numbers and argument texts, as a web
  // process gone bad could send them (after two fixed bad requests). Every request gets one reply, the
  // object methods that end or hand off (terminate, open, ...) are never
  // reached through a mismatched class, and the connection keeps serving.
  std::mt19937 rng(17);
  const char* bodies[] = {"[]", "[null]", "[1e308,-0,\"\"]", "{\"a\":1}", "[[[[[[]]]]]]", "not json", "",
                          "[{\"$corvaneObject\":0,\"$class\":0}]", "[{\"$corvaneFunction\":99}]",
                          "[\"\\u0000\\ud800\"]"};
  const std::set<std::string> handOff = {"terminate", "relaunch", "open", "launch", "openFile", "sendEmail",
                                         "hide", "finish", "closeMainWindow", "resize", "callFromThread"};
  // Calls that do reach a method go to classes that need no display (the
  // window's methods open panels and touch files; its own tests drive them).
  std::set<std::string> reachable = {"WebViewDelegate", "App", "Path", "TestService"};
  std::vector<std::pair<uint32_t, std::string>> requests;
  std::vector<bool> mismatched;
  while (requests.size() < 5000) {
    b::PayloadWriter w;
    const uint32_t object = rng() % (schema.members.size() + 3);
    const uint32_t cls = rng() % (schema.classes.size() + 2);
    const uint32_t method = rng() % 60;
    const bool matches = cls < schema.classes.size() && delegate->objectById(object) &&
                         delegate->classAt(cls) == &delegate->objectById(object)->serviceClass();
    if (matches && (!reachable.count(schema.classes[cls].name) ||
                    (method < schema.classes[cls].methods.size() && handOff.count(schema.classes[cls].methods[method]))))
      continue;
    w.u32(object);
    w.u32(cls);
    w.u32(method);
    // Arguments as texts, as JSON, or bytes that are no argument list.
    for (uint32_t n = rng() % 3; n > 0; --n) {
      const char* body = bodies[rng() % std::size(bodies)];
      switch (rng() % 3) {
        case 0: b::writeArgument(w, b::kTextArgument, body); break;
        case 1: b::writeArgument(w, b::kJsonArgument, body); break;
        default: w.rest(body);
      }
    }
    std::string payload = w.data();
    if (rng() % 8 == 0) payload.resize(rng() % (payload.size() + 1));  // cut short
    requests.emplace_back(b::kCall, payload);
    mismatched.push_back(!matches);
  }
  // A frame kind nobody sends, and a call too short for its ids.
  requests.insert(requests.begin(), {{77, ""}, {b::kCall, "xy"}});
  mismatched.insert(mismatched.begin(), {true, true});
  const auto replies = ext->roundTrips(requests);
  ASSERT_EQ(replies.size(), requests.size());
  size_t served = 0;
  for (size_t i = 0; i < replies.size(); ++i) {
    if (mismatched[i]) {
      EXPECT_FALSE(replies[i].error.empty()) << i;
      EXPECT_TRUE(replies[i].actions.empty()) << i;
    } else {
      ++served;
    }
  }
  EXPECT_GT(served, 0u);
  EXPECT_EQ(ext->call(find("path", "getFileExt"), {"b.c"}).valueJson, "c");
}

TEST_F(Connection, WorkAskedForDuringACallRidesItsReplyInOrder) {
  auto callNow = find("test", "callNow");
  b::Reply r = ext->call(callNow, {R"({"callback":"app.done","value":3})"});
  ASSERT_EQ(r.actions.size(), 1u);
  EXPECT_EQ(r.actions[0].type, b::PageAction::kEvaluate);
  EXPECT_EQ(r.actions[0].text, R"(app.done({"success":true,"value":3});)");
  EXPECT_EQ(r.valueJson, R"({"success":true,"value":3})");

  auto keep = find("test", "keepFunction");
  r = ext->call(keep, {{{b::kFunctionMarker, 5}}});
  EXPECT_EQ(r.valueJson, "true");
  EXPECT_EQ(r.retained, (std::vector<uint64_t>{5}));  // kept beyond the call
  auto echo = find("test", "echo");
  EXPECT_TRUE(ext->call(echo, {{{b::kFunctionMarker, 6}}}).retained.empty());
  auto callKept = find("test", "callKept");
  r = ext->call(callKept, {{{"on", true}}});
  ASSERT_EQ(r.actions.size(), 1u);
  EXPECT_EQ(r.actions[0].type, b::PageAction::kCallFunction);
  EXPECT_EQ(r.actions[0].handle, 5u);
  EXPECT_EQ(json::parse(r.actions[0].text), json::parse(R"([{"on":1}])"));
  EXPECT_TRUE(awaitBus(0).empty());  // nothing went the one-way path
}

TEST_F(Connection, WorkOutsideACallGoesOneWayInOrder) {
  auto fromThread = find("test", "callFromThread");
  b::Reply r = ext->call(fromThread, {R"({"callback":"q","count":20})"});
  EXPECT_TRUE(r.actions.empty());
  auto calls = awaitBus(20);
  ASSERT_EQ(calls.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(calls[i].first, "Evaluate");
    EXPECT_EQ(calls[i].second, "q(" + std::to_string(i) + ");");
  }
  // A held page function released by the native side.
  auto keep = find("test", "keepFunction");
  ext->call(keep, {{{b::kFunctionMarker, 11}}});
  auto drop = find("test", "dropKept");
  ext->call(drop, json::array());
  calls = awaitBus(21);
  ASSERT_EQ(calls.size(), 21u);
  EXPECT_EQ(calls[20].first, "ReleaseFunctions");
  EXPECT_EQ(calls[20].second, "([11],)");
}

TEST_F(Connection, PageFunctionsOfAnEarlierConnectionAreDead) {
  auto keep = find("test", "keepFunction");
  ext->call(keep, {{{b::kFunctionMarker, 3}}});
  const uint64_t before = delegate->page()->generation();
  connection->attachTo(delegate->page());  // as a reconnect after a crash would
  EXPECT_NE(delegate->page()->generation(), before);
  auto later = find("test", "callKeptLater");
  ext->call(later, {1});
  for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_TRUE(ext->received().empty());
}

// The page's TypeScript declarations (data/types/corvane.d.ts) against the
// script faces the bridge really sends: a member or method added to a
// service class, or taken away, fails here until the declarations follow.
TEST_F(Connection, TheTypeDeclarationsMatchTheBridge) {
  const std::string text = corvane::test::readFile(std::string(CORVANE_SOURCE_DIR) + "/data/types/corvane.d.ts");
  ASSERT_FALSE(text.empty()) << "data/types/corvane.d.ts is missing";
  const auto declared = corvane::test::parseDeclarations(text);
  const std::string file = "data/types/corvane.d.ts: ";

  // The classes as scripts see them; the test service exists in test runs only.
  std::map<std::string, b::ClassFace> faces;
  for (const auto& c : schema.classes)
    if (c.name != "TestService") faces[c.name] = c;
  if (!faces.count("Notice")) {
    // This desktop has no notification service; the class is the same.
    corvane::Notice notice;
    b::ClassFace face{"Notice", {}, notice.serviceClass().scriptFields()};
    for (const auto& m : notice.serviceClass().scriptMethods()) face.methods.push_back(m.scriptName);
    faces["Notice"] = face;
  }
  const std::string root = schema.classes[schema.rootClass].name;
  for (const auto& [name, face] : faces) {
    if (name == root) continue;  // below
    auto it = declared.find(name);
    if (it == declared.end()) {
      ADD_FAILURE() << file << "no `interface " << name << "` for the bridge class " << name;
      continue;
    }
    // A visible field reads as a property, not a method.
    const std::set<std::string> fields(face.fields.begin(), face.fields.end());
    std::set<std::string> methods;
    for (const auto& m : face.methods)
      if (!fields.count(m)) methods.insert(m);
    EXPECT_EQ(it->second.methods, methods) << file << "the methods of interface " << name;
    for (const auto& f : fields) EXPECT_TRUE(it->second.properties.count(f)) << file << name << " lacks " << f;
  }

  // The root: one property per member, of the member's class, and the
  // root's own fields; handleDropFiles is the page's to set.
  ASSERT_TRUE(declared.count(root)) << file << "no `interface " << root << "` for the bridge object";
  std::map<std::string, std::string> expected = {{"handleDropFiles", "(paths: string[]) => void"}};
  for (const auto& f : schema.classes[schema.rootClass].fields) expected[f] = "null";
  for (const auto& m : schema.members)
    if (m.name != "test") expected[m.name] = schema.classes[m.classIndex].name;
  expected.emplace("notice", "Notice");
  EXPECT_EQ(declared.at(root).properties, expected) << file << "the members of interface " << root;
  EXPECT_TRUE(declared.at(root).methods.empty()) << file << "the bridge object has no methods";
  // The three global names denote the one bridge object.
  for (const auto& global : schema.globalNames)
    EXPECT_NE(text.find("declare var " + global + ": Corvane.Bridge;"), std::string::npos) << global;
}

TEST_F(Connection, ACallWhosePageDiesWhileItWaitsIsDroppedAndTheNewPageIsServed) {
  // The old page waits in a call; meanwhile its process dies and a new
  // page connects and calls, as after a web-process crash.
  auto wait = find("test", "waitInCall");
  auto now = find("test", "callNow");
  auto fromThread = find("test", "callFromThread");
  ASSERT_TRUE(ext->sendCall(wait, {R"({"callback":"late","ms":800})"}));

  std::unique_ptr<FakeExtension> fresh;
  std::shared_ptr<corvane::PageConnection> next;
  b::Reply during;
  struct Crash {
    std::function<void()> run;
  } crash{[&] {
    connection->close();  // what the root does when the web process dies
    connection.reset();
    auto [busOurs, busTheirs] = b::FrameChannel::socketPair();
    auto [syncOurs, syncTheirs] = b::FrameChannel::socketPair();
    fresh = std::make_unique<FakeExtension>(busOurs, syncOurs);
    next = std::make_shared<corvane::PageConnection>(*delegate, busTheirs, syncTheirs);
    next->attachTo(delegate->page());
    while (!fresh->ready) g_main_context_iteration(nullptr, FALSE);
    fresh->roundTrip(b::kHello, "file:///x");
    during = fresh->call(now, {R"({"callback":"fresh","value":1})"});
    fresh->call(fromThread, {R"({"callback":"q","count":3})"});
  }};
  g_timeout_add(
      150, +[](gpointer c) -> gboolean {
        static_cast<Crash*>(c)->run();
        return G_SOURCE_REMOVE;
      },
      &crash);
  // Serves the old call, whose wait runs the crash and the new page's calls.
  for (int i = 0; i < 200 && !fresh; ++i) g_main_context_iteration(nullptr, TRUE);
  ASSERT_TRUE(fresh);

  // The new page was answered while the old call still waited.
  ASSERT_EQ(during.actions.size(), 1u);
  EXPECT_EQ(during.actions[0].text, R"(fresh({"success":true,"value":1});)");
  // The old call's answer went nowhere: not to its page, not to the new one.
  b::Frame f;
  EXPECT_EQ(ext->channel.receive(f), b::FrameChannel::Status::Closed);
  EXPECT_TRUE(ext->received().empty());
  std::vector<std::string> seen;
  for (int i = 0; i < 5000 && fresh->received().size() < 3; ++i) g_main_context_iteration(nullptr, FALSE);
  for (const auto& c : fresh->received()) seen.push_back(c.second);
  EXPECT_EQ(seen, (std::vector<std::string>{"q(0);", "q(1);", "q(2);"}));
  // And the new page goes on.
  EXPECT_EQ(fresh->call(now, {R"({"value":2})"}).valueJson, R"({"success":true,"value":2})");
  next->close();
}

}  // namespace
