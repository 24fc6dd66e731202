// The bridge as an attacker meets it, in the real shell: foreign receivers,
// hostile documents around the application in file and server mode, a
// foreign main frame, a page reloaded thousands of times, hostile values.
#include "ShellSuite.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::e2e::TinyHttpServer;

namespace {

const std::string kPages = CORVANE_E2E_HOSTILE_PAGES;

// The end of a long shell log, for failure messages.
std::string tail(const std::string& log) { return log.substr(log.size() > 20000 ? log.size() - 20000 : 0); }

// One run of the shell on `page` with `env` added; answers the page's report
// (null after a failure, which it records).
json runPage(const std::string& page, std::map<std::string, std::string> env, int timeoutSeconds) {
  if (!std::getenv("DISPLAY")) ADD_FAILURE() << "no display: run the tests through scripts/with-session.sh";
  ShellHarness shell;
  shell.makeBundle({{"AppExInfo", {{"startPage", "public/" + page}}}}, kPages);
  env.merge(shell.sessionEnv());
  const int status = shell.run(env, timeoutSeconds);
  const json report = shell.report();
  if (status != 0 || !report.is_object()) {
    ADD_FAILURE() << "exit " << status << "\n" << tail(shell.log());
    return nullptr;
  }
  EXPECT_EQ(shell.log().find("reload check failed"), std::string::npos);
  return report;
}

// The probe as a document of its own, for places that cannot load
// probe.js from the application (foreign files, other servers).
std::string inlineProbe() {
  return "<!DOCTYPE html><body><script>" + corvane::test::readFile(kPages + "/probe.js") + "</script></body>";
}

// A foreign main frame that frames the application's page given in ?app=
// and defines the application's callback names and event listener, to
// catch any that reach it. It answers "report?" with what it caught, and
// on request shows the application's back.html in the main frame ("go") or
// goes back ("back").
const char kFramer[] = R"(<!DOCTYPE html><body><script>
var seen = { kind: "framer", bridge: typeof window.corvane, callbacks: 0, onNow: 0, events: 0, data: null };
window.hostileCallback = function () { seen.callbacks++; };
window.onNow = function () { seen.onNow++; };
document.addEventListener("hostileEvent", function (e) { seen.events++; if (e.data) seen.data = e.data; });
var app = decodeURIComponent(/[?&]app=([^&]*)/.exec(location.search)[1]);
window.addEventListener("message", function (e) {
  if (e.data === "report?") e.source.postMessage(seen, "*");
  if (e.data === "go") location.href = new URL("back.html", app).href;
  if (e.data === "back") history.back();
});
var f = document.createElement("iframe");
f.src = app;
document.body.appendChild(f);
</script></body>)";

// A document without the bridge that reaches none: its own is absent, the
// application's windows throw, windows of its own origin have none either,
// and no callback or event of the application reached it.
void expectShutOut(const json& probes, const std::string& name, bool opaque) {
  SCOPED_TRACE(name);
  ASSERT_TRUE(probes.contains(name)) << probes.dump(1);
  const json& p = probes[name];
  EXPECT_EQ(p["own"], "undefined");
  for (const char* way : {"parent", "top", "opener"})
    EXPECT_TRUE(p[way] == "none" || p[way] == "undefined" || p[way] == "threw SecurityError") << way << ": " << p[way];
  EXPECT_TRUE(!opaque || p["origin"] == "null") << p["origin"];
}

// The application's own documents.
bool hasBridge(const json& probe, const char* way) {
  return probe[way].is_string() && probe[way].get<std::string>().rfind("bridge ", 0) == 0;
}

// In both modes: opaque documents and their children are shut out; the
// application's own documents and windows share its bridge, and its
// callbacks and events land in its main frame only.
void expectCommon(const json& report) {
  const json& probes = report["probes"];
  for (const char* name : {"datanest", "data.srcdoc", "data.blob", "data.blank", "sandboxed", "sandboxedSrcdocnest",
                           "sandboxedSrcdoc.srcdoc", "sandboxedSrcdoc.blob"})
    expectShutOut(probes, name, true);
  // A sandbox the author let keep the application's origin is the
  // application's own document; so is a window the page opened on its own
  // file (a bridge of its own). The srcdoc document the application made,
  // and the srcdoc, blob: and about:blank documents that one made in turn,
  // have none of their own but reach the application's.
  EXPECT_TRUE(hasBridge(probes["sandboxedSame"], "own"));
  EXPECT_TRUE(hasBridge(probes["opened"], "own"));
  EXPECT_TRUE(hasBridge(probes["appnest"], "parent"));
  for (const char* name : {"appnest", "app.srcdoc", "app.blob", "app.blank"}) {
    EXPECT_EQ(probes[name]["own"], "undefined") << name;
    EXPECT_TRUE(hasBridge(probes[name], "top")) << name;
  }
  EXPECT_EQ(report["own"], (json{{"callbacks", 3}, {"events", 2}}));
  for (const auto& [name, probe] : probes.items()) {
    EXPECT_EQ(probe["callbacks"], 0) << name;
    EXPECT_EQ(probe["events"], 0) << name;
  }
}

// One shell run per mode on hostile-pages/index.html, shared by the tests
// of that mode.
template <bool kServerMode>
class ModeRun : public corvane::e2e::ShellSuite<ModeRun<kServerMode>> {
  using Suite = corvane::e2e::ShellSuite<ModeRun<kServerMode>>;

 protected:
  static void SetUpTestSuite() {
    auto& shell = Suite::shell;
    shell = std::make_unique<ShellHarness>();
    other = std::make_unique<TinyHttpServer>(
        std::map<std::string, std::string>{{"/probe.html", inlineProbe()}, {"/framer.html", kFramer}});
    json ex = {{"startPage", "public/index.html"}};
    if (kServerMode) ex["enableHttpServer"] = true;
    shell->makeBundle({{"AppExInfo", ex}}, kPages);
    // Inline, so that it also runs where an opaque origin may load no file.
    shell->writeFile(shell->resourcePath() + "/public/probe.html", inlineProbe());
    shell->writeFile(outside() + "/foreign.html", inlineProbe());
    shell->writeFile(outside() + "/framer.html", kFramer);
    auto env = shell->sessionEnv();
    env["CORVANE_E2E_HOSTILE"] = json{{"outside", outside()}, {"otherPort", other->port()}}.dump();
    Suite::runShell(env, 180);
  }
  static void TearDownTestSuite() {
    Suite::TearDownTestSuite();
    other.reset();
  }
  static bool logged(const std::string& line) { return Suite::log->find(line) != std::string::npos; }
  static std::string outside() { return Suite::shell->root() + "/outside"; }
  static inline std::unique_ptr<TinyHttpServer> other;  // another origin on the loopback address
};
using FileMode = ModeRun<false>;
using ServerMode = ModeRun<true>;

TEST_F(FileMode, EveryMethodRefusesEveryForeignReceiverWithATypeError) {
  json rc = r("receivers");
  // App, Path and the test object, each with dozens of methods, and the
  // root's two fields.
  EXPECT_GT(rc["methods"], 100);
  EXPECT_GT(rc["calls"], 1000);
  EXPECT_EQ(rc["typeErrors"], rc["calls"]);
  EXPECT_EQ(rc["samples"]["plainObject"].get<std::string>().rfind("TypeError: ", 0), 0u) << rc["samples"];
  for (const char* counted : {"methods", "calls", "typeErrors"}) rc.erase(counted);
  rc["samples"].erase("plainObject");
  const std::string notApp = "TypeError: Can only call App.getAppName on instances of App";
  EXPECT_EQ(rc, (json{{"ran", json::array()},
                      {"wrong", json::array()},
                      {"ownStillWorks", true},
                      {"samples",
                       {{"pathAsApp", notApp},
                        {"appAsPath", "TypeError: Can only call Path.application on instances of Path"},
                        {"otherWindow", notApp},
                        {"rootField",
                         "TypeError: Can only call WebViewDelegate.mainMenu on instances of WebViewDelegate"}}}}));
}

TEST_F(FileMode, BridgeObjectsSerialiseAsPlainObjectsAndKeepTheirIdentityInCalls) {
  json s = r("serialisation");
  // The root shows its members, each an empty object.
  ASSERT_TRUE(s["root"].is_object());
  EXPECT_TRUE(s["root"].contains("app") && s["root"].contains("path") && s["root"].contains("test"));
  for (const auto& [member, value] : s["root"].items()) EXPECT_EQ(value, json::object()) << member;
  s.erase("root");
  EXPECT_EQ(s, (json{{"path", "{}"}, {"inArray", "[{}]"}, {"keys", 0}, {"toJSONEnumerable", false},
                     {"identity", true}, {"direct", true}}));
}

TEST_F(FileMode, ForeignLocalFilesNeverLoadInAFrameAWindowOrTheMainFrame) {
  const json& probes = r("probes");
  const std::string foreign = "file://" + outside() + "/foreign.html";
  for (const char* name : {"foreign", "dotdot", "object", "windowForeign"}) {
    EXPECT_FALSE(probes.contains(name)) << name << ": " << probes[name];
    EXPECT_TRUE(logged("navigation refused for " + foreign + "?name=" + name +
                            ": not a file of the application"))
        << name << "\n" << *log;
  }
  // The main frame asked to show a foreign page framing the application:
  // refused, the application's page stayed, and it was never framed.
  EXPECT_TRUE(logged("navigation refused for file://" + outside() + "/framer.html?app="));
  EXPECT_EQ(r("stayed"), "index.html");
  EXPECT_TRUE(hasBridge(probes["afterTop"], "own"));
  EXPECT_FALSE(report->contains("framed"));
}

TEST_F(FileMode, OpaqueDocumentsGetNoBridgeTheApplicationsOwnShareIt) {
  expectCommon(*report);
  EXPECT_TRUE(logged("bridge refused for file://" + shell->resourcePath() +
                     "/public/probe.html?name=sandboxed (opaque origin)"))
      << *log;
  EXPECT_EQ(r("probes")["sandboxedSame"]["origin"], "file://");
  EXPECT_TRUE(hasBridge(r("probes")["opened"], "opener"));
}

TEST_F(ServerMode, OtherOriginsAndTheDocumentsTheyMakeReachNoBridge) {
  const json& probes = r("probes");
  for (const char* name : {"otherPortnest", "otherPort.srcdoc", "otherPort.blob", "otherPort.blank", "windowOther"})
    expectShutOut(probes, name, false);
  EXPECT_TRUE(logged("bridge refused for http://127.0.0.1:" + std::to_string(other->port())));
  // A page from a server cannot load local files at all.
  EXPECT_FALSE(probes.contains("fileFromServer"));
}

TEST_F(ServerMode, OpaqueDocumentsGetNoBridgeTheApplicationsOwnShareIt) { expectCommon(*report); }

TEST_F(ServerMode, UnderAForeignMainFrameCallbacksAndEventsStayInTheApplicationsFrame) {
  // Once when the foreign top frames the application, once when it came
  // back from the page cache after the application's own page had been in
  // the main frame in between.
  for (const char* phase : {"framed", "restored"}) {
    SCOPED_TRACE(phase);
    json f = r(phase);
    ASSERT_TRUE(f.is_object()) << report->dump(1);
    f.erase("phase");
    f.erase("persisted");
    EXPECT_EQ(f, (json{{"bridge", "object"},
                       {"top", "threw SecurityError"},
                       {"callbackBeforeReturn", true},
                       {"dataEventAtOnce", true},
                       {"own", {{"onNow", 1}, {"callbacks", 3}, {"events", 2}, {"kept", 1}}},
                       // The foreign top saw nothing of it.
                       {"framer",
                        {{"kind", "framer"}, {"bridge", "undefined"}, {"callbacks", 0}, {"onNow", 0}, {"events", 0},
                         {"data", nullptr}}}}));
  }
  EXPECT_EQ(r("backMain")["bridge"], "object");
  // Back in the application's own first page, its callbacks run there again.
  EXPECT_EQ(r("home")["ran"], 1);
}

// The page reloads itself `reloads` times; its two frames call the bridge
// all the while (hostile-pages/reload.js). The engine collects garbage far
// more often than usual here, so that a collection lands inside the
// bridge's set-up of a new document in many of the loads, as it does now
// and then on a busy machine.
TEST(Reload, EveryLoadOfABusyPageFindsEveryMethod) {
  const char* wanted = std::getenv("CORVANE_E2E_RELOADS");
  const int reloads = wanted ? std::atoi(wanted) : 2000;
  const json report = runPage("reload.html",
                              {{"CORVANE_E2E_RELOADS", std::to_string(reloads)}, {"JSC_slowPathAllocsBetweenGCs", "100"}},
                              std::max(600, reloads / 5));
  EXPECT_EQ(report["loads"], reloads);
  EXPECT_EQ(report["problems"], json::array());
  // The shape every load was held to is the whole one.
  const std::string app = report["shape"]["app"];
  EXPECT_NE(app.find("getAppName"), std::string::npos) << app;
  EXPECT_NE(app.find("toJSON"), std::string::npos) << app;
  EXPECT_NE(report["shape"]["path"].get<std::string>().find("homeDir"), std::string::npos);
}

// Every method with hostile values (hostile-pages/fuzz.js).
TEST(Fuzz, EveryMethodTakesHostileValuesAndTheBridgeStaysSound) {
  const json report = runPage("fuzz.html", {}, 600);
  EXPECT_GE(report["calls"], 100000);
  EXPECT_GT(report["methods"], 100);
  for (const auto& [method, calls] : report["perMethod"].items()) EXPECT_GE(calls, 500) << method;
  EXPECT_EQ(report["unexpected"], json::array());
  EXPECT_GT(report["returned"], 50000);
  EXPECT_GT(report["fuzzCallbacks"], 0);
  EXPECT_EQ(report["after"],
            (json{{"ext", "gz"}, {"name", "BridgeTest"}, {"echo", {{"k", {1, "v"}}}}, {"identity", true}}));
}

}  // namespace
