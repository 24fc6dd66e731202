// Purchase helpers without a display: the real host program runs real
// helper bundles (the test store of fixtures/, and bundles that must be
// refused) copied into a package made in a temporary folder, driven from
// the main loop as the shell drives them. Faults are real: a helper that
// dies of SIGSEGV mid-call, a host stopped with SIGSTOP, a full disk under
// the sample store.
#include "plugins/PurchaseHelper.h"
#include "plugins/PurchaseWire.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <chrono>
#include <set>

using nlohmann::json;
using corvane::PurchaseHelper;
namespace fs = std::filesystem;

namespace {

// Turns the main loop until `done` holds (or the seconds pass).
bool spinUntil(const std::function<bool()>& done, int seconds = 30) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!done() && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return done();
}

class PurchaseHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    contents = dir / "Test.app/Contents";
    fs::create_directories(contents + "/PlugIns");
    fs::copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestStore.bundle", contents + "/PlugIns/TestStore.bundle",
             fs::copy_options::recursive);
  }

  std::shared_ptr<PurchaseHelper> make(const std::string& bundle, unsigned timeout = 30) {
    PurchaseHelper::Options o;
    o.hostProgram = CORVANE_PURCHASE_HOST;
    o.contentsPath = contents;
    o.bundlePath = contents + bundle;
    o.dataDir = dir / "data";
    o.appIdentifier = "org.corvane.test";
    o.timeoutSeconds = timeout;
    auto helper = PurchaseHelper::create(o);
    helper->addObserver([this](const json& e) { seen.push_back({{"event", e}}); });
    return helper;
  }
  // Every answer and event in the order they came.
  json call(PurchaseHelper& helper, const std::string& op, json params = json::object()) {
    return awaited([&](auto done) { helper.request(op, std::move(params), done); }, op);
  }
  json start(PurchaseHelper& helper) {
    return awaited([&](auto done) { helper.start(done); }, "start");
  }
  json awaited(const std::function<void(std::function<void(json)>)>& ask, const std::string& what) {
    std::optional<json> got;
    ask([&](json r) {
      seen.push_back({{"answer", r}});
      got = std::move(r);
    });
    EXPECT_TRUE(spinUntil([&] { return got.has_value(); })) << what << " got no answer";
    return got.value_or(json());
  }

  corvane::test::TempDir dir;
  std::string contents;
  json seen = json::array();
};

// (A helper that crashes mid-call is driven from a page, end to end.)
TEST_F(PurchaseHelperTest, WhatAHelperRaisesPrintsOrLacksIsAnAnswerNeverAFault) {
  auto helper = make("/PlugIns/TestStore.bundle");
  EXPECT_EQ(start(*helper), (json{{"success", true}, {"name", "TestStore"}, {"canMakePayments", true}}));
  const json first = call(*helper, "requestProducts");
  ASSERT_EQ(first["success"], true);
  EXPECT_EQ(call(*helper, "requestProducts", {{"mode", "fail"}}),
            (json{{"success", false}, {"error", "TestStore failed on purpose"}}));
  EXPECT_EQ(call(*helper, "requestProducts", {{"mode", "print"}})["pid"], first["pid"]);
  EXPECT_EQ(call(*helper, "restore"),
            (json{{"success", false}, {"error", "the purchase helper TestStore does not offer restore"}}));
  EXPECT_EQ(helper->hostPid(), first["pid"].get<int>()) << "the same host served them all";
}

TEST_F(PurchaseHelperTest, AStoppedHostIsEndedAfterTheTimeOutAndEveryWaitingRequestAnswered) {
  auto helper = make("/PlugIns/TestStore.bundle", 1);
  ASSERT_EQ(start(*helper)["success"], true);
  const int pid = helper->hostPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  std::vector<json> answers;
  helper->request("requestProducts", json::object(), [&](json r) { answers.push_back(r); });
  helper->request("buy", json::object(), [&](json r) { answers.push_back(r); });
  ASSERT_TRUE(spinUntil([&] { return answers.size() == 2; }, 20));
  const std::string why = "the purchase helper TestStore did not answer \"requestProducts\" within 1 s";
  EXPECT_EQ(answers, std::vector<json>(2, {{"success", false}, {"error", why}}));
  EXPECT_EQ(helper->hostPid(), 0);
  EXPECT_TRUE(spinUntil([&] { return kill(pid, 0) != 0; }, 10)) << "the stopped host was ended";
  EXPECT_EQ(call(*helper, "requestProducts")["success"], true);
}

TEST_F(PurchaseHelperTest, AHelperThatKeepsEndingStaysDownUntilItIsStartedAgain) {
  auto helper = make("/PlugIns/TestStore.bundle");
  EXPECT_EQ(call(*helper, "startService")["success"], true);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(call(*helper, "requestProducts", {{"mode", "crash"}})["success"], false);
  EXPECT_EQ(call(*helper, "requestProducts")["error"],
            "the purchase helper TestStore stopped after it ended 3 times; register it again");
  EXPECT_EQ(helper->hostPid(), 0);
  // Started again by hand, it hears "startService" first all the same.
  EXPECT_EQ(start(*helper)["success"], true);
  EXPECT_EQ(call(*helper, "requestProducts")["started"], true);
}

TEST_F(PurchaseHelperTest, HelpersThePackageDoesNotHoldAreRefusedForGood) {
  const std::string outside = dir / "Outside.bundle";
  fs::copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/TestStore.bundle", outside, fs::copy_options::recursive);
  fs::create_directory_symlink(outside, contents + "/PlugIns/Linked.bundle");
  // A bundle in the package whose library is a link out of it.
  fs::create_directories(contents + "/PlugIns/LinkedLib.bundle/Contents/MacOS");
  fs::copy(outside + "/Contents/Info.plist", contents + "/PlugIns/LinkedLib.bundle/Contents/Info.plist");
  fs::create_symlink(outside + "/Contents/MacOS/TestStore",
                     contents + "/PlugIns/LinkedLib.bundle/Contents/MacOS/TestStore");
  fs::copy(std::string(CORVANE_PLUGIN_FIXTURES) + "/Empty.bundle", contents + "/PlugIns/Empty.bundle",
           fs::copy_options::recursive);

  const struct {
    const char* bundle;
    const char* error;
  } cases[] = {
      {"/../../Outside.bundle", "lies outside the application package"},
      {"/PlugIns/Linked.bundle", "lies outside the application package"},
      {"/PlugIns/Missing.bundle", "can't find the purchase helper"},
      {"/PlugIns/LinkedLib.bundle", "the library lies outside the bundle"},
      {"/PlugIns/Empty.bundle", "the library exports no corvane_purchase_helper_entry"},
  };
  for (const auto& c : cases) {
    auto helper = make(c.bundle);
    // Refused at the start, for every later request too, and no host runs.
    const json started = start(*helper);
    EXPECT_TRUE(started["success"] == false && started.value("error", "").find(c.error) != std::string::npos &&
                call(*helper, "requestProducts") == started && helper->hostPid() == 0)
        << c.bundle << ": " << started;
  }
}

// The sample store on a 64 KiB tmpfs that fills up: a purchase that cannot
// be recorded is refused and notified as failed, and the store on disk is
// the one before it, whole.
TEST_F(PurchaseHelperTest, TheSampleStoreOnAFullDiskKeepsItsLastStoreAndSaysThePurchaseFailed) {
  fs::copy(CORVANE_SAMPLE_STORE, contents + "/PlugIns/SampleStore.bundle", fs::copy_options::recursive);
  const std::string data = dir / "data";
  fs::create_directories(data);
  if (mount("tmpfs", data.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{data};

  auto helper = make("/PlugIns/SampleStore.bundle");
  ASSERT_EQ(call(*helper, "startService")["success"], true);
  const json first = call(*helper, "buy", {{"productId", "com.corvane.showcase.pro"}});
  ASSERT_EQ(first["success"], true) << first;
  const std::string store = data + "/store.json";
  const std::string before = corvane::test::readFile(store);
  ASSERT_NE(before.find("com.corvane.showcase.pro"), std::string::npos);
  {
    std::ofstream filler(data + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  }
  seen = json::array();
  const json bought = call(*helper, "buy", {{"productId", "com.corvane.showcase.coins"}});
  EXPECT_EQ(bought["success"], false);
  EXPECT_EQ(bought.value("error", "").rfind("the purchase could not be recorded: ", 0), 0u) << bought;
  ASSERT_EQ(seen.size(), 3u) << seen;
  EXPECT_EQ(seen[1]["event"]["type"], "failed") << seen;
  EXPECT_EQ(corvane::test::readFile(store), before);
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(data)) files.insert(e.path().filename());
  EXPECT_EQ(files, (std::set<std::string>{"filler", "store.json", "store.json.lock"})) << "nothing left behind";
  EXPECT_EQ(call(*helper, "getUseCount", {{"productId", "com.corvane.showcase.coins"}})["useCount"], 0);
}

TEST(PurchaseWire, LinesAreSplitAcrossReadsAndAnOverlongLineStopsTheReader) {
  corvane::purchase::LineReader reader(8);
  ASSERT_TRUE(reader.feed("ab\ncd", 5));
  EXPECT_EQ(reader.next(), "ab");
  EXPECT_EQ(reader.next(), std::nullopt);
  ASSERT_TRUE(reader.feed("e\n\nf", 4));
  EXPECT_EQ(reader.next(), "cde");
  EXPECT_EQ(reader.next(), "");
  EXPECT_EQ(reader.next(), std::nullopt);
  EXPECT_FALSE(reader.feed("ghijklmn", 8)) << "\"fghijklmn\" is longer than 8 bytes";
  EXPECT_TRUE(reader.overflowed());
  EXPECT_FALSE(reader.feed("\n", 1));
  EXPECT_EQ(reader.next(), std::nullopt);
}

}  // namespace
