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

using Calls = std::vector<std::pair<std::string, std::string>>;

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
  static std::string callPayload(const Target& t, const json& args) {
    b::PayloadWriter w;
    w.u32(t.object);
    w.u32(t.cls);
    w.u32(t.method);
    for (const auto& a : args) {
      if (a.is_string())
        b::writeArgument(w, b::kTextArgument, a.get_ref<const std::string&>());
      else
        b::writeArgument(w, b::kJsonArgument, a.dump());
    }
    return w.data();
  }
  b::Reply call(const Target& t, const json& args) { return roundTrip(b::kCall, callPayload(t, args)); }
  // Sends a call without waiting for its answer (a page whose process dies
  // while the call waits never reads one).
  bool sendCall(const Target& t, const json& args) { return channel.send(b::kCall, callPayload(t, args)); }
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
        EXPECT_TRUE(channel.send(kind, payload) && channel.receive(f) == b::FrameChannel::Status::Ok &&
                    f.kind == b::kReply && b::decodeReply(f.payload, r));
        replies.push_back(std::move(r));
      }
      return replies;
    });
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
      g_main_context_iteration(nullptr, FALSE);
    return answer.get();
  }

  Calls received() {
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
  Calls calls_;
};

// A reply as one value, to compare whole: what is not there is left out;
// an action is [type, handle, text].
json asJson(const b::Reply& r) {
  json out = json::object();
  if (!r.error.empty()) out["error"] = r.error;
  if (r.hasValue) out[r.valueIsText ? "text" : "json"] = r.valueIsText ? json(r.valueJson) : json::parse(r.valueJson);
  for (const auto& a : r.actions) out["actions"].push_back({a.type, a.handle, a.text});
  if (!r.retained.empty()) out["retained"] = r.retained;
  return out;
}

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
    delegate = std::make_unique<corvane::WebViewDelegate>(nullptr);
    b::Reply hello = connect(ext, connection);
    ASSERT_TRUE(connection->ok() && hello.hasValue);
    schema = b::BridgeSchema::fromJson(json::parse(hello.valueJson));
  }
  // A page's extension connecting to the root, as after each page load.
  b::Reply connect(std::unique_ptr<FakeExtension>& to, std::shared_ptr<corvane::PageConnection>& as) {
    auto [busOurs, busTheirs] = b::FrameChannel::socketPair();
    auto [syncOurs, syncTheirs] = b::FrameChannel::socketPair();
    to = std::make_unique<FakeExtension>(busOurs, syncOurs);
    as = std::make_shared<corvane::PageConnection>(*delegate, busTheirs, syncTheirs);
    as->attachTo(delegate->page());
    while (!to->ready) g_main_context_iteration(nullptr, FALSE);
    return to->roundTrip(b::kHello, "file:///x");
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

  json reply(const std::string& member, const std::string& method, const json& args) {
    return asJson(ext->call(find(member, method), args));
  }

  // Waits (serving the main loop) until the fake extension got `n` D-Bus calls.
  Calls awaitBus(size_t n) {
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
  const auto& rootClass = schema.classes[schema.rootClass];
  EXPECT_EQ(json({schema.globalNames, rootClass.name, rootClass.methods, rootClass.fields}),
            json({{"corvane", "quorlix", "ZVRLabJs"}, "WebViewDelegate", json::array(),
                  {"requestedWindow", "mainMenu"}}));
  // The members themselves: TheTypeDeclarationsMatchTheBridge.
  // A configured web UI folder holds application files too; a missing one is ignored.
  fs::create_directories(*root + "/ExternalUI");
  corvane::WebViewDelegate::addApplicationFolder(*root + "/ExternalUI");
  corvane::WebViewDelegate::addApplicationFolder(*root + "/missing");
  const b::OriginPolicy policy = corvane::WebViewDelegate::applicationPolicy();
  EXPECT_FALSE(schema.policy.allowAll);
  const std::pair<std::string, bool> allowed[] = {
      {"file://" + *root + "/Conn.app/Contents/Resources/public/index.html", true},
      {"https://docs.example/page", true},
      {"https://docs.example.org/page", false},
      {"file://" + *root + "/Other.app/index.html", false},
  };
  for (const auto& [url, yes] : allowed) EXPECT_EQ(schema.policy.allows(url), yes) << url;
  const std::pair<std::string, bool> applicationFiles[] = {
      {"/ExternalUI/pages/index.html", true}, {"/missing/index.html", false}, {"/ExternalUI2/index.html", false}};
  for (const auto& [file, yes] : applicationFiles)
    EXPECT_EQ(policy.isApplicationFile("file://" + *root + file), yes) << file;
}

TEST_F(Connection, CallsAnswerWithTheMethodsValue) {
  const std::string nul("a\0b\"", 4);
  std::string big(3 * 1024 * 1024, 'q');
  big[1234567] = '\0';
  const struct {
    const char *member, *method;
    json args, reply;
  } cases[] = {
      {"path", "getFileExt", {"dir/a.tar.gz"}, {{"text", "gz"}}},  // a text goes back as itself, not as JSON
      {"path", "homeDir", json::array(), {{"text", *root + "/home"}}},
      {"path", "getFileExt", json::array(), {{"text", ""}}},  // a missing argument reads empty
      {"test", "setValue", {1}, json::object()},               // void: undefined in the page
      // Texts cross whole both ways (as texts, not JSON), inside JSON values too, megabytes of them.
      {"test", "echo", {nul}, {{"text", nul}}},
      {"test", "echo", {{{"k" + nul, nul}}}, {{"json", {{"k" + nul, nul}}}}},
      {"test", "echo", {big}, {{"text", big}}},
      // A text that is not UTF-8 (only a broken web process sends one) comes
      // back with U+FFFD in place of each stray piece.
      {"test", "echo", {"ok\xC3(\xFF"}, {{"text", "ok\xEF\xBF\xBD(\xEF\xBF\xBD"}}},
      // A path holding U+0000 names no file, even where its prefix exists.
      {"path", "pathIsExist", {*root}, {{"json", true}}},
      {"path", "pathIsExist", {*root + std::string("\0/nothing", 9)}, {{"json", false}}},
  };
  for (const auto& c : cases) EXPECT_EQ(reply(c.member, c.method, c.args), c.reply) << c.method;
  std::string forged = FakeExtension::callPayload(find("test", "echo"), {"x"});
  forged[12] = '?';  // no such argument kind
  EXPECT_EQ(asJson(ext->roundTrip(b::kCall, forged)), (json{{"error", "corvane bridge: bad call"}}));
}

TEST_F(Connection, ScriptsKeepTheirWholeTextOnBothPaths) {
  // A callback name from the page may hold U+0000; the script built from it
  // reaches the page whole, inside a call and outside one.
  EXPECT_EQ(reply("test", "callNow", {json{{"callback", std::string("f\0g", 3)}, {"value", 1}}.dump()}),
            (json{{"text", R"({"success":true,"value":1})"},
                  {"actions", {{0, 0, std::string("f\0g", 3) + R"(({"success":true,"value":1});)"}}}}));
  reply("test", "callFromThread", {json{{"callback", std::string("q\0x", 3)}, {"count", 1}}.dump()});
  EXPECT_EQ(awaitBus(1), (Calls{{"Evaluate", std::string("q\0x(0);", 7)}}));
}

TEST_F(Connection, AnObjectTheRootRetiredIsGoneForGood) {
  // (Objects of another class than the method's: HostileRequestsOnTheWireNeverReachAWrongMethod.)
  EXPECT_FALSE(reply("test", "callNow", {R"({"callback":"f"})"}).contains("error"));
  delegate->forgetObject(*delegate->objectById(find("test", "callNow").object));
  EXPECT_EQ(reply("test", "callNow", {R"({"callback":"f"})"}),
            (json{{"error", "TypeError: Can only call TestService.callNow on instances of TestService"}}));
}

TEST_F(Connection, FieldsAreReadOnlyWhenTheClassShowsThem) {
  const uint32_t root = schema.rootObject, rootClass = schema.rootClass;
  auto path = find("path", "homeDir");
  EXPECT_EQ(asJson(ext->field(root, rootClass, "mainMenu")), (json{{"json", nullptr}}));
  EXPECT_EQ(asJson(ext->field(path.object, rootClass, "mainMenu")),
            (json{{"error", "TypeError: Can only call WebViewDelegate.mainMenu on instances of WebViewDelegate"}}));
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
  for (size_t i = 0; i < replies.size(); ++i)
    EXPECT_TRUE(!mismatched[i] || (!replies[i].error.empty() && replies[i].actions.empty())) << i;
  EXPECT_GT(std::count(mismatched.begin(), mismatched.end(), false), 0);
  EXPECT_EQ(ext->call(find("path", "getFileExt"), {"b.c"}).valueJson, "c");
}

TEST_F(Connection, WorkAskedForDuringACallRidesItsReplyInOrder) {
  EXPECT_EQ(reply("test", "callNow", {R"({"callback":"app.done","value":3})"}),
            (json{{"text", R"({"success":true,"value":3})"},
                  {"actions", {{b::PageAction::kEvaluate, 0, R"(app.done({"success":true,"value":3});)"}}}}));
  // A page function kept beyond the call, one only passed through, and the kept one called.
  EXPECT_EQ(reply("test", "keepFunction", {{{b::kFunctionMarker, 5}}}), (json{{"json", true}, {"retained", {5}}}));
  EXPECT_FALSE(reply("test", "echo", {{{b::kFunctionMarker, 6}}}).contains("retained"));
  EXPECT_EQ(reply("test", "callKept", {{{"on", true}}}),
            (json{{"actions", {{b::PageAction::kCallFunction, 5, R"([{"on":1}])"}}}}));
  EXPECT_TRUE(awaitBus(0).empty());  // nothing went the one-way path
}

TEST_F(Connection, WorkOutsideACallGoesOneWayInOrder) {
  EXPECT_EQ(reply("test", "callFromThread", {R"({"callback":"q","count":20})"}), json::object());
  Calls expected;
  for (int i = 0; i < 20; ++i) expected.emplace_back("Evaluate", "q(" + std::to_string(i) + ");");
  EXPECT_EQ(awaitBus(20), expected);
  // A held page function released by the native side.
  reply("test", "keepFunction", {{{b::kFunctionMarker, 11}}});
  reply("test", "dropKept", json::array());
  expected.emplace_back("ReleaseFunctions", "([11],)");
  EXPECT_EQ(awaitBus(21), expected);
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
  json during;
  struct Crash {
    std::function<void()> run;
  } crash{[&] {
    connection->close();  // what the root does when the web process dies
    connection.reset();
    connect(fresh, next);
    during = asJson(fresh->call(now, {R"({"callback":"fresh","value":1})"}));
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
  EXPECT_EQ(during["actions"], json({{0, 0, R"(fresh({"success":true,"value":1});)"}}));
  // The old call's answer went nowhere: not to its page, not to the new one.
  b::Frame f;
  EXPECT_EQ(ext->channel.receive(f), b::FrameChannel::Status::Closed);
  EXPECT_TRUE(ext->received().empty());
  for (int i = 0; i < 5000 && fresh->received().size() < 3; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(fresh->received(), (Calls{{"Evaluate", "q(0);"}, {"Evaluate", "q(1);"}, {"Evaluate", "q(2);"}}));
  // And the new page goes on.
  EXPECT_EQ(fresh->call(now, {R"({"value":2})"}).valueJson, R"({"success":true,"value":2})");
  next->close();
}

}  // namespace
