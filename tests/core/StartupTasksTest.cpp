// Start-up tasks with real child processes and real files.
#include "TestSupport.h"

#include "app/StartupTasks.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"

#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using nlohmann::json;

namespace {

class Tasks : public testing::Test {
 protected:
  void SetUp() override {
    env.set("HOME", tmp / "home");
    env.set("XDG_CONFIG_HOME", tmp / "config");
    env.set("FLATPAK_ID", std::nullopt);
    fs::create_directories(tmp / "home");
    writeFile(tmp / "home/file", "");
    setBuild("57");
  }
  void setBuild(const std::string& build) {
    bundle = makeBundle(tmp.path(), "T", {{"CFBundleName", "T"},
                                          {"CFBundleIdentifier", "test.tasks"},
                                          {"CFBundleVersion", build}});
  }
  // One start of the application: runs `tasks`, answers the completion
  // calls ([code, domain] for an error, null for success).
  json start(const json& tasks) {
    Utils utils(openBundle(bundle));
    UserDefaults defaults(UserDefaults::pathForIdentifier("test.tasks"));
    json calls = json::array();
    StartupTasks(utils, defaults).run(tasks, [&](const auto& e) {
      calls.push_back(e ? json{e->code, e->domain} : json());
    });
    return calls;
  }
  // A task that appends `word` to the log file.
  json echoTask(const std::string& word, json extra = json::object()) {
    json t = {{"taskType", "exec_task"},
              {"taskAppPath", "/bin/sh"},
              {"command", {"-c", "echo " + word + " >> " + (tmp / "log.txt")}},
              {"waitUntilExit", true},
              {"conditionType", "&&"}};
    t.update(extra);
    return t;
  }
  std::string ran() { return readFile(tmp / "log.txt"); }

  TempDir tmp;
  EnvGuard env;
  std::string bundle;
};

}  // namespace

TEST_F(Tasks, RunInIndexOrderKeepingListOrderForTies) {
  auto calls = start(json::array({echoTask("two", {{"index", 2}}), echoTask("zero", {{"index", 0}}),
                                  echoTask("one", {{"index", 1}}), echoTask("noindex")}));
  EXPECT_EQ(ran(), "zero\nnoindex\none\ntwo\n");
  EXPECT_EQ(calls, json::array({nullptr, nullptr, nullptr, nullptr})) << "one success call after every task";
}

TEST_F(Tasks, CompareMarksAcrossStartsAndBuilds) {
  const json task = echoTask("ran", {{"conditionType", "||"},
                                     {"conditions", {{{"key", "mark"}, {"op", "<"}, {"value", 3}}}}});
  start(json::array({task}));
  EXPECT_EQ(ran(), "ran\n") << "no mark yet: the condition holds";
  EXPECT_EQ(UserDefaults(UserDefaults::pathForIdentifier("test.tasks")).integerForKey("mark"), 573);

  start(json::array({task}));
  EXPECT_EQ(ran(), "ran\n") << "573 < 573 is false";

  setBuild("58");
  start(json::array({task}));
  EXPECT_EQ(ran(), "ran\nran\n") << "573 < 583 after the update";
  EXPECT_EQ(UserDefaults(UserDefaults::pathForIdentifier("test.tasks")).integerForKey("mark"), 583);
}

TEST_F(Tasks, OperatorsOnAnEqualMark) {
  auto withOp = [&](const std::string& op, const std::string& word) {
    return echoTask(word, {{"conditions", {{{"key", "eq"}, {"op", op}, {"value", 1}}}}});
  };
  start(json::array({withOp("==", "eq")}));  // stores 571
  fs::remove(tmp / "log.txt");
  start(json::array({withOp(">", "gt"), withOp(">=", "ge"), withOp("<=", "le"), withOp("!=", "ne"),
                     withOp("=~", "match")}));
  EXPECT_EQ(ran(), "ge\nle\n");
}

TEST_F(Tasks, CombinationRules) {
  const json missing = {{"type", "path_exist"}, {"path", "${HOME}/nothing"}, {"value", false}};
  const json present = {{"type", "path_exist"}, {"path", "${HOME}"}, {"value", false}};
  start(json::array({
      echoTask("bare-or", {{"conditionType", nullptr}}),
      echoTask("bare-and"),
      echoTask("or", {{"conditionType", "||"}, {"conditions", {present, missing}}}),
      echoTask("and", {{"conditions", {present, missing}}}),
      echoTask("weird", {{"conditionType", "and"}}),
      echoTask("badtype", {{"conditionType", "||"}, {"conditions", {{{"type", "clock"}}}}}),
      echoTask("text-and", {{"conditions", {{{"key", "k"}, {"op", "<"}, {"value", "3"}}}}}),
      echoTask("text-or", {{"conditionType", "||"},
                           {"conditions", {{{"key", "k"}, {"op", "<"}, {"value", "3"}}}}}),
  }));
  EXPECT_EQ(ran(), "bare-and\nor\ntext-and\n");
}

TEST_F(Tasks, FailuresReportWithCodesAndLaterTasksStillRun) {
  testing::internal::CaptureStderr();
  auto calls = start(json::array({
      {{"taskAppPath", "/bin/false"}, {"waitUntilExit", true}, {"conditionType", "&&"}, {"id", "f"}},
      {{"taskAppPath", "/no/such/tool"}, {"waitUntilExit", true}, {"conditionType", "&&"}},
      {{"taskAppPath", "/bin/true"}, {"currentDirectoryPath", "${HOME}/nowhere"}, {"conditionType", "&&"}},
      {{"taskAppPath", "/bin/true"}, {"currentDirectoryPath", "${HOME}/file"}, {"conditionType", "&&"}},
      echoTask("after"),
  }));
  const std::string err = testing::internal::GetCapturedStderr();
  // Four failures; the last success leaves finished behind started.
  EXPECT_EQ(calls, json::array({{1, "error"},
                                {3, "launch path '/no/such/tool' not accessible: No such file or directory"},
                                {3, "working folder '" + (tmp / "home/nowhere") + "' does not exist"},
                                {3, "working folder '" + (tmp / "home/file") + "' is not a folder"}}));
  EXPECT_EQ(ran(), "after\n");
  EXPECT_THAT(err, testing::HasSubstr("<app>process_task [id:f, descript:(null)] failed."));
  EXPECT_THAT(err, testing::HasSubstr("发现错误: working folder"));
}

TEST_F(Tasks, AToolNobodyWaitsForHasSucceededOnceItRuns) {
  const std::string flag = tmp / "home/done";
  auto calls = start(json::array(
      {{{"taskAppPath", "/bin/sh"}, {"command", {"-c", "sleep 0.5; touch " + flag}}, {"conditionType", "&&"}}}));
  EXPECT_EQ(calls, json::array({nullptr})) << "success, while the tool still runs";
  EXPECT_FALSE(fs::exists(flag));
  for (int i = 0; i < 200 && !fs::exists(flag); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(fs::exists(flag)) << "the tool ran to its end";
}

// Deletions expand placeholders, name the item as the file system finds it
// and never follow links.
TEST_F(Tasks, DeletionsNeverFollowLinks) {
  writeFile(tmp / "home/old.txt", "x");
  writeFile(tmp / "keep/precious.txt", "y");
  writeFile(tmp / "home/d/sub/x", "3");
  fs::create_directories(tmp / "home/cache");
  fs::create_directory_symlink(tmp / "keep", tmp / "home/cache/link");
  auto del = [](const char* type, const char* path) {
    return json{{"taskType", type}, {"path", path}, {"conditionType", "&&"}};
  };
  auto calls = start(json::array({del("delete_file", "${HOME}/old.txt"), del("delete_dir", "${HOME}/cache"),
                                  del("delete_dir", "${HOME}//d/./sub/"), del("delete_file", "${HOME}/missing.txt"),
                                  del("delete_file", "${HOME}")}));
  for (const char* gone : {"home/old.txt", "home/cache", "home/d/sub"}) EXPECT_FALSE(fs::exists(tmp / gone)) << gone;
  EXPECT_TRUE(fs::exists(tmp / "home/d"));
  EXPECT_EQ(readFile(tmp / "keep/precious.txt"), "y");
  // Nothing is left at any path; a folder is not deleted as a file.
  EXPECT_EQ(calls, json::array({nullptr, nullptr, nullptr, nullptr, {2, "error"}}));

  // A file reached through a link to its folder goes; the link named last
  // is removed itself, never what it points to.
  writeFile(tmp / "elsewhere/in.txt", "5");
  fs::create_directory_symlink(tmp / "elsewhere", tmp / "home/link");
  EXPECT_TRUE(Utils::removeFile(tmp / "home/link/in.txt"));
  EXPECT_FALSE(fs::exists(tmp / "elsewhere/in.txt"));
  writeFile(tmp / "elsewhere/in.txt", "5");
  EXPECT_TRUE(Utils::removeDir(tmp / "home/link/"));
  EXPECT_FALSE(fs::is_symlink(tmp / "home/link"));
  EXPECT_EQ(readFile(tmp / "elsewhere/in.txt"), "5");
}

TEST_F(Tasks, NothingToRunAndBrokenLists) {
  EXPECT_TRUE(start(json::array()).empty());
  EXPECT_EQ(start(json::array({echoTask("x", {{"conditionType", "||"}})})), json::array({nullptr}))
      << "no task started: the completion hears it once";

  testing::internal::CaptureStderr();
  EXPECT_TRUE(start(json::array({echoTask("a", {{"index", "1"}}), echoTask("b")})).empty());
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("error: "));
  EXPECT_EQ(ran(), "") << "an index written as text ends the whole run";
}

// What a desktop process typically changes for itself is not inherited.
TEST_F(Tasks, ToolsStartWithDefaultSignalsAndAnEmptyMask) {
  struct sigaction ignore{}, oldPipe{}, oldHup{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &oldPipe);
  sigaction(SIGHUP, &ignore, &oldHup);
  sigset_t block, oldMask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &block, &oldMask);

  const std::string out = tmp / "signals.txt";
  // The tool reads its own state (exec): the shell itself may block signals
  // for a moment while it starts a command.
  start(json::array({echoTask("x", {{"command", {"-c", "exec grep -E '^Sig(Ign|Blk)' /proc/self/status > " + out}}})}));

  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
  const std::string status = readFile(out);
  auto mask = [&](const char* name) { return std::stoull(status.substr(status.find(name) + 7), nullptr, 16); };
  const uint64_t ignored = mask("SigIgn:");
  EXPECT_EQ(mask("SigBlk:"), 0u) << status;
  // Signals 32 and 33 belong to the C library, which sets them up itself in
  // every program it starts; every other signal has its default action.
  EXPECT_EQ(ignored & ~((1ULL << 31) | (1ULL << 32)), 0u) << std::hex << ignored;
}

TEST_F(Tasks, ToolsSeeTheExportedFoldersOrTheirOwnEnvironment) {
  Utils(openBundle(bundle)).update_env_string("");  // what reading the configuration does
  start(json::array({
      echoTask("${APP_NAME}", {{"command", {"-c", "echo $ZAVRELONLAB_MAIN_APP_APPLICATIONNAME "
                                                  "$ZAVRELONLAB_MAIN_APP_DESKTOPDIRECTORY >> " +
                                                      (tmp / "log.txt")}}}),
      echoTask("own", {{"command", {"-c", "echo \"[$ONLY][$ZAVRELONLAB_MAIN_APP_APPLICATIONNAME]\" >> log.txt"}},
                       {"environmentDic", {{"ONLY", "me"}}},
                       {"currentDirectoryPath", tmp.path()}}),
  }));
  EXPECT_EQ(ran(), "T " + (tmp / "home/Desktop") + "\n[me][]\n");
}
