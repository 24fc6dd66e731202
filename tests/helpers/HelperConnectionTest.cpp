// Helper connections against real helpers: a private dbus-daemon whose
// service folder holds the agent helper and the test echo helper (as
// built), activation by name, the registry of `Utils`, the loss notices,
// suspend and resume, and many messages in flight.
#include "../e2e/ShellHarness.h"
#include "app/NotificationCenter.h"
#include "app/Utils.h"
#include "plugins/HelperConnection.h"
#include "plugins/HelperProtocol.h"
#include "support/ListeningSocket.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

using nlohmann::json;
using corvane::HelperConnection;
using corvane::Utils;

namespace {

constexpr const char* kEcho = "org.corvane.test.EchoHelper";
constexpr const char* kEcho2 = "org.corvane.test.EchoHelper2";
constexpr const char* kAgent = "com.zavrelon.app.mac.xpc.AgentHelper";

corvane::test::PrivateBus* bus = nullptr;

class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    bus = new corvane::test::PrivateBus(CORVANE_SERVICE_DIR, {{"CORVANE_AGENT_HTTP_TIMEOUT", "5"},
                                                              {"CORVANE_AGENT_HTTP_MAX_BYTES", "100000"}});
    // Before anything in this process reaches for the session bus.
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->address().c_str(), 1);
  }
  void TearDown() override { delete bus; }
};
const auto* env = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// Everything the helper queue hands back, awaited by condition.
class Inbox {
 public:
  Utils::XPCReply reply(const std::string& tag) {
    return [this, tag](const json& r) { add(tag, {{"reply", r}}); };
  }
  std::function<void(const std::string&)> failure(const std::string& tag) {
    return [this, tag](const std::string& e) { add(tag, {{"error", e}}); };
  }
  void add(const std::string& tag, json value) {
    std::lock_guard lock(mutex_);
    got_[tag].push_back(std::move(value));
    changed_.notify_all();
  }
  // Waits up to a minute for `count` entries under `tag`.
  json wait(const std::string& tag, size_t count = 1) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(60), [&] { return got_[tag].size() >= count; });
    return got_[tag];
  }
  size_t count(const std::string& tag) {
    std::lock_guard lock(mutex_);
    return got_[tag].size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::vector<json>> got_;
};

class Helpers : public ::testing::Test {
 protected:
  // The loss notices of the default centre land in `notices`, tagged by name and key.
  Helpers() : utils(corvane::Bundle("/nonexistent/Helpers.app", json::object())) {
    for (const char* name : {corvane::kNoticeXPCOnInterruption, corvane::kNoticeXPCOnInvalidation})
      tokens.push_back(corvane::NotificationCenter::defaultCenter().addObserver(
          name, [this](const std::string& n, const json& key) { notices.add(n + " " + key.get<std::string>(), key); }));
  }
  ~Helpers() override {
    for (auto t : tokens) corvane::NotificationCenter::defaultCenter().removeObserver(t);
  }
  static std::string interruption(const std::string& key) {
    return std::string(corvane::kNoticeXPCOnInterruption) + " " + key;
  }
  static std::string invalidation(const std::string& key) {
    return std::string(corvane::kNoticeXPCOnInvalidation) + " " + key;
  }
  // Sends and waits for the one answer.
  json roundTrip(const std::string& key, const json& message) {
    const std::string tag = "rt" + std::to_string(++serial);
    EXPECT_TRUE(utils.sendMessageWithXPCKey(key, message, inbox.reply(tag), inbox.failure(tag)));
    json got = inbox.wait(tag);
    return got.empty() ? json() : got[0];
  }
  json agent(const json& message) {
    json answer = roundTrip(utils.getDefaultXPCKey(), message);
    EXPECT_TRUE(answer.contains("reply") && answer["reply"].is_string()) << answer;
    return answer.contains("reply") ? json::parse(answer["reply"].get<std::string>(), nullptr, false) : json();
  }
  Utils utils;
  Inbox inbox, notices;
  std::vector<corvane::NotificationCenter::Token> tokens;
  int serial = 0;
};

TEST_F(Helpers, RegistryKeysNameOneConnectionEach) {
  EXPECT_TRUE(utils.getAllXPCKeys().empty());
  EXPECT_TRUE(utils.registerXPCConnectionWithKey("a", kEcho));
  auto first = utils.getXPCConnectionByKey("a");
  EXPECT_FALSE(utils.registerXPCConnectionWithKey("a", kEcho2));
  EXPECT_TRUE(utils.registerXPCConnectionWithKey("b", kEcho));
  // [a is still the first, its service and path, b is a connection of its own, the keys, the connections]
  EXPECT_EQ(json({utils.getXPCConnectionByKey("a") == first, first->serviceName(), first->objectPath(),
                  utils.getXPCConnectionByKey("b") != first, utils.getAllXPCKeys(),
                  utils.getAllXPCConnections().size()}),
            json({true, kEcho, "/org/corvane/test/EchoHelper", true, {"a", "b"}, 2}));
  EXPECT_EQ(corvane::helperObjectPath("org.my-app.Helper"), "/org/my_app/Helper");  // no dashes in a path
  // Names the bus cannot carry are refused and leave nothing behind.
  for (const char* bad : {"", "no dots", ".leading", "trailing.", ":1.42", "a..b", "has space.x"})
    EXPECT_FALSE(utils.registerXPCConnectionWithKey(std::string("bad") + bad, bad)) << bad;
  EXPECT_FALSE(utils.unRegisterXPCConnectionWithKey("never"));
  EXPECT_TRUE(utils.unRegisterXPCConnectionWithKey("a"));
  EXPECT_EQ(utils.getAllXPCKeys(), (std::vector<std::string>{"b"}));
  EXPECT_EQ(utils.getDefaultXPCConnection(), nullptr);
  EXPECT_TRUE(utils.registerDefaultXPCConnection());
  EXPECT_EQ(utils.getDefaultXPCConnection()->serviceName(), kAgent);
  EXPECT_EQ(Utils::getDefaultXPCKey(), "XPCKEY_ZavrelonLAB_Default");
}

TEST_F(Helpers, FirstMessageStartsTheHelperAndCarriesTheKey) {
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("first", kEcho2));
  // Registering does not start the helper.
  EXPECT_EQ(bus->ownerPid(kEcho2), 0);
  json answer = roundTrip("first", {{"con_id", "forged"}, {"n", 1}, {"text", "Grüße"}});
  EXPECT_EQ(answer["reply"]["echo"], json({{"con_id", "first"}, {"n", 1}, {"text", "Grüße"}})) << answer;
  EXPECT_EQ(answer["reply"]["pid"], bus->ownerPid(kEcho2));
  // Not a dictionary: an empty one with the key.
  EXPECT_EQ(roundTrip("first", json::array({1, 2}))["reply"]["echo"], json({{"con_id", "first"}}));
  EXPECT_EQ(roundTrip("first", {{"ms_type", "NULL"}}), json({{"reply", nullptr}}));
  // An unknown key sends nothing.
  EXPECT_FALSE(utils.sendMessageWithXPCKey("nobody", json::object(), inbox.reply("x"), inbox.failure("x")));
  utils.unRegisterXPCConnectionWithKey("first");
}

TEST_F(Helpers, HelperCallingBackIsLoggedNotAnswered) {
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("cb", kEcho));
  json answer = roundTrip("cb", {{"ms_type", "CALLBACK"}});
  EXPECT_EQ(answer["reply"]["callbackError"], corvane::kHelperNoReplyError) << answer;
  // Anyone else on the bus is turned away.
  GDBusConnection* ours = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(ours, nullptr);
  GDBusConnection* stranger = g_dbus_connection_new_for_address_sync(
      bus->address().c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(stranger, nullptr);
  GError* error = nullptr;
  GVariant* r = g_dbus_connection_call_sync(stranger, g_dbus_connection_get_unique_name(ours),
                                            corvane::kClientObjectPath, corvane::kHelperInterface,
                                            corvane::kHelperMethod, g_variant_new("(s)", "{}"), nullptr,
                                            G_DBUS_CALL_FLAGS_NONE, 20000, nullptr, &error);
  EXPECT_EQ(r, nullptr);
  ASSERT_NE(error, nullptr);
  gchar* remote = g_dbus_error_get_remote_error(error);
  EXPECT_STREQ(remote, "org.freedesktop.DBus.Error.AccessDenied");
  g_free(remote);
  g_error_free(error);
  g_object_unref(stranger);
  g_object_unref(ours);
  utils.unRegisterXPCConnectionWithKey("cb");
}

TEST_F(Helpers, KilledHelperInterruptsEveryKeyOnceAndKeysCanComeBack) {
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("k1", kEcho));
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("k2", kEcho));
  const int pid = roundTrip("k1", json::object())["reply"]["pid"].get<int>();
  EXPECT_EQ(roundTrip("k2", json::object())["reply"]["pid"].get<int>(), pid);
  // A message the helper holds when it dies fails.
  EXPECT_TRUE(utils.sendMessageWithXPCKey("k1", {{"ms_type", "SILENT"}}, inbox.reply("held"), inbox.failure("held")));
  // One connection's messages arrive in order: once this one is answered,
  // the helper holds the silent one.
  ASSERT_TRUE(roundTrip("k1", json::object()).contains("reply"));
  ASSERT_EQ(bus->ownerPid(kEcho), pid);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  notices.wait(interruption("k1"));
  notices.wait(interruption("k2"));
  EXPECT_TRUE(inbox.wait("held")[0].contains("error"));
  EXPECT_TRUE(utils.getAllXPCKeys().empty());
  // Back under the same key: a new helper process.
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("k1", kEcho));
  const int again = roundTrip("k1", json::object())["reply"]["pid"].get<int>();
  EXPECT_NE(again, pid);
  // Once each, and no invalidation for a crash.
  utils.unRegisterXPCConnectionWithKey("k1");
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("marker", kEcho));
  utils.invalidateXPCConnectionWithXPCKey("marker");
  notices.wait(invalidation("marker"));
  EXPECT_EQ(json({notices.count(interruption("k1")), notices.count(interruption("k2")),
                  notices.count(invalidation("k1"))}),
            json({1, 1, 0}));
}

TEST_F(Helpers, ServiceTheBusCannotStartInvalidates) {
  for (const char* name : {"org.corvane.test.NoSuchHelper", "org.corvane.test.BrokenHelper"}) {
    const std::string key = std::string("ghost-") + name;
    ASSERT_TRUE(utils.registerXPCConnectionWithKey(key, name));
    json answer = roundTrip(key, json::object());
    EXPECT_TRUE(answer.contains("error")) << answer;
    notices.wait(invalidation(key));
    EXPECT_FALSE(utils.containsXPCConnection(key));
  }
}

TEST_F(Helpers, SuspendedConnectionHoldsMessagesUntilResumed) {
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("s", kEcho));
  ASSERT_TRUE(utils.registerXPCConnectionWithKey("t", kEcho));
  utils.resumeXPCConnectionWithXPCKey("s");  // unbalanced: ignored
  utils.suspendXPCConnectionWithXPCKey("s");
  utils.suspendXPCConnectionWithXPCKey("s");
  utils.sendMessageWithXPCKey("s", {{"n", 1}}, inbox.reply("held"));
  utils.sendMessageWithXPCKey("s", {{"n", 2}}, inbox.reply("held"));
  ASSERT_TRUE(roundTrip("t", json::object()).contains("reply"));
  utils.resumeXPCConnectionWithXPCKey("s");
  ASSERT_TRUE(roundTrip("t", json::object()).contains("reply"));
  EXPECT_EQ(inbox.count("held"), 0u);
  utils.resumeXPCConnectionWithXPCKey("s");
  json held = inbox.wait("held", 2);
  EXPECT_EQ(json({held.at(0)["reply"]["echo"]["n"], held.at(1)["reply"]["echo"]["n"]}), json({1, 2})) << held;
  // Invalidation fails what waits.
  utils.suspendXPCConnectionWithXPCKey("s");
  utils.sendMessageWithXPCKey("s", json::object(), inbox.reply("dropped"), inbox.failure("dropped"));
  utils.invalidateXPCConnectionWithXPCKey("s");
  EXPECT_TRUE(inbox.wait("dropped")[0].contains("error"));
  utils.unRegisterXPCConnectionWithKey("t");
}

// ---- the agent helper -----------------------------------------------------------

TEST_F(Helpers, AgentFetchesHttpWithinItsLimits) {
  ASSERT_TRUE(utils.registerDefaultXPCConnection());
  corvane::e2e::TinyHttpServer server(std::map<std::string, std::string>{
      {"/rate.json", "{\"rate\":true,\"text\":\"Grüße\"}"}, {"/big", std::string(150000, 'x')},
      {"/fits", std::string(90000, 'y')}});
  corvane::test::ListeningSocket silent;  // never answers
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  // An answer in brief: its success, status, what it got (its length when
  // long) and the start of its error.
  auto quest = [&](const json& message) {
    const json r = agent(message);
    const std::string info = r.value("info", "");
    return json{r.value("success", json()), r.value("status", json()),
                info.size() < 100 ? json(info) : json(info.size()), r.value("error", "").substr(0, 24)};
  };
  const std::string tooLarge = "the answer is larger tha";
  const struct {
    std::string raw;  // a body without a length, read until the connection ends
    json message, answer;
  } cases[] = {
      {"", {{"url", base + "/rate.json?x=1"}}, {true, 200, "{\"rate\":true,\"text\":\"Grüße\"}", ""}},
      {"", {{"url", base + "/fits"}}, {true, 200, 90000, ""}},
      {"", {{"url", base + "/nothing"}}, {false, 404, "not found", "HTTP status 404"}},
      {"", {{"url", base + "/big"}}, {false, 0, "", tooLarge}},
      {std::string(150000, 'z'), {{"url", base + "/"}}, {false, 0, "", tooLarge}},
      {std::string(90000, 'z'), {{"url", base + "/"}}, {true, 200, 90000, ""}},
      {"", {{"url", "http://127.0.0.1:" + std::to_string(silent.port()) + "/"}},
       {false, 0, "", "no answer within 5 s"}},
  };
  for (const auto& c : cases) {
    if (!c.raw.empty()) server.answerRaw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + c.raw);
    EXPECT_EQ(quest({{"ms_type", "HTTP_QUEST"}, {"ms_obj", c.message}}), c.answer) << c.message;
  }
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "data:text/plain,hi", "not a url", "http://",
                          "javascript:alert(1)"})
    EXPECT_EQ(quest({{"ms_type", "HTTP_QUEST"}, {"ms_obj", {{"url", url}}}}).at(0), false) << url;
  for (const json& bad : {json{{"ms_type", "HTTP_QUEST"}, {"ms_obj", json::object()}}, json{{"ms_type", "HTTP_QUEST"}},
                          json{{"ms_type", "WHATEVER"}}})
    EXPECT_EQ(agent(bad)["success"], false) << bad;
  EXPECT_EQ(agent({{"ms_type", "PING"}})["info"], "PONG");
  utils.unRegisterXPCConnectionWithKey(utils.getDefaultXPCKey());
}

}  // namespace
