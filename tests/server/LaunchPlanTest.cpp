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

class LaunchStep : public ::testing::Test {
 protected:
  void SetUp() override {
    bundlePath = dir / "Demo.app";
    publicDir = bundlePath + "/Contents/Resources/public";
    writeFile(publicDir + "/index.html", "bundle %%ALPHABET%%");
    writeFile(dir / "user/index.html", "user %%ALPHABET%%");
    writeFile(dir / "user/public/index.html", "user public");
    writeFile(dir / "page.html", "a file");
    utils = std::make_unique<Utils>(Bundle(bundlePath, json{{"CFBundleName", "Demo"}}));
  }

  LaunchSettings settings(const json& appExInfo) const {
    return readLaunchSettings(appExInfo, *utils);
  }
  LaunchServerOutcome run(const json& appExInfo) {
    return runLaunchServerStep(settings(appExInfo), *utils);
  }
  static std::vector<std::string> texts(const LaunchServerOutcome& o) {
    std::vector<std::string> out;
    for (const auto& l : o.log) out.push_back(l.text);
    return out;
  }

  TempDir dir;
  std::string bundlePath;
  std::string publicDir;
  std::unique_ptr<Utils> utils;
};

}  // namespace

TEST_F(LaunchStep, ReadsLaunchKeysWithTheirDefaultsAndTextRules) {
  const LaunchSettings none = readLaunchSettings(std::nullopt, *utils);
  EXPECT_FALSE(none.hasAppExInfo);
  EXPECT_FALSE(none.enableHttpServer);
  EXPECT_TRUE(none.onlyBuildInServer);
  EXPECT_FALSE(none.startPage);
  EXPECT_EQ(none.port(), 0);

  // Not an object: behaves as one without keys.
  const LaunchSettings odd = settings(json::array({1, 2}));
  EXPECT_TRUE(odd.hasAppExInfo);
  EXPECT_FALSE(odd.enableHttpServer);
  EXPECT_FALSE(odd.enableShouldTerminateAfterLastWindowClosed);

  const LaunchSettings s = settings({{"enableHttpServer", "YES"},
                                     {"onlyBuildInServer", "no"},
                                     {"enableSpecPublic", 1},
                                     {"userSpecPublic", "${BUNDLE}/x"},
                                     {"startPage", "${BUNDLE}/p.html"},
                                     {"serverPort", 70000},
                                     {"serverListenAllInterfaces", "true"},
                                     {"enableShouldTerminateAfterLastWindowClosed", false},
                                     {"windowTitleFromPage", true}});
  EXPECT_TRUE(s.enableHttpServer);
  EXPECT_FALSE(s.onlyBuildInServer);
  EXPECT_TRUE(s.enableSpecPublic);
  EXPECT_EQ(s.userSpecPublic, bundlePath + "/x");
  EXPECT_EQ(s.startPage, bundlePath + "/p.html");
  EXPECT_EQ(s.port(), 4464);
  EXPECT_TRUE(s.serverListenAllInterfaces);
  EXPECT_EQ(s.enableShouldTerminateAfterLastWindowClosed, false);
  EXPECT_TRUE(s.windowTitleFromPage);
  EXPECT_FALSE(none.windowTitleFromPage);

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

TEST_F(LaunchStep, WithoutServerThePageIsAFileAndNoServerRuns) {
  const auto none = runLaunchServerStep(readLaunchSettings(std::nullopt, *utils), *utils);
  EXPECT_EQ(none.serverCase, ServerCase::NotRequested);
  EXPECT_EQ(none.load, PageLoad::URL);
  EXPECT_EQ(none.page, "public/index.html");
  EXPECT_EQ(none.server, nullptr);
  EXPECT_EQ(texts(none), std::vector<std::string>{"[0x0003] 不使用HttpServer"});
  EXPECT_EQ(none.log[0].level, spdlog::level::info);
  EXPECT_EQ(utils->http_server_port, 0);
}

TEST_F(LaunchStep, ServerOnServesTheBundleFolderAtTheLocalhostUrl) {
  const auto o = run({{"enableHttpServer", true}});
  ASSERT_EQ(o.serverCase, ServerCase::Serving);
  ASSERT_TRUE(o.server && o.server->isRunning());
  ASSERT_TRUE(o.port);
  EXPECT_NE(*o.port, 0);  // a free port chosen by the system
  const std::string url = "http://localhost:" + std::to_string(*o.port) + "/index.html";
  EXPECT_EQ(o.load, PageLoad::SpecURL);
  EXPECT_EQ(o.page, url);
  EXPECT_EQ(utils->http_server_port, *o.port);
  EXPECT_FALSE(o.alert);
  EXPECT_EQ(texts(o), (std::vector<std::string>{
                          "Setting document root: " + publicDir, "启动HTTPSERVER成功!",
                          "[0x0001] 启动带有http://localhost:端口的服务器地址!", "weburl = " + url}));
  EXPECT_EQ(o.log[0].level, spdlog::level::trace);
  for (size_t i = 1; i < o.log.size(); ++i) EXPECT_EQ(o.log[i].level, spdlog::level::info);
  EXPECT_EQ(get(*o.port, "/index.html").body, "bundle A");
  EXPECT_FALSE(o.server->listenAllInterfaces());
  // Another address of this machine (still loopback, so nothing leaves it)
  // finds nobody listening.
  EXPECT_EQ(request(*o.port, "GET", "/index.html", {}, "127.0.0.2").status, 0);
}

TEST_F(LaunchStep, UserFolderBecomesTheRootWhileTheLogNamesTheBundleFolder) {
  const std::string user = dir / "user";
  const auto o = run({{"enableHttpServer", true}, {"enableSpecPublic", true}, {"userSpecPublic", user}});
  ASSERT_EQ(o.serverCase, ServerCase::Serving);
  EXPECT_EQ(get(*o.port, "/index.html").body, "user A");
  EXPECT_EQ(o.page, "http://localhost:" + std::to_string(*o.port) + "/index.html");
  EXPECT_EQ(o.log.front().text, "Setting document root: " + publicDir);

  // A text that names nothing is still the root; the start page ignores it.
  const auto nowhere = run({{"enableHttpServer", true}, {"enableSpecPublic", true},
                            {"userSpecPublic", dir / "not-there"}});
  ASSERT_EQ(nowhere.serverCase, ServerCase::Serving);
  EXPECT_EQ(nowhere.server->documentRoot(), dir / "not-there");
  EXPECT_EQ(get(*nowhere.port, "/index.html").status, 404);
  writeFile(dir / "not-there/index.html", "late");
  EXPECT_EQ(get(*nowhere.port, "/index.html").body, "late");

  // Switched off, the user folder plays no part.
  const auto off = run({{"enableHttpServer", true}, {"enableSpecPublic", false},
                        {"userSpecPublic", user}});
  EXPECT_EQ(get(*off.port, "/index.html").body, "bundle A");
}

TEST_F(LaunchStep, PortModeStartsReadsThePortAndStops) {
  const auto o = run({{"enableHttpServer", true},
                      {"onlyBuildInServer", false},
                      {"startPage", "http://127.0.0.1:%hu/app.html"}});
  ASSERT_EQ(o.serverCase, ServerCase::PortMode);
  ASSERT_TRUE(o.port);
  ASSERT_TRUE(o.server);
  EXPECT_FALSE(o.server->isRunning());
  EXPECT_EQ(get(*o.port, "/index.html").status, 0);  // nobody listens any more
  EXPECT_EQ(o.load, PageLoad::URL);
  EXPECT_EQ(o.page, "http://127.0.0.1:" + std::to_string(*o.port) + "/app.html");
  EXPECT_EQ(utils->http_server_port, *o.port);
  EXPECT_EQ(texts(o), (std::vector<std::string>{
                          "Setting document root: " + publicDir, "启动HTTPSERVER成功!",
                          "[0x0002] 使用外部的HttpServer, 引用启动网页地址不变"}));
}

TEST_F(LaunchStep, TakenPortShowsRunErrorAndFallsBackToTheFilePage) {
  server::HttpServer occupant;
  occupant.setDocumentRoot(dir.path());
  ASSERT_TRUE(occupant.start());
  const auto o = run({{"enableHttpServer", true}, {"serverPort", occupant.port()}});
  EXPECT_EQ(o.serverCase, ServerCase::StartFailed);
  EXPECT_EQ(o.server, nullptr);
  EXPECT_FALSE(o.port);
  EXPECT_EQ(o.load, PageLoad::URL);
  EXPECT_EQ(o.page, "public/index.html");
  EXPECT_EQ(utils->http_server_port, 0);
  ASSERT_TRUE(o.alert);
  EXPECT_EQ(o.alert->title, "Run Error");
  EXPECT_EQ(o.alert->button, "Ok");
  EXPECT_EQ(o.alert->message.rfind("Error starting Web Server: ", 0), 0u);
  EXPECT_NE(o.alert->message.find("in use"), std::string::npos) << o.alert->message;
  ASSERT_EQ(o.log.size(), 3u);
  EXPECT_EQ(o.log[1].text, o.alert->message);
  EXPECT_EQ(o.log[1].level, spdlog::level::err);
  EXPECT_EQ(o.log[2].text, "[0x0003] 不使用HttpServer");
}

TEST_F(LaunchStep, PortCandidatesStartWithTheLastPortThenTheApplicationsOwn) {
  const uint16_t first = stableFirstPort("com.example.notes");
  EXPECT_EQ(stableFirstPort("com.example.notes"), first);
  EXPECT_NE(stableFirstPort("com.example.other"), first);
  EXPECT_GE(first, 61000);
  const auto fresh = serverPortCandidates(0, "com.example.notes");
  ASSERT_EQ(fresh.size(), 8u);
  EXPECT_EQ(fresh[0], first);
  EXPECT_EQ(std::set<uint16_t>(fresh.begin(), fresh.end()).size(), fresh.size());
  for (uint16_t p : fresh) EXPECT_GE(p, 61000);
  const auto again = serverPortCandidates(5000, "com.example.notes");
  EXPECT_EQ(again[0], 5000);
  EXPECT_EQ(again[1], first);
  // The last port being the stable one is not tried twice.
  const auto same = serverPortCandidates(first, "com.example.notes");
  EXPECT_EQ(std::count(same.begin(), same.end(), first), 1);
}

TEST_F(LaunchStep, TheLastPortIsKeptSoThePageKeepsItsOriginAndAChangeIsLogged) {
  UserDefaults defaults(dir / "defaults.json");
  auto start = [&] {
    return runLaunchServerStep(settings({{"enableHttpServer", true}}), *utils, {}, &defaults);
  };
  uint16_t firstPort = 0;
  {
    const auto o = start();
    ASSERT_EQ(o.serverCase, ServerCase::Serving);
    firstPort = *o.port;
    EXPECT_EQ(defaults.integerForKey(kLastServerPortKey), firstPort);
    EXPECT_EQ(UserDefaults(dir / "defaults.json").integerForKey(kLastServerPortKey), firstPort);
  }
  {
    const auto again = start();  // the first server is gone: its port is free
    ASSERT_EQ(again.serverCase, ServerCase::Serving);
    EXPECT_EQ(*again.port, firstPort);
    EXPECT_EQ(again.page, "http://localhost:" + std::to_string(firstPort) + "/index.html");
  }
  // Another program holds the port now (on one family is enough).
  const int holder = holdLoopback(AF_INET6, firstPort);
  if (holder < 0) GTEST_SKIP() << "no IPv6 loopback here";
  const auto moved = start();
  ::close(holder);
  ASSERT_EQ(moved.serverCase, ServerCase::Serving);
  EXPECT_NE(*moved.port, firstPort);
  EXPECT_EQ(defaults.integerForKey(kLastServerPortKey), *moved.port);
  bool said = false;
  for (const auto& line : moved.log) {
    if (line.text.find("port " + std::to_string(firstPort) + " is taken") != std::string::npos) {
      said = true;
      EXPECT_EQ(line.level, spdlog::level::warn);
      EXPECT_NE(line.text.find(std::to_string(*moved.port)), std::string::npos);
    }
  }
  EXPECT_TRUE(said);
}

TEST_F(LaunchStep, ListeningOnAllInterfacesIsOptInAndAnnounced) {
  LogCapture logs;
  {
    const auto o = run({{"enableHttpServer", true}, {"serverListenAllInterfaces", true}});
    ASSERT_EQ(o.serverCase, ServerCase::Serving);
    EXPECT_TRUE(o.server->listenAllInterfaces());
    EXPECT_EQ(request(*o.port, "GET", "/index.html", {}, "127.0.0.2").body, "bundle A");
  }
  // With no daemon: one line saying so; with one: the announcement result.
  EXPECT_TRUE(logs.contains("_http._tcp") || logs.contains("announcement"));
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
