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

// The page's own checks (plugin-pages/plugin-checks.js), and what only the
// test knows: where the sample plug-in's bundle is, and why the plug-ins
// that cannot run did not.
TEST_F(PluginsE2E, PlugInsAndBuiltInTasksAnswerAsThePageExpected) {
  EXPECT_EQ(r("mismatches"), json::object());
  EXPECT_EQ(r("summary")["bundlePath"],
            fs::canonical(shell->bundlePath() + "/Contents/PlugIns/Sample.bundle").string());
  for (const char* line :
       {"[MainThread]##Notice by SamplePlugin  #####  -[LibCallbackService receivePluginNotification:] [Line ",
        "Notice by SamplePlugin  #####  -[LibCallbackService taskService:didPassBackInfo:withCallback:] [Line ",
        "can't find [/PlugIns/Missing.bundle] plugin-[Window execTask:] [Line ",
        "can't find class [Nope] in [/PlugIns/Empty.bundle] plugin", "can't load [/PlugIns/Broken.bundle] plugin: ",
        "refused [/../../Outside.bundle] plugin: it lies outside the application package"})
    EXPECT_TRUE(logged(line)) << line;
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
