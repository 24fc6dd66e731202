// The development mode's folder watch on real files: one report per burst
// of saves, scratch files of editors ignored, new folders watched.
#include "TestSupport.h"

#include "app/FolderWatch.h"

#include <glib.h>

#include <chrono>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

// Serves the main loop until `done` or `limit` has passed.
template <class Done>
void serve(Done done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(1ms);
  }
}

struct Reports {
  std::vector<std::vector<std::string>> bursts;
  FolderWatch::Handler handler() {
    return [this](const std::vector<std::string>& paths) { bursts.push_back(paths); };
  }
};

}  // namespace

TEST(FolderWatch, OneReportPerBurstOfSaves) {
  TempDir tmp;
  writeFile(tmp / "site/index.html", "1");
  writeFile(tmp / "site/js/app.js", "1");
  Reports r;
  FolderWatch watch({tmp / "site", tmp / "site/js", tmp / "missing"}, r.handler(), 30ms, 150ms);
  EXPECT_EQ(watch.watchedFolderCount(), 2u);  // nested trees once, missing ones not at all

  // An editor's save: a scratch file, the write, a rename over the old one.
  writeFile(tmp / "site/.index.html.swp", "x");
  writeFile(tmp / "site/index.html.tmp", "2");
  fs::rename(tmp / "site/index.html.tmp", tmp / "site/index.html");
  writeFile(tmp / "site/js/app.js", "2");
  serve([&] { return !r.bursts.empty(); }, 3000ms);
  ASSERT_EQ(r.bursts.size(), 1u);
  EXPECT_EQ(r.bursts[0], (std::vector<std::string>{tmp / "site/index.html", tmp / "site/js/app.js"}));
  serve([] { return false; }, 200ms);
  EXPECT_EQ(r.bursts.size(), 1u);

  // A folder made later is watched with what comes into it.
  fs::create_directories(tmp / "site/new/deeper");
  serve([&] { return r.bursts.size() == 2; }, 3000ms);
  writeFile(tmp / "site/new/deeper/page.css", "x");
  serve([&] { return r.bursts.size() == 3 && r.bursts.back() == std::vector<std::string>{tmp / "site/new/deeper/page.css"}; },
        3000ms);
  ASSERT_GE(r.bursts.size(), 3u);
  EXPECT_EQ(r.bursts.back(), std::vector<std::string>{tmp / "site/new/deeper/page.css"});
}

TEST(FolderWatch, ASteadyStreamIsReportedWhileItLasts) {
  TempDir tmp;
  fs::create_directories(tmp / "site");
  Reports r;
  FolderWatch watch({tmp / "site"}, r.handler(), 40ms, 150ms);
  // A save every 10 ms never leaves the tree quiet for 40 ms: only the
  // longest wait brings a report before the saves stop.
  int saves = 0;
  for (; saves < 300 && r.bursts.empty(); ++saves) {
    writeFile(tmp / "site/log.txt", std::to_string(saves));
    serve([] { return false; }, 10ms);
  }
  EXPECT_FALSE(r.bursts.empty());
  EXPECT_LT(saves, 300);
}

TEST(FolderWatch, TheOutermostFoldersOnly) {
  TempDir tmp;
  fs::create_directories(tmp / "a/b");
  fs::create_directories(tmp / "ab");
  EXPECT_EQ(outermostFolders({tmp / "a/b", tmp / "ab", tmp / "a", tmp / "a/", tmp / "nothing", ""}),
            (std::vector<std::string>{tmp / "a", tmp / "ab"}));
  EXPECT_TRUE(FolderWatch::ignoredName("index.html.swp"));
  EXPECT_TRUE(FolderWatch::ignoredName(".#index.html"));
  EXPECT_FALSE(FolderWatch::ignoredName("index.html"));
}
