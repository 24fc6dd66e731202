// The platform-free halves of the Window object: the format box of the
// dialogs, file records, and the link-safe copy and move, with the
// copy-then-remove path a move takes across file systems.
#include "TestSupport.h"
#include "support/ScratchMount.h"

#include "services/FileOperations.h"
#include "services/FileRecord.h"
#include "services/FormatBox.h"

#include <sys/stat.h>

#include <cerrno>

namespace corvane {
namespace {

using nlohmann::json;
using test::TempDir;
using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

TEST(FormatBox, SaveAddsAllFilesUnlessAWildcardIsThere) {
  FormatBox box = saveFormatBox({"gif"}, std::nullopt);
  EXPECT_EQ(box.descriptions, (std::vector<std::string>{"gif file(.gif)", "All Files(.*)"}));
  // "All Files" has no extension at its position: no constraint.
  EXPECT_EQ(entryExtension(box, 1), std::nullopt);
  EXPECT_EQ(saveFormatBox({"*"}, std::nullopt).descriptions, (std::vector<std::string>{"* file(.*)"}));
  json d = json::parse(R"([{"name": "Any", "extensions": ["*"]}])");
  FormatBox noted = saveFormatBox({"txt"}, d);
  EXPECT_EQ(noted.descriptions, (std::vector<std::string>{"Any (.*)"}));
  EXPECT_EQ(noted.extensions, (std::vector<std::string>{"txt"}));  // not added for save
}

TEST(FormatBox, TheOpenChooserStartsOnEveryTypeTheSaveChooserOnItsFirst) {
  using E = FormatEntry;
  EXPECT_EQ(chooserEntries(openFormatBox({"png", "jpg"}, std::nullopt)),
            (std::vector<E>{{"All Types (.png,.jpg)", {"png", "jpg"}},
                            {"PNG File (.png)", {"png"}},
                            {"JPG File (.jpg)", {"jpg"}}}));
  // A description naming several types still stands for its one extension,
  // so the whole list comes first.
  json d = json::parse(R"([{"name": "Images", "extensions": ["png", "jpg"]}])");
  EXPECT_EQ(chooserEntries(openFormatBox({"png"}, d)).front(), (E{"All Types (.png,.jpg)", {"png", "jpg"}}));
  // Nothing to add where the first entry already shows the whole list.
  EXPECT_EQ(chooserEntries(openFormatBox({"png"}, std::nullopt)), (std::vector<E>{{"PNG File (.png)", {"png"}}}));
  EXPECT_EQ(chooserEntries(openFormatBox({"PNG", "png"}, std::nullopt)).size(), 2u);
  EXPECT_EQ(chooserEntries(openFormatBox({"*", "png"}, std::nullopt)).size(), 2u);
  EXPECT_EQ(chooserEntries(openFormatBox({"png", "*"}, std::nullopt)).front(), (E{"All Types (.png,.*)", {}}));
  EXPECT_EQ(chooserEntries(saveFormatBox({"gif", "png"}, std::nullopt)),
            (std::vector<E>{{"gif file(.gif)", {"gif"}}, {"png file(.png)", {"png"}}, {"All Files(.*)", {}}}));
}

TEST(FormatBox, TypeKeysAndTheirWinners) {
  EXPECT_EQ(allowedTypes(json{{"types", "png"}}), (std::vector<std::string>{"png"}));
  EXPECT_EQ(allowedTypes(json{{"types", {"a"}}, {"fileTypes", {"b", "c"}}}), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(typeDescriptions(json{{"typesDescript", {"x"}}, {"fileTypesDescription", {"y"}}}), json{"y"});
  EXPECT_EQ(typeDescriptions(json{{"typesDescript", "not an array"}}), std::nullopt);
  for (const char* w : {"*", ".*", "*.*"}) EXPECT_TRUE(isAnyType(w)) << w;
  EXPECT_FALSE(isAnyType("png"));
}

TEST(FileRecord, FileAndFolderRecordsAndPathsHoldingNul) {
  TempDir t;
  writeFile(t.path() + "/dir/a.tar.gz", std::string(1500, 'x'));
  // The members of a record that `keys` names (null for a missing one).
  auto pick = [](const json& record, const std::vector<const char*>& keys) {
    json out;
    for (const char* key : keys) out[key] = record.value(key, json());
    return out;
  };
  EXPECT_EQ(pick(fileRecord(t.path() + "/dir/a.tar.gz"), {"parentDir", "fileName", "fileNameWithoutExtension",
                                                          "extension", "fileSize", "fileSizeStr", "isFile"}),
            (json{{"parentDir", t.path() + "/dir"}, {"fileName", "a.tar.gz"}, {"fileNameWithoutExtension", "a.tar"},
                  {"extension", "gz"}, {"fileSize", 1500}, {"fileSizeStr", "1.5KB"}, {"isFile", true}}));
  EXPECT_EQ(pick(fileRecord(t.path() + "/dir", {false, false}),
                 {"parentDir", "isDir", "fileSize", "fileSizeStr", "fileUrl"}),
            (json{{"parentDir", nullptr}, {"isDir", true}, {"fileSize", 0}, {"fileSizeStr", "0.1KB"},
                  {"fileUrl", "file://" + t.path() + "/dir/"}}));
  EXPECT_EQ(fileRecord(t.path() + "/dir", {true, true})["fileSize"], 1500);
  // The prefix before U+0000 is a file; the whole path names none.
  EXPECT_EQ(pick(fileRecord(t.path() + "/dir/a.tar.gz" + std::string(1, '\0') + ".png"),
                 {"isReadable", "isWritable", "isExecutable", "isDeletable", "isFile", "fileSize"}),
            (json{{"isReadable", false}, {"isWritable", false}, {"isExecutable", false}, {"isDeletable", false},
                  {"isFile", false}, {"fileSize", 0}}));
  EXPECT_EQ(pathFromPathOrFileUrl("file:///a%20b/c"), "/a b/c");
  EXPECT_EQ(pathFromPathOrFileUrl("/plain/path"), "/plain/path");
  EXPECT_EQ(pathFromPathOrFileUrl("https://example.com/x"), "");
}

class FileOps : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(t.path() + "/src/a.txt", "a");
    writeFile(t.path() + "/src/sub/b.txt", "bb");
    writeFile(t.path() + "/outside/keep.txt", "keep");
    fs::create_directory_symlink(t.path() + "/outside", t.path() + "/src/out");
    fs::create_symlink("a.txt", t.path() + "/src/a-link");
    ::chmod((t.path() + "/src/a.txt").c_str(), 0640);
  }
  TempDir t;
};

TEST_F(FileOps, CopyKeepsLinksAsLinksAndRefusesAnExistingDestination) {
  ASSERT_TRUE(fileops::copyItem(t.path() + "/src", t.path() + "/dst"));
  EXPECT_EQ(readFile(t.path() + "/dst/sub/b.txt"), "bb");
  ASSERT_TRUE(fs::is_symlink(t.path() + "/dst/out"));
  EXPECT_EQ(fs::read_symlink(t.path() + "/dst/out"), t.path() + "/outside");
  EXPECT_FALSE(fs::exists(t.path() + "/dst/out/keep.txt") && !fs::is_symlink(t.path() + "/dst/out"));
  EXPECT_EQ(fs::status(t.path() + "/dst/a.txt").permissions() & fs::perms::mask, static_cast<fs::perms>(0640));
  fileops::Failure error;
  EXPECT_FALSE(fileops::copyItem(t.path() + "/src", t.path() + "/dst", &error));
  EXPECT_EQ(std::make_pair(error.code, error.text),
            std::make_pair(EEXIST, "cannot copy " + t.path() + "/src to " + t.path() + "/dst: it already exists"));
  EXPECT_EQ(readFile(t.path() + "/dst/a.txt"), "a");  // the existing copy is untouched
}

// A named pipe cannot be copied, for root too: the copy fails in the middle
// of the tree and leaves nothing; a move by copying keeps its source.
TEST_F(FileOps, ACopyFailingMidwayLeavesNothingAndAMoveKeepsTheSource) {
  ASSERT_EQ(::mkfifo((t.path() + "/src/sub/pipe").c_str(), 0644), 0);
  EXPECT_FALSE(fileops::copyItem(t.path() + "/src", t.path() + "/dst"));
  EXPECT_FALSE(fs::exists(t.path() + "/dst"));
  EXPECT_FALSE(fileops::moveItem(t.path() + "/src", t.path() + "/moved", nullptr, true));
  EXPECT_EQ(readFile(t.path() + "/src/a.txt"), "a");
  EXPECT_EQ(readFile(t.path() + "/src/sub/b.txt"), "bb");
  EXPECT_FALSE(fs::exists(t.path() + "/moved"));
}

TEST_F(FileOps, APathHoldingNulNamesNoFileForCopyMoveAndFind) {
  // GIO would act on the prefix before U+0000: on the existing source,
  // or on a destination next to it.
  const std::string nul(1, '\0');
  fileops::Failure error;
  EXPECT_FALSE(fileops::copyItem(t.path() + "/src", t.path() + "/dst" + nul + ".bak", &error));
  EXPECT_EQ(error.code, ENOENT) << error.text;
  EXPECT_FALSE(fs::exists(t.path() + "/dst"));
  EXPECT_FALSE(fileops::copyItem(t.path() + "/src" + nul + "/x", t.path() + "/dst"));
  EXPECT_FALSE(fileops::moveItem(t.path() + "/src", t.path() + "/moved" + nul + "x"));
  EXPECT_FALSE(fileops::moveItem(t.path() + "/src" + nul + "x", t.path() + "/moved", nullptr, true));
  EXPECT_FALSE(fs::exists(t.path() + "/moved"));
  EXPECT_EQ(readFile(t.path() + "/src/a.txt"), "a");
  EXPECT_TRUE(fileops::findFiles(t.path() + nul + "/src", "a").empty());
}

// Copies and moves onto a full disk, into a read-only one, into a folder
// that is not there and under a name too long: a failure that says why, and
// nothing left at the destination.
TEST_F(FileOps, FailedCopiesAndMovesSayWhyAndLeaveNothing) {
  test::ScratchMount disk(64 * 1024);
  if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
  test::ScratchMount readOnly(64 * 1024);
  fs::create_directories(readOnly / "in");
  writeFile(readOnly / "in/kept.txt", "kept");
  ASSERT_TRUE(readOnly.setReadOnly(true));
  writeFile(t.path() + "/big.bin", std::string(100 * 1024, 'b'));
  const std::string longName(300, 'n');
  // Each row is a copy, and a move too where `alsoMove`.
  struct Case {
    const char* name;
    bool alsoMove;
    std::string src, dest;
    int code;
    std::string reason;
  };
  const std::string noFolder = "the folder " + t.path() + "/no/such does not exist";
  const Case cases[] = {
      {"full", true, t.path() + "/big.bin", disk / "big.bin", ENOSPC, "there is not enough space on the disk"},
      {"tree-full", false, t.path() + "/src", disk / "tree", 0, ""},
      {"into-read-only", false, t.path() + "/src/a.txt", readOnly / "in/a.txt", EROFS, "the disk is read-only"},
      {"missing-folder", true, t.path() + "/src/a.txt", t.path() + "/no/such/a.txt", ENOENT, noFolder},
      {"long-name", true, t.path() + "/src/a.txt", t.path() + "/" + longName, ENAMETOOLONG, "the name is too long"},
  };
  auto check = [&](const Case& c, bool move) {
    SCOPED_TRACE(std::string(move ? "move " : "copy ") + c.name);
    disk.fill(8192);  // the tree's small files fit, its bigger ones do not
    writeFile(t.path() + "/src/sub/c.bin", std::string(20 * 1024, 'c'));
    const std::string before = fs::is_regular_file(c.src) ? readFile(c.src) : "";
    fileops::Failure why;
    EXPECT_FALSE(move ? fileops::moveItem(c.src, c.dest, &why) : fileops::copyItem(c.src, c.dest, &why));
    if (c.code) {
      const std::string verb = move ? "cannot move " : "cannot copy ";
      EXPECT_EQ(std::make_pair(why.code, why.text),
                std::make_pair(c.code, verb + c.src + " to " + c.dest + ": " + c.reason));
    } else {
      EXPECT_FALSE(why.text.empty());
    }
    struct stat st{};
    EXPECT_NE(::lstat(c.dest.c_str(), &st), 0) << "the destination stayed";
    if (fs::is_regular_file(c.src)) {
      EXPECT_EQ(readFile(c.src), before) << "the source changed";
    } else {
      EXPECT_TRUE(fs::exists(c.src));
    }
    fs::remove(disk / ".filler");
  };
  for (const Case& c : cases) {
    check(c, false);
    if (c.alsoMove) check(c, true);
  }
  check({"out-of-read-only", false, readOnly / "in/kept.txt", t.path() + "/kept.txt", EROFS, "the disk is read-only"},
        true);
  // Nothing of the failed moves is left on the full disk.
  EXPECT_TRUE(fs::is_empty(disk.path()));
}

}  // namespace
}  // namespace corvane
