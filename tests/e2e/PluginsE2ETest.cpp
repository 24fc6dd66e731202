// Plug-in bundles and built-in tasks from a page (plugin-pages), and the
// Showcase application as the build stages it, with its sample plug-in.
#include "ShellSuite.h"
#include "../app/LiveShell.h"

#include <gtest/gtest.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
namespace fs = std::filesystem;

namespace {

class PluginsE2E : public corvane::e2e::ShellSuite<PluginsE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_PLUGIN_PAGES);
    const std::string plugins = shell->bundlePath() + "/Contents/PlugIns";
    fs::create_directories(plugins);
    auto copy = [](const std::string& from, const std::string& to) { fs::copy(from, to, fs::copy_options::recursive); };
    copy(CORVANE_SAMPLE_PLUGIN, plugins + "/Sample.bundle");
    for (const char* name : {"TestTasks", "Empty", "Broken"})
      copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/" + name + ".bundle", plugins + "/" + name + ".bundle");
    // A real plug-in next to the package, which no page may load.
    copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestTasks.bundle", shell->root() + "/Outside.bundle");
    runShell(shell->sessionEnv(), 240);
  }
  static bool logged(const std::string& text) { return log->find(text) != std::string::npos; }
};

TEST_F(PluginsE2E, SamplePlugInReportsProgressThenItsSummary) {
  const json& s = r("sample");
  ASSERT_EQ(s.size(), 4u) << s;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s[i], (json{{"progress", i + 1}, {"of", 3}}));
  EXPECT_EQ(s[3]["greeting"], "Hello from the sample plug-in");
  EXPECT_EQ(s[3]["arguments"], (json{{"from", "page"}}));
  EXPECT_EQ(s[3]["bundlePath"], fs::canonical(shell->bundlePath() + "/Contents/PlugIns/Sample.bundle").string());
  EXPECT_EQ(s[3]["setterCalls"], 6);
  EXPECT_EQ(r("sampleAnswer"), json::array()) << "a running task answers through its delegate only";
  EXPECT_EQ(r("helloAtOnce"), (json{{{"method", "hello"}, {"arguments", {1, "two"}}}}))
      << "bundle plug-ins run within the call";
  EXPECT_TRUE(logged("[MainThread]##Notice by SamplePlugin  #####  -[LibCallbackService receivePluginNotification:] [Line "));
  EXPECT_TRUE(logged("Notice by SamplePlugin  #####  -[LibCallbackService taskService:didPassBackInfo:withCallback:] [Line "));
}

// Their reasons are PluginTasksTest's; here each answer came before the call
// returned, and the log says why.
TEST_F(PluginsE2E, PlugInsThatCannotRunAnswerAtOnceAndLogWhy) {
  for (const char* key : {"missing", "noClass", "broken", "escape"}) {
    ASSERT_EQ(r(key).size(), 1u) << key << r(key);
    EXPECT_EQ(r(key)[0]["success"], false) << key;
  }
  for (const char* line : {"can't find [/PlugIns/Missing.bundle] plugin-[Window execTask:] [Line ",
                           "can't find class [Nope] in [/PlugIns/Empty.bundle] plugin",
                           "can't load [/PlugIns/Broken.bundle] plugin: ",
                           "refused [/../../Outside.bundle] plugin: it lies outside the application package"})
    EXPECT_TRUE(logged(line)) << line;
  EXPECT_EQ(r("noThread"), (json{{{"success", true}}}));
  EXPECT_EQ(r("neverRun"), json::array());
  EXPECT_EQ(r("notText"), "no throw");
}

TEST_F(PluginsE2E, MessagesFromManyThreadsAllReachThePageInOrder) {
  EXPECT_EQ(r("floodCount"), 401);
  EXPECT_EQ(r("floodInOrder"), true);
  EXPECT_EQ(r("floodLast"), (json{{"done", true}, {"posted", 400}}));
}

TEST_F(PluginsE2E, BuiltInTasksRunByNameOffTheMainThread) {
  EXPECT_EQ(r("echoAtOnce"), 0) << "built-in work runs later, on the background pool";
  EXPECT_EQ(r("echo"), (json{{{"method", "ping"}, {"arguments", {{"n", 7}}}, {"mainThread", false}}}));
  EXPECT_EQ(r("echoAnswer"), json::array());
  ASSERT_EQ(r("counter").size(), 2u);
  EXPECT_NE(r("counter")[0]["instance"], r("counter")[1]["instance"]) << "a class of a loaded bundle, fresh instances";
  EXPECT_EQ(r("noBuiltIn"), (json{{{"success", false}, {"error", "can't find task class NoSuchTask"}}}));
}

// The demo as the build stages it: its page runs the sample plug-in and
// opens the sample store at load, and writes their answers to its console.
TEST(ShowcasePlugIn, TheShowcasePageRunsTheSamplePlugIn) {
  ShellHarness home;  // a private home and XDG folders
  corvane::life::LiveShell app(CORVANE_BINARY, CORVANE_SHOWCASE_APP, home.root() + "/showcase.log", home.sessionEnv());
  EXPECT_TRUE(app.waitForLog("Showcase plug-in: done", 120)) << app.log();
  EXPECT_NE(app.log().find("Showcase plug-in: progress 3 of 3"), std::string::npos) << app.log();
  EXPECT_TRUE(app.waitForLog("Showcase store: 3 products, payments possible", 60))
      << "the sample purchase helper serves the Showcase's store\n" << app.log();
}

}  // namespace
