// Plug-in tasks without a display: real bundles (the sample plug-in and the
// test plug-ins of fixtures/) copied into a package made in a temporary
// folder, loaded by the real loader; page answers are recorded instead of
// evaluated.
#include "plugins/LibCallbackService.h"
#include "plugins/PluginTasks.h"

#include "app/NotificationCenter.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

using nlohmann::json;
using corvane::PluginTasks;
namespace fs = std::filesystem;

namespace {

json call(const std::string& callback, const json& value) { return json::array({callback, value}); }

// What the page would have been called with, from any thread: call()s.
class PageCalls {
 public:
  corvane::LibCallbackService::Evaluate evaluator() {
    return [this](const std::string& callback, const json& value) {
      if (callback.empty()) return;  // as the page's evaluation does
      std::lock_guard<std::mutex> hold(mutex_);
      calls_.push_back(call(callback, value));
      changed_.notify_all();
    };
  }
  // Waits (generously) until `n` calls came.
  json waitFor(size_t n = 0) {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_for(hold, std::chrono::seconds(30), [&] { return calls_.size() >= n; });
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  json calls_ = json::array();
};

void copyBundle(const std::string& from, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy(from, to, fs::copy_options::recursive);
}

class PluginTasksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    contents = dir / "Test.app/Contents";
    const std::string plugins = contents + "/PlugIns";
    copyBundle(CORVANE_SAMPLE_PLUGIN, plugins + "/Sample.bundle");
    for (const char* name : {"TestTasks", "Empty", "Broken"})
      copyBundle(std::string(CORVANE_PLUGIN_FIXTURES) + "/" + name + ".bundle", plugins + "/" + name + ".bundle");
    tasks = std::make_unique<PluginTasks>(contents, page.evaluator());
  }
  // An "execTask" that asks to run: useThread set, answers to "done".
  PluginTasks::Answer run(json params) {
    params["useThread"] = true;
    params["callback"] = "done";
    params["passBack"] = params.value("passBack", "got");
    return tasks->execTask(params);
  }

  corvane::test::TempDir dir;
  std::string contents;
  PageCalls page;
  std::unique_ptr<PluginTasks> tasks;
};

TEST(PluginToolPath, PluginFolderSpellingsAreRewritten) {
  std::vector<std::string> rewritten;
  for (const char* path : {"/plugin/Sample.bundle", "/Plugin/Sample.bundle", "/PlugIns/Sample.bundle",
                           "/Plugins/Sample.bundle", "/plugin/a/plugin/b.bundle", "plugin/Sample.bundle"})
    rewritten.push_back(PluginTasks::rewriteToolPath(path));
  EXPECT_EQ(rewritten, (std::vector<std::string>{"/PlugIns/Sample.bundle", "/PlugIns/Sample.bundle",
                                                 "/PlugIns/Sample.bundle", "/Plugins/Sample.bundle",
                                                 "/PlugIns/a/PlugIns/b.bundle", "plugin/Sample.bundle"}));
}

TEST_F(PluginTasksTest, OperationsComeInTheirOrderTwiceConfigured) {
  run({{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Recorder"}, {"passBack", "rec"},
       {"arguments", "x"}});
  const std::string path = fs::canonical(contents + "/PlugIns/TestTasks.bundle").string();
  const json configured = {"setMyDelegate:", "setMyPassback:rec", "setMyLifecycle:ZavrelonLAB"};
  json expected = configured;
  expected.push_back("setMySelfBundlePath:" + path);
  for (const auto& c : configured) expected.push_back(c);
  expected.push_back("runWithArgv:\"x\"");
  EXPECT_EQ(page.waitFor(1), json::array({call("rec", {{"calls", expected}})}));

  run({{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Recorder"}, {"passBack", "rec"},
       {"callMethod", "m"}});
  EXPECT_EQ(page.waitFor(2).at(1)[1]["calls"].back(), "callMethod:m:null") << "absent arguments are null";
}

TEST_F(PluginTasksTest, RegistryKeepsEveryBundleOnceAndTheLastNewPath) {
  const std::string a = contents + "/PlugIns/TestTasks.bundle", b = contents + "/PlugIns/Sample.bundle";
  run({{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Recorder"}});
  EXPECT_EQ(tasks->lastPluginBundlePath(), a);
  auto first = tasks->lastBundleTask();
  run({{"taskToolPath", "/plugin/TestTasks.bundle"}, {"bundleClassName", "Recorder"}});
  EXPECT_EQ(tasks->lastBundleTask(), first) << "one path, one bundle";
  run({{"taskToolPath", "/PlugIns/Sample.bundle"}, {"bundleClassName", "SamplePlugin"}, {"callMethod", "hello"}});
  run({{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Recorder"}});
  std::vector<std::string> registered;
  for (const auto& entry : tasks->pluginBundlePath2BundelTaskDic()) registered.push_back(entry.first);
  EXPECT_EQ(registered, (std::vector<std::string>{b, a}));
  EXPECT_EQ(tasks->lastPluginBundlePath(), b);
  EXPECT_EQ(tasks->lastBundleTask(), first);
}

// Every way a task can fail to start answers "callback" with the reason.
TEST_F(PluginTasksTest, TasksThatCannotRunAnswerWithAReason) {
  struct Case {
    json params;
    std::string error;
  } cases[] = {
      {{{"taskToolPath", "/PlugIns/Missing.bundle"}}, "can't find plugin /PlugIns/Missing.bundle"},
      {{{"taskToolPath", "PlugIns/Sample.bundle"}}, "can't find plugin PlugIns/Sample.bundle"},
      {{{"taskToolPath", "/PlugIns/Empty.bundle"}, {"bundleClassName", "Anything"}},
       "can't find class Anything in plugin /PlugIns/Empty.bundle"},
      {{{"taskToolPath", "/PlugIns/TestTasks.bundle"}}, "can't find class className in plugin"},
      {{{"taskToolPath", "/PlugIns/Broken.bundle"}}, "undefined symbol: corvane_test_symbol_nobody_defines"},
      {{{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Raiser"}},
       "+[Raiser setMyDelegate:]: the class lacks this operation"},
      {{{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "RunFails"}}, "RunFails: the run failed"},
      {{{"taskToolPath", "/PlugIns/TestTasks.bundle"}, {"bundleClassName", "Recorder"}, {"packageMode", "tool"}},
       "packageMode \"tool\" is not supported"},
  };
  for (const auto& c : cases) {
    auto answer = run(c.params);
    EXPECT_TRUE(answer.answer && answer.result["success"] == false &&
                answer.result.value("error", "").find(c.error) != std::string::npos)
        << c.params << ": " << answer.result;
  }
  EXPECT_TRUE(page.waitFor().empty()) << "no plug-in code answered";
}

TEST_F(PluginTasksTest, BundlesOutsideThePackageAreRefusedUnloaded) {
  // An outside copy, reached by "..", by a linked bundle and by a linked library.
  const std::string outside = dir / "Outside.bundle";
  copyBundle(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestTasks.bundle", outside);
  fs::create_directory_symlink(outside, contents + "/PlugIns/Linked.bundle");
  const std::string half = contents + "/PlugIns/HalfLinked.bundle";
  fs::create_directories(half + "/Contents/MacOS");
  fs::copy_file(outside + "/Contents/Info.plist", half + "/Contents/Info.plist");
  fs::create_symlink(outside + "/Contents/MacOS/TestTasks", half + "/Contents/MacOS/TestTasks");

  for (const char* tool : {"/../../Outside.bundle", "/PlugIns/../../../Outside.bundle", "/PlugIns/Linked.bundle"}) {
    auto answer = run({{"taskToolPath", tool}, {"bundleClassName", "Recorder"}});
    EXPECT_EQ(answer.result["success"], false) << tool;
    EXPECT_NE(answer.result.value("error", "").find("outside the application package"), std::string::npos)
        << answer.result;
  }
  auto answer = run({{"taskToolPath", "/PlugIns/HalfLinked.bundle"}, {"bundleClassName", "Recorder"}});
  EXPECT_NE(answer.result.value("error", "").find("the library lies outside the bundle"), std::string::npos)
      << answer.result;
  EXPECT_FALSE(corvane::PluginBundle::bundleWithPath(outside)->isLoaded());
  EXPECT_TRUE(page.waitFor().empty());
}

TEST_F(PluginTasksTest, ABundleSwappedForALinkOutWhileItLoadsNeverLoadsTheOutsideLibrary) {
  // An attacker who may write to PlugIns keeps exchanging the bundle folder
  // with a link to a bundle outside the package (renameat2 RENAME_EXCHANGE,
  // atomic) while the page asks for the bundle again and again.
  const std::string outside = dir / "Outside.bundle";
  copyBundle(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestTasks.bundle", outside);
  const std::string inside = contents + "/PlugIns/Swap.bundle", link = contents + "/PlugIns/Swap.link";
  copyBundle(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestTasks.bundle", inside);
  fs::create_directory_symlink(outside, link);
  const pid_t swapper = fork();
  ASSERT_GE(swapper, 0);
  if (swapper == 0) {
    for (;;) syscall(SYS_renameat2, AT_FDCWD, inside.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
  }
  auto outsideMapped = [&] {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
      if (line.find(outside + "/") != std::string::npos) return true;
    return false;
  };
  int refused = 0, calls = 0;
  for (; calls < 3000 && !outsideMapped(); ++calls) {
    auto answer = run({{"taskToolPath", "/PlugIns/Swap.bundle"}, {"bundleClassName", "Recorder"}});
    refused += answer.result.value("error", "").find("outside") != std::string::npos;
  }
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  EXPECT_FALSE(outsideMapped()) << "loaded from outside the package after " << calls << " calls";
  EXPECT_FALSE(corvane::PluginBundle::bundleWithPath(outside)->isLoaded());
  EXPECT_GT(refused, 0) << "the race was run: some calls met the link";
}

TEST(LibCallbackService, NotificationsReachEveryLiveServiceAndOnlyObjects) {
  PageCalls one, two;
  auto first = std::make_unique<corvane::LibCallbackService>(one.evaluator());
  corvane::LibCallbackService second(two.evaluator());
  auto& center = corvane::NotificationCenter::defaultCenter();
  center.post(corvane::kPluginSendMessageAndInfoNotification, json::array({1}));
  center.post(corvane::kPluginSendMessageAndInfoNotification, "text");
  center.post(corvane::kPluginSendMessageAndInfoNotification, {{"data", 1}});  // no pass-back: nothing to call
  center.post(corvane::kPluginSendMessageAndInfoNotification, {{"passback", "f"}, {"data", {{"x", 1}}}});
  const json heard = json::array({call("f", {{"x", 1}})});
  EXPECT_EQ(one.waitFor(), heard);
  EXPECT_EQ(two.waitFor(), heard);

  corvane_delegate* handle = first->handle();
  first.reset();
  center.post(corvane::kPluginSendMessageAndInfoNotification, {{"passback", "f"}});
  corvane::pluginHostApi()->pass_back_info(handle, "Late", "{}", "f");  // a kept handle of a closed page
  corvane::pluginHostApi()->pass_back_info(second.handle(), "Me", "not json", "g");
  EXPECT_EQ(one.waitFor(), heard);
  EXPECT_EQ(two.waitFor(), json::array({heard[0], call("f", nullptr), call("g", nullptr)}));
  EXPECT_EQ(corvane::pluginHostApi()->post_notification(corvane::kPluginSendMessageAndInfoNotification, "{"), -1);
}

}  // namespace
