// Change watchers on real files: what inotify reports reaches the handler as
// the event kinds pages know, filtered by the watch flags.
#include "TestSupport.h"

#include "services/ChangeWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

using namespace corvane;
using namespace corvane::test;

namespace {

class Watchers : public testing::Test {
 protected:
  using Events = std::vector<std::pair<std::string, std::string>>;
  // Runs the main context until `flag` arrived for `path` (or 10 s pass).
  bool waitFor(const std::string& path, const std::string& flag) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& e : events)
        if (e.first == path && e.second == flag) return true;
      g_main_context_iteration(nullptr, FALSE);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void settle() {
    // inotify delivers promptly; a short quiet spell collects stragglers.
    for (int i = 0; i < 40; ++i) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  bool saw(const std::string& flag) const {
    for (const auto& e : events)
      if (e.second == flag) return true;
    return false;
  }
  ChangeWatcher::Handler recorder() {
    return [this](const std::string& p, const std::string& f) { events.emplace_back(p, f); };
  }
  TempDir tmp;
  Events events;
};

}  // namespace

TEST_F(Watchers, AFileReportsAttributesLinksShrinkingWritesAndRename) {
  const std::string file = tmp / "watched.txt";
  writeFile(file, "abc");
  ChangeWatcher w("cb", recorder());
  ASSERT_TRUE(w.addPath(file, ChangeWatcher::kAll));
  ::chmod(file.c_str(), 0600);
  EXPECT_TRUE(waitFor(file, "FileAttributesChanged"));
  EXPECT_FALSE(saw("LinkCountChanged"));

  events.clear();
  ASSERT_EQ(::link(file.c_str(), (tmp / "hard").c_str()), 0);
  EXPECT_TRUE(waitFor(file, "LinkCountChanged"));
  EXPECT_FALSE(saw("FileAttributesChanged"));

  events.clear();
  { std::ofstream(file, std::ios::trunc) << "x"; }  // a write that shrinks
  EXPECT_TRUE(waitFor(file, "FileWritten"));
  settle();
  EXPECT_FALSE(saw("FileSizeIncreased"));

  events.clear();
  ASSERT_EQ(::rename(file.c_str(), (tmp / "renamed.txt").c_str()), 0);
  EXPECT_TRUE(waitFor(file, "FileRenamed"));
}

TEST_F(Watchers, AFolderReportsEntriesAsWritesAndSubfoldersAsLinks) {
  const std::string dir = tmp / "dir";
  fs::create_directories(dir);
  ChangeWatcher w("cb", recorder());
  ASSERT_TRUE(w.addPath(dir, ChangeWatcher::kAll));
  writeFile(dir + "/new.txt", "x");
  EXPECT_TRUE(waitFor(dir, "FileWritten"));
  EXPECT_FALSE(saw("LinkCountChanged"));
  events.clear();
  fs::create_directory(dir + "/sub");
  EXPECT_TRUE(waitFor(dir, "LinkCountChanged"));
  events.clear();
  ::chmod(dir.c_str(), 0700);
  EXPECT_TRUE(waitFor(dir, "FileAttributesChanged"));
  events.clear();
  fs::rename(dir, tmp / "dir-moved");
  EXPECT_TRUE(waitFor(dir, "FileRenamed"));
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
    writeFile(from, text);
    ASSERT_EQ(::rename(from.c_str(), file.c_str()), 0);
  };
  for (int save = 0; save < 3; ++save) {
    SCOPED_TRACE(save);
    events.clear();
    renameOnto(tmp / ".doc.txt.tmp", std::string(10 + save * 10, 's'));
    EXPECT_TRUE(waitFor(file, "FileWritten"));
    EXPECT_TRUE(waitFor(file, "FileSizeIncreased"));
    settle();
    EXPECT_FALSE(saw("FileDeleted"));
    EXPECT_FALSE(saw("FileRenamed"));
  }
  events.clear();
  renameOnto(tmp / "elsewhere/doc.txt", "moved in");
  EXPECT_TRUE(waitFor(file, "FileWritten"));
  // After the saves, the file's own changes still arrive.
  events.clear();
  { std::ofstream(file, std::ios::app) << " and more"; }
  EXPECT_TRUE(waitFor(file, "FileWritten"));
  events.clear();
  ASSERT_EQ(::link(file.c_str(), (tmp / "hard").c_str()), 0);
  EXPECT_TRUE(waitFor(file, "LinkCountChanged"));
  // Deleted, then written afresh: the new file's first write is a change.
  events.clear();
  ASSERT_EQ(::unlink(file.c_str()), 0);
  EXPECT_TRUE(waitFor(file, "FileDeleted"));
  events.clear();
  writeFile(file, "afresh");
  EXPECT_TRUE(waitFor(file, "FileWritten"));
}
