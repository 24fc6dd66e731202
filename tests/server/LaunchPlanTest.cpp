// The server part of the launch step: reading "AppExInfo", the start page
// rules, and every row of the outcome table with the real server.
#include "app/LaunchPlan.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "ServerTestSupport.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <set>

#include <signal.h>
#include <sys/wait.h>

using namespace corvane;
using namespace corvane::test;
using nlohmann::json;

namespace {

// What an answer to GET /index.html at `address` shows: the body, or the
// status when it is not 200 (0: nobody listens).
std::string served(uint16_t port, const char* address = "127.0.0.1") {
  const Reply r = request(port, "GET", "/index.html", {}, address);
  return r.status == 200 ? r.body : "status " + std::to_string(r.status);
}

class LaunchStep : public ::testing::Test {
 protected:
  void SetUp() override {
    publicDir = dir / "Demo.app/Contents/Resources/public";
    writeFile(publicDir + "/index.html", "bundle %%ALPHABET%%");
    writeFile(dir / "user/index.html", "user %%ALPHABET%%");
    writeFile(dir / "user/public/index.html", "user public");
    writeFile(dir / "page.html", "a file");
    utils = std::make_unique<Utils>(Bundle(dir / "Demo.app", json{{"CFBundleName", "Demo"}}));
  }

  LaunchSettings settings(const json& appExInfo) const { return readLaunchSettings(appExInfo, *utils); }
  LaunchServerOutcome run(const json& appExInfo) { return runLaunchServerStep(settings(appExInfo), *utils); }

  // The settings as one value, to be compared whole.
  json view(const LaunchSettings& s) const {
    return {{"has", s.hasAppExInfo},         {"server", s.enableHttpServer},
            {"builtIn", s.onlyBuildInServer}, {"specPublic", s.enableSpecPublic},
            {"user", s.userSpecPublic},       {"start", s.startPage ? json(*s.startPage) : json()},
            {"port", s.port()},               {"everywhere", s.serverListenAllInterfaces},
            {"titleFromPage", s.windowTitleFromPage},
            {"terminate", s.enableShouldTerminateAfterLastWindowClosed
                              ? json(*s.enableShouldTerminateAfterLastWindowClosed) : json()}};
  }
  // The outcome as one value: the test folder written as DIR and the port
  // the system chose as PORT; log lines led by their level's letter.
  json view(const LaunchServerOutcome& o) const {
    auto text = [&](std::string s) {
      for (const auto& [from, to] : {std::pair{dir.path(), std::string("DIR")},
                                     std::pair{o.port ? std::to_string(*o.port) : "", std::string("PORT")}})
        for (size_t at; !from.empty() && (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
      return s;
    };
    json log = json::array();
    for (const auto& l : o.log) log.push_back(spdlog::level::to_short_c_str(l.level) + (" " + text(l.text)));
    return {{"case", static_cast<int>(o.serverCase)},
            {"load", o.load == PageLoad::SpecURL ? "as given" : "resolved"},
            {"page", text(o.page)},
            {"root", o.server ? json(text(o.server->documentRoot())) : json()},
            {"running", o.server && o.server->isRunning()},
            {"portKept", utils->http_server_port == o.port.value_or(0)},
            {"log", log}};
  }

  TempDir dir;
  std::string publicDir;
  std::unique_ptr<Utils> utils;
};

}  // namespace

TEST_F(LaunchStep, ReadsLaunchKeysWithTheirDefaultsAndTextRules) {
  const json defaults = {{"has", false},     {"server", false},       {"builtIn", true},        {"specPublic", false},
                         {"user", ""},       {"start", nullptr},      {"port", 0},              {"everywhere", false},
                         {"terminate", nullptr}, {"titleFromPage", false}};
  EXPECT_EQ(view(readLaunchSettings(std::nullopt, *utils)), defaults);
  // Not an object: behaves as one without keys.
  json odd = defaults;
  odd["has"] = true;
  EXPECT_EQ(view(settings(json::array({1, 2}))), odd);
  EXPECT_EQ(view(settings({{"enableHttpServer", "YES"},
                           {"onlyBuildInServer", "no"},
                           {"enableSpecPublic", 1},
                           {"userSpecPublic", "${BUNDLE}/x"},
                           {"startPage", "${BUNDLE}/p.html"},
                           {"serverPort", 70000},
                           {"serverListenAllInterfaces", "true"},
                           {"enableShouldTerminateAfterLastWindowClosed", false},
                           {"windowTitleFromPage", true}})),
            (json{{"has", true}, {"server", true}, {"builtIn", false}, {"specPublic", true},
                  {"user", dir / "Demo.app/x"}, {"start", dir / "Demo.app/p.html"}, {"port", 4464},
                  {"everywhere", true}, {"terminate", false}, {"titleFromPage", true}}));

  for (const char* text : {"Y", "y", "T", "t", "1", "9x"}) {
    EXPECT_TRUE(settings({{"enableHttpServer", text}}).enableHttpServer) << text;
  }
  for (const char* text : {"", "0", "N", "false", " yes"}) {
    EXPECT_FALSE(settings({{"enableHttpServer", text}}).enableHttpServer) << text;
  }
  EXPECT_EQ(settings({{"serverPort", 65536}}).port(), 0);
  EXPECT_EQ(settings({{"serverPort", 8080.9}}).port(), 8080);
  EXPECT_EQ(settings({{"serverPort", nullptr}}).port(), 0);
  EXPECT_EQ(settings({{"startPage", nullptr}}).startPage, std::nullopt);

  EXPECT_THROW(settings({{"serverPort", "8080"}}), LaunchConfigError);
  EXPECT_THROW(settings({{"startPage", 3}}), LaunchConfigError);
  EXPECT_THROW(settings({{"enableHttpServer", json::array()}}), LaunchConfigError);
}

TEST_F(LaunchStep, StartPageRules) {
  auto page = [&](const json& x, std::optional<uint16_t> port = std::nullopt) {
    return startPageString(settings(x), port);
  };
  EXPECT_EQ(page(json::object()), "public/index.html");
  EXPECT_EQ(page({{"startPage", "web/start.html"}}), "web/start.html");
  EXPECT_EQ(page({{"startPage", "http://localhost:%hu/a.html"}}, 8123),
            "http://localhost:8123/a.html");
  EXPECT_EQ(page(json::object(), 8123), "public/index.html");

  const std::string user = dir / "user";
  EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", user}}),
            user + "/public/index.html");
  EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", user}, {"startPage", "s.html"}}),
            user + "/s.html");
  EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", dir / "page.html"}}),
            dir / "page.html");
  for (const char* url : {"http://example.invalid/", "file:///x/y.html", "https://h/p"}) {
    EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", url}}), url);
  }
  EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", "ftp://nothing"}}),
            "public/index.html");
  EXPECT_EQ(page({{"enableSpecPublic", false}, {"userSpecPublic", user}}), "public/index.html");
  EXPECT_EQ(page({{"enableSpecPublic", true}, {"userSpecPublic", ""}}), "public/index.html");
}

TEST_F(LaunchStep, EachServerCaseLoadsItsPageAndLogsItsLines) {
  const json serving = {
      {"case", ServerCase::Serving}, {"load", "as given"}, {"page", "http://localhost:PORT/index.html"},
      {"root", "DIR/Demo.app/Contents/Resources/public"}, {"running", true}, {"portKept", true},
      {"log", {"T Setting document root: DIR/Demo.app/Contents/Resources/public", "I 启动HTTPSERVER成功!",
               "I [0x0001] 启动带有http://localhost:端口的服务器地址!", "I weburl = http://localhost:PORT/index.html"}}};
  auto with = [&](const json& changes) {
    json out = serving;
    out.update(changes);
    return out;
  };
  struct Case {
    const char* name;
    std::optional<json> appExInfo;
    json outcome;
    std::string local, elsewhere;  // what GET /index.html shows on 127.0.0.1 and 127.0.0.2
  };
  const Case cases[] = {
      {"without AppExInfo the page is a file",
       std::nullopt,
       {{"case", ServerCase::NotRequested}, {"load", "resolved"}, {"page", "public/index.html"}, {"root", nullptr},
        {"running", false}, {"portKept", true}, {"log", {"I [0x0003] 不使用HttpServer"}}},
       "", ""},
      // Another address of this machine (still loopback) finds nobody.
      {"the bundle's folder on loopback only", json{{"enableHttpServer", true}}, serving, "bundle A", "status 0"},
      {"the user folder is the root while the log names the bundle's",
       json{{"enableHttpServer", true}, {"enableSpecPublic", true}, {"userSpecPublic", dir / "user"}},
       with({{"root", "DIR/user"}}), "user A", "status 0"},
      {"a user folder that names nothing is still the root",
       json{{"enableHttpServer", true}, {"enableSpecPublic", true}, {"userSpecPublic", dir / "not-there"}},
       with({{"root", "DIR/not-there"}}), "status 404", "status 0"},
      {"switched off, the user folder plays no part",
       json{{"enableHttpServer", true}, {"enableSpecPublic", false}, {"userSpecPublic", dir / "user"}}, serving,
       "bundle A", "status 0"},
      {"everywhere on request", json{{"enableHttpServer", true}, {"serverListenAllInterfaces", true}}, serving,
       "bundle A", "bundle A"},
      {"port mode starts, reads the port and stops",
       json{{"enableHttpServer", true}, {"onlyBuildInServer", false}, {"startPage", "http://127.0.0.1:%hu/app.html"}},
       with({{"case", ServerCase::PortMode}, {"load", "resolved"}, {"page", "http://127.0.0.1:PORT/app.html"},
             {"running", false},
             {"log", {serving["log"][0], serving["log"][1], "I [0x0002] 使用外部的HttpServer, 引用启动网页地址不变"}}}),
       "status 0", "status 0"},
  };
  LogCapture logs;
  for (const auto& c : cases) {
    const auto o = runLaunchServerStep(readLaunchSettings(c.appExInfo, *utils), *utils);
    EXPECT_EQ(view(o), c.outcome) << c.name;
    EXPECT_EQ(o.server && o.server->listenAllInterfaces(), c.elsewhere == "bundle A") << c.name;
    if (!o.port) continue;
    EXPECT_NE(*o.port, 0) << c.name;
    EXPECT_EQ(served(*o.port), c.local) << c.name;
    EXPECT_EQ(served(*o.port, "127.0.0.2"), c.elsewhere) << c.name;
    if (c.local != "status 404") continue;
    writeFile(dir / "not-there/index.html", "late");
    EXPECT_EQ(served(*o.port), "late") << c.name;
  }
  // Listening everywhere is announced; with no daemon, one line says so.
  EXPECT_TRUE(logs.contains("_http._tcp") || logs.contains("announcement"));
}

TEST_F(LaunchStep, TakenPortShowsRunErrorAndFallsBackToTheFilePage) {
  server::HttpServer occupant;
  occupant.setDocumentRoot(dir.path());
  ASSERT_TRUE(occupant.start());
  const auto o = run({{"enableHttpServer", true}, {"serverPort", occupant.port()}});
  ASSERT_TRUE(o.alert);
  EXPECT_EQ(o.alert->message.rfind("Error starting Web Server: ", 0), 0u);
  EXPECT_NE(o.alert->message.find("in use"), std::string::npos) << o.alert->message;
  EXPECT_EQ(view(o), (json{{"case", ServerCase::StartFailed}, {"load", "resolved"}, {"page", "public/index.html"},
                           {"root", nullptr}, {"running", false}, {"portKept", true},
                           {"log", {"T Setting document root: DIR/Demo.app/Contents/Resources/public",
                                    "E " + o.alert->message, "I [0x0003] 不使用HttpServer"}}}));
  EXPECT_EQ(json({o.alert->title, o.alert->button}), json({"Run Error", "Ok"}));
}

TEST_F(LaunchStep, PortCandidatesStartWithTheLastPortThenTheApplicationsOwn) {
  const uint16_t first = stableFirstPort("com.example.notes");
  EXPECT_EQ(stableFirstPort("com.example.notes"), first);
  EXPECT_NE(stableFirstPort("com.example.other"), first);
  const auto fresh = serverPortCandidates(0, "com.example.notes");
  ASSERT_EQ(fresh.size(), 8u);
  EXPECT_EQ(fresh[0], first);
  EXPECT_EQ(std::set<uint16_t>(fresh.begin(), fresh.end()).size(), fresh.size());
  EXPECT_GE(*std::min_element(fresh.begin(), fresh.end()), 61000);
  const auto again = serverPortCandidates(5000, "com.example.notes");
  EXPECT_EQ(std::vector<uint16_t>(again.begin(), again.begin() + 2), (std::vector<uint16_t>{5000, first}));
  // The last port being the stable one is not tried twice.
  const auto same = serverPortCandidates(first, "com.example.notes");
  EXPECT_EQ(std::count(same.begin(), same.end(), first), 1);
}

TEST_F(LaunchStep, TheLastPortIsKeptSoThePageKeepsItsOriginAndAChangeIsLogged) {
  UserDefaults defaults(dir / "defaults.json");
  auto start = [&] {
    return runLaunchServerStep(settings({{"enableHttpServer", true}}), *utils, {}, &defaults);
  };
  const uint16_t firstPort = start().port.value_or(0);
  ASSERT_NE(firstPort, 0);
  EXPECT_EQ(UserDefaults(dir / "defaults.json").integerForKey(kLastServerPortKey), firstPort);
  EXPECT_EQ(start().port, firstPort);  // the first server is gone: its port is free
  // Another program holds the port now (on one family is enough).
  const int holder = holdLoopback(AF_INET6, firstPort);
  if (holder < 0) GTEST_SKIP() << "no IPv6 loopback here";
  const auto moved = start();
  ::close(holder);
  ASSERT_EQ(moved.serverCase, ServerCase::Serving);
  EXPECT_NE(*moved.port, firstPort);
  EXPECT_EQ(defaults.integerForKey(kLastServerPortKey), *moved.port);
  const std::string said = "port " + std::to_string(firstPort) + " is taken; serving on port " +
                           std::to_string(*moved.port);
  EXPECT_TRUE(std::any_of(moved.log.begin(), moved.log.end(), [&](const LaunchLogLine& l) {
    return l.level == spdlog::level::warn && l.text.find(said) != std::string::npos;
  })) << said;
}

TEST_F(LaunchStep, AnEndingInstancesMarkMakesTheStartWaitOnlyWhileThatProgramStillRuns) {
  UserDefaults defaults(dir / "defaults.json");
  auto startWithMark = [&](pid_t pid) {
    UserDefaults mark(dir / "defaults.json");
    mark.setObject(kEndingServerPidKey, static_cast<int64_t>(pid));
    mark.synchronize();
    const auto o = runLaunchServerStep(settings({{"enableHttpServer", true}}), *utils, {}, &defaults);
    EXPECT_EQ(o.serverCase, ServerCase::Serving);
    EXPECT_FALSE(UserDefaults(dir / "defaults.json").objectForKey(kEndingServerPidKey)) << "the mark is used once";
    return std::any_of(o.log.begin(), o.log.end(),
                       [](const LaunchLogLine& l) { return l.text.find("waiting for the ending instance") == 0; });
  };
  // This very program, ending a moment later: waited for.
  const pid_t ending = ::fork();
  ASSERT_GE(ending, 0);
  if (ending == 0) {
    ::usleep(300 * 1000);
    ::_exit(0);
  }
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(startWithMark(ending));
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
  ::waitpid(ending, nullptr, 0);
  // Gone, or another program under that id now: no wait.
  EXPECT_FALSE(startWithMark(ending));
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    ::execlp("sleep", "sleep", "5", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::usleep(100 * 1000);  // it runs as "sleep" by now
  EXPECT_FALSE(startWithMark(other));
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
}
