// A page's change watchers and the development mode's folder watch on real
// files.
#include "TestSupport.h"

#include "app/FolderWatch.h"
#include "services/ChangeWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

class Watchers : public testing::Test {
 protected:
  using Flags = std::vector<std::string>;
  // Makes `change`, then serves the main loop until every flag of `arrive`
  // came for `path`; a short quiet spell after it brings none of `absent`.
  void step(const std::string& what, const std::function<void()>& change, const std::string& path,
            const Flags& arrive, const Flags& absent = {}) {
    events.clear();
    change();
    for (const auto& flag : arrive) {
      serve([&] { return seen(path, flag); }, 10s);
      EXPECT_TRUE(seen(path, flag)) << what << ": no " << flag;
    }
    if (absent.empty()) return;
    serve([] { return false; }, 200ms);
    for (const auto& flag : absent) EXPECT_FALSE(seen(path, flag)) << what << ": " << flag;
  }
  bool seen(const std::string& path, const std::string& flag) const {
    return std::find(events.begin(), events.end(), std::make_pair(path, flag)) != events.end();
  }
  ChangeWatcher::Handler recorder() {
    return [this](const std::string& p, const std::string& f) { events.emplace_back(p, f); };
  }
  TempDir tmp;
  std::vector<std::pair<std::string, std::string>> events;
};

}  // namespace

TEST_F(Watchers, FilesAndFoldersReportEachKindOfChange) {
  const std::string file = tmp / "watched.txt", dir = tmp / "dir";
  writeFile(file, "abc");
  fs::create_directories(dir);
  ChangeWatcher w("cb", recorder());
  ASSERT_TRUE(w.addPath(file, ChangeWatcher::kAll) && w.addPath(dir, ChangeWatcher::kAll));
  step("chmod", [&] { ::chmod(file.c_str(), 0600); }, file, {"FileAttributesChanged"}, {"LinkCountChanged"});
  step("link", [&] { ::link(file.c_str(), (tmp / "hard").c_str()); }, file, {"LinkCountChanged"},
       {"FileAttributesChanged"});
  step("shrinking write", [&] { std::ofstream(file, std::ios::trunc) << "x"; }, file, {"FileWritten"},
       {"FileSizeIncreased"});
  step("rename", [&] { ::rename(file.c_str(), (tmp / "renamed.txt").c_str()); }, file, {"FileRenamed"});
  // A folder's entries are writes, its subfolders links.
  step("new entry", [&] { writeFile(dir + "/new.txt", "x"); }, dir, {"FileWritten"}, {"LinkCountChanged"});
  step("subfolder", [&] { fs::create_directory(dir + "/sub"); }, dir, {"LinkCountChanged"});
  step("folder chmod", [&] { ::chmod(dir.c_str(), 0700); }, dir, {"FileAttributesChanged"});
  step("folder rename", [&] { fs::rename(dir, tmp / "dir-moved"); }, dir, {"FileRenamed"});
}

// Editors save by writing a new file and renaming it onto the old name, or
// by moving a finished file in from elsewhere. The watcher reports each save
// as a change, and keeps following the path for the saves after it.
TEST_F(Watchers, AtomicSavesAreChangesAndTheWatchFollowsThePath) {
  const std::string file = tmp / "doc.txt";
  writeFile(file, "one");
  fs::create_directories(tmp / "elsewhere");
  ChangeWatcher w("cb", recorder());
  ASSERT_TRUE(w.addPath(file, ChangeWatcher::kAll));
  auto renameOnto = [&](const std::string& from, const std::string& text) {
    return [&, from, text] {
      writeFile(from, text);
      ASSERT_EQ(::rename(from.c_str(), file.c_str()), 0);
    };
  };
  for (int save = 0; save < 3; ++save)
    step("save " + std::to_string(save), renameOnto(tmp / ".doc.txt.tmp", std::string(10 + save * 10, 's')), file,
         {"FileWritten", "FileSizeIncreased"}, {"FileDeleted", "FileRenamed"});
  step("moved in", renameOnto(tmp / "elsewhere/doc.txt", "moved in"), file, {"FileWritten"});
  // After the saves, the file's own changes still arrive.
  step("append", [&] { std::ofstream(file, std::ios::app) << " and more"; }, file, {"FileWritten"});
  step("link", [&] { ::link(file.c_str(), (tmp / "hard").c_str()); }, file, {"LinkCountChanged"});
  // Deleted, then written afresh: the new file's first write is a change.
  step("delete", [&] { ::unlink(file.c_str()); }, file, {"FileDeleted"});
  step("afresh", [&] { writeFile(file, "afresh"); }, file, {"FileWritten"});
}

namespace {

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
  serve([] { return false; }, 200ms);
  ASSERT_EQ(r.bursts, (std::vector<std::vector<std::string>>{{tmp / "site/index.html", tmp / "site/js/app.js"}}));

  // A folder made later is watched with what comes into it.
  fs::create_directories(tmp / "site/new/deeper");
  serve([&] { return r.bursts.size() == 2; }, 3000ms);
  writeFile(tmp / "site/new/deeper/page.css", "x");
  serve([&] { return r.bursts.size() == 3 && r.bursts.back() == std::vector<std::string>{tmp / "site/new/deeper/page.css"}; },
        3000ms);
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
