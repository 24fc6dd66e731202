// Shared file routines: kinds, creation, removal (never through links),
// sizes and name pieces; failures worded for pages.
#include "TestSupport.h"

#include "app/ErrorText.h"
#include "app/Utils.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <system_error>

using namespace corvane;
using namespace corvane::test;

namespace {

class FileRoutines : public testing::Test {
 protected:
  TempDir tmp;
};

}  // namespace

TEST_F(FileRoutines, KindChecksFollowLinks) {
  writeFile(tmp / "f.txt", "abc");
  fs::create_directories(tmp / "d");
  fs::create_directory_symlink(tmp / "d", tmp / "dlink");
  fs::create_symlink(tmp / "missing", tmp / "dangling");

  EXPECT_TRUE(Utils::checkPathIsFile(tmp / "f.txt"));
  EXPECT_TRUE(Utils::checkPathIsDir(tmp / "dlink"));
  EXPECT_FALSE(Utils::checkPathIsFile(tmp / "dlink"));
  EXPECT_FALSE(Utils::checkPathisExists(tmp / "dangling"));
  EXPECT_FALSE(Utils::checkPathIsWritable(tmp / "f.txt")) << "writable is for folders only";
  EXPECT_TRUE(Utils::checkPathIsWritable(tmp / "d"));
  EXPECT_FALSE(Utils::checkPathIsDir(tmp / "nothing"));
  EXPECT_FALSE(Utils::checkPathisExists(""));
}

TEST_F(FileRoutines, RemovingALinkNeverTouchesItsTarget) {
  writeFile(tmp / "outside/keep.txt", "precious");
  writeFile(tmp / "outside/sub/deep.txt", "precious too");
  fs::create_directory_symlink(tmp / "outside", tmp / "linkToDir");
  fs::create_symlink(tmp / "outside/keep.txt", tmp / "linkToFile");

  EXPECT_TRUE(Utils::removeDir(tmp / "linkToDir"));
  EXPECT_TRUE(Utils::removeDir(tmp / "linkToFile"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tmp / "linkToDir")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(tmp / "linkToFile")));
  EXPECT_EQ(readFile(tmp / "outside/keep.txt"), "precious");
  EXPECT_EQ(readFile(tmp / "outside/sub/deep.txt"), "precious too");
}

TEST_F(FileRoutines, TreeWithLinksLosesOnlyTheLinks) {
  writeFile(tmp / "outside/keep.txt", "precious");
  writeFile(tmp / "tree/a.txt", "a");
  writeFile(tmp / "tree/.hidden/b.txt", "b");
  writeFile(tmp / "tree/.dotfile", "c");
  fs::create_directory_symlink(tmp / "outside", tmp / "tree/.hidden/escape");
  fs::create_symlink(tmp / "outside/keep.txt", tmp / "tree/filelink");
  fs::create_symlink(tmp / "nowhere", tmp / "tree/dangling");

  EXPECT_TRUE(Utils::removeDir(tmp / "tree"));
  EXPECT_FALSE(fs::exists(tmp / "tree"));
  EXPECT_EQ(readFile(tmp / "outside/keep.txt"), "precious");
}

TEST_F(FileRoutines, RemoveFileAndDirOnFilesAndMissingPaths) {
  writeFile(tmp / "f", "x");
  fs::create_directories(tmp / "d");
  EXPECT_FALSE(Utils::removeFile(tmp / "d")) << "removeFile leaves folders alone";
  EXPECT_TRUE(fs::exists(tmp / "d"));
  EXPECT_TRUE(Utils::removeDir(tmp / "f"));
  EXPECT_FALSE(fs::exists(tmp / "f"));
  EXPECT_TRUE(Utils::removeDir(tmp / "missing"));
  EXPECT_TRUE(Utils::removeFile(tmp / "missing"));
}

TEST_F(FileRoutines, CreateFolderAndEmptyFile) {
  EXPECT_TRUE(Utils::createDirWithPath(tmp / "a/b/c"));
  EXPECT_FALSE(Utils::createDirWithPath(tmp / "a/b/c")) << "already there answers NO";
  EXPECT_TRUE(Utils::createDirWithPathEx(tmp / "m", 0700u));
  EXPECT_EQ(fs::status(tmp / "m").permissions() & fs::perms::all, fs::perms::owner_all);

  EXPECT_TRUE(Utils::createEmptyFileWithPath(tmp / "x/y/empty.txt"));
  EXPECT_TRUE(Utils::fileIsZeroSize(tmp / "x/y/empty.txt"));
  writeFile(tmp / "x/y/full.txt", "data");
  EXPECT_TRUE(Utils::createEmptyFileWithPath(tmp / "x/y/full.txt"));
  EXPECT_EQ(readFile(tmp / "x/y/full.txt"), "data") << "an existing file is left unchanged";
  EXPECT_FALSE(Utils::createEmptyFileWithPath(tmp / "x")) << "a folder is in the way";
}

TEST_F(FileRoutines, SizesInByteAndDiskMode) {
  writeFile(tmp / "tree/a.bin", std::string(1000, 'a'));
  writeFile(tmp / "tree/.hidden/b.bin", std::string(5000, 'b'));
  fs::create_directories(tmp / "tree/empty");
  writeFile(tmp / "outside/big.bin", std::string(100000, 'c'));
  fs::create_directory_symlink(tmp / "outside", tmp / "tree/link");

  const uint64_t linkSize = fs::read_symlink(tmp / "tree/link").string().size();
  EXPECT_EQ(Utils::sizeAtPath(tmp / "tree", false), 6000 + linkSize)
      << "the walk measures a link, not its target";
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree"), 6000u);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree/empty"), 0u);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree/a.bin"), 1000u);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "none"), 0u);

  struct stat a{}, b{};
  ::stat((tmp / "tree/a.bin").c_str(), &a);
  ::stat((tmp / "tree/.hidden/b.bin").c_str(), &b);
  EXPECT_EQ(Utils::diskSizeAtPath(tmp / "tree"),
            static_cast<uint64_t>(a.st_blocks + b.st_blocks) * 512);
  EXPECT_EQ(Utils::diskSizeAtPath(tmp / "tree") % 512, 0u);
}

TEST_F(FileRoutines, FolderSizesMeasureLinksToFilesNotTheirTargets) {
  writeFile(tmp / "outside/big.bin", std::string(1000000, 'x'));
  writeFile(tmp / "dir/a.txt", std::string(100, 'a'));
  fs::create_symlink(tmp / "outside/big.bin", tmp / "dir/far");
  fs::create_symlink("a.txt", tmp / "dir/near");
  const uint64_t links = fs::read_symlink(tmp / "dir/far").string().size() +
                         fs::read_symlink(tmp / "dir/near").string().size();
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "dir"), 100 + links);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "dir/far"),
            fs::read_symlink(tmp / "dir/far").string().size());
  EXPECT_LT(Utils::diskSizeAtPath(tmp / "dir"), 100000u);
}

TEST_F(FileRoutines, CreationDateIsNotMovedByAChmod) {
  writeFile(tmp / "c.txt", "x");
  // Both file times far in the past, as an unpacked archive has them.
  const struct timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "c.txt").c_str(), old, 0), 0);
  const auto before = nlohmann::json::parse(Utils::getFilePropertyJSONString(tmp / "c.txt"));
  ::chmod((tmp / "c.txt").c_str(), 0600);
  const auto after = nlohmann::json::parse(Utils::getFilePropertyJSONString(tmp / "c.txt"));
  EXPECT_EQ(after["NSFileCreationDate"], before["NSFileCreationDate"]);
  EXPECT_EQ(after["NSFileModificationDate"], "2001-09-09 01:46:40 +0000");
  // Never later than the modification date where no birth time is kept.
  struct statx sx{};
  ::statx(AT_FDCWD, (tmp / "c.txt").c_str(), 0, STATX_BTIME, &sx);
  if (!(sx.stx_mask & STATX_BTIME)) {
    EXPECT_EQ(after["NSFileCreationDate"], "2001-09-09 01:46:40 +0000");
  }
}

TEST_F(FileRoutines, NamePieces) {
  EXPECT_EQ(Utils::getFileName("/a/b/report.final.pdf"), "report.final.pdf");
  EXPECT_EQ(Utils::getFileNameWithoutExt("/a/b/report.final.pdf"), "report.final");
  EXPECT_EQ(Utils::getFileExt("/a/b/report.final.pdf"), "pdf");
  EXPECT_EQ(Utils::getFileExt("/a/b/Makefile"), "");
  EXPECT_EQ(Utils::getFileExt("/a/.bashrc"), "");
  EXPECT_EQ(Utils::getFileName(""), "");
  EXPECT_EQ(Utils::getFileName("/a/dir/"), "dir");
  EXPECT_EQ(Utils::getPathParentPath("/a/b/c.txt"), "/a/b");
  EXPECT_EQ(Utils::getPathParentPath("/c.txt"), "/");
}

TEST_F(FileRoutines, NamePiecesOfRootsDotsAndLongTexts) {
  EXPECT_EQ(Utils::getFileName("/"), "/");
  EXPECT_EQ(Utils::getFileName("///"), "/");
  EXPECT_EQ(Utils::getFileName("a//b//"), "b");
  EXPECT_EQ(Utils::getFileName("/a/.."), "..");
  EXPECT_EQ(Utils::getFileName("plain"), "plain");
  EXPECT_EQ(Utils::getFileExt("/a/b."), "");
  EXPECT_EQ(Utils::getFileNameWithoutExt("/a/.bashrc"), ".bashrc");
  EXPECT_EQ(Utils::getPathParentPath("plain"), "");
  EXPECT_EQ(Utils::getPathParentPath("/a/b//"), "/a");
  // Texts are pieces of the text, U+0000 and all.
  const std::string nul("/a/x\0y.t\0t", 10);
  EXPECT_EQ(Utils::getFileName(nul), std::string("x\0y.t\0t", 7));
  EXPECT_EQ(Utils::getFileExt(nul), std::string("t\0t", 3));
  const std::string big = std::string(1 << 20, 'n') + ".json";
  EXPECT_EQ(Utils::getFileExt(big), "json");
  EXPECT_EQ(Utils::getFileName("/d/" + big), big);
}

TEST_F(FileRoutines, APathHoldingNulNamesNoFile) {
  // The C interfaces would read such a path up to U+0000 and reach the file
  // named by its prefix; every routine must see no file there instead.
  writeFile(tmp / "f.txt", "abc");
  fs::create_directories(tmp / "d");
  const std::string file = tmp / "f.txt";
  const std::string dir = tmp / "d";
  const std::string atFile = file + std::string("\0.png", 5);
  const std::string inDir = dir + std::string("\0/x", 3);
  for (const std::string& p : {atFile, inDir}) {
    SCOPED_TRACE(p);
    EXPECT_TRUE(Utils::namesNoFile(p));
    EXPECT_FALSE(Utils::checkPathisExists(p));
    EXPECT_FALSE(Utils::checkPathIsFile(p));
    EXPECT_FALSE(Utils::checkPathIsDir(p));
    EXPECT_FALSE(Utils::checkPathIsWritable(p));
    EXPECT_FALSE(Utils::checkPathIsReadable(p));
    EXPECT_FALSE(Utils::checkPathIsExecutable(p));
    EXPECT_FALSE(Utils::checkPathIsDeletable(p));
    EXPECT_TRUE(Utils::fileIsZeroSize(p));  // as for any path where nothing is
    EXPECT_EQ(Utils::fileSizeAtPath(p), 0u);
    EXPECT_EQ(Utils::diskSizeAtPath(p), 0u);
    EXPECT_EQ(Utils::getFilePropertyJSONString(p), "");
    EXPECT_FALSE(Utils::createDirWithPath(p));
    EXPECT_FALSE(Utils::createEmptyFileWithPath(p + "/new"));
    EXPECT_TRUE(Utils::removeFile(p));  // nothing is there afterwards either
    EXPECT_TRUE(Utils::removeDir(p));
  }
  EXPECT_FALSE(Utils::createEmptyFileWithPath(tmp.path() + std::string("/n\0ew", 6)));
  EXPECT_FALSE(Utils::createDirWithPath(tmp.path() + std::string("/m\0ade", 6)));
  // The prefixes are untouched and nothing new appeared.
  EXPECT_EQ(readFile(tmp / "f.txt"), "abc");
  EXPECT_TRUE(fs::is_directory(tmp / "d"));
  EXPECT_TRUE(fs::is_empty(tmp / "d"));
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(tmp.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
  EXPECT_FALSE(Utils::namesNoFile(file));
  EXPECT_TRUE(Utils::namesNoFile(""));
}

TEST_F(FileRoutines, TempPathsAndProperties) {
  EnvGuard env;
  env.set("TMPDIR", tmp.path());
  Utils u(Bundle(tmp.path(), nlohmann::json::object()));
  const std::string a = u.getATempFilePath("x.txt");
  const std::string b = u.getATempFilePath("x.txt");
  EXPECT_EQ(a.rfind(tmp.path() + "/", 0), 0u);
  EXPECT_TRUE(a.size() > 6 && a.substr(a.size() - 6) == "_x.txt");
  EXPECT_NE(a, b);

  writeFile(tmp / "p.txt", "12345");
  auto props = nlohmann::json::parse(Utils::getFilePropertyJSONString(tmp / "p.txt"));
  EXPECT_EQ(props["NSFileSize"], 5);
  EXPECT_EQ(props["NSFileType"], "NSFileTypeRegular");
  EXPECT_EQ(Utils::getFilePropertyJSONString(tmp / "none"), "");
  EXPECT_EQ(u.getFileOrDirIconPath(tmp / "none"), "");
}

// What pages read when something fails: the cause in words, never the
// internal names of the C++ library ("basic_filebuf::underflow ...").
TEST_F(FileRoutines, FailureTextsNameTheCauseNotTheLibrary) {
  fs::create_directories(tmp / "folder");
  auto textOf = [](const std::function<void()>& fault) {
    try {
      fault();
    } catch (const std::exception& e) {
      return pageErrorText(e);
    }
    return std::string("no exception");
  };
  const std::string missing = tmp / "missing";
  const struct {
    std::function<void()> fault;
    std::string text;
  } cases[] = {
      {[&] {
         std::ifstream in(tmp / "folder");
         std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
       },
       "a file could not be read or written"},
      {[&] { if (fs::file_size(missing) > 0) throw std::logic_error("unexpected"); }, missing + ": no such file or folder"},
      {[] { throw std::system_error(EROFS, std::generic_category(), "cannot open /x"); },
       "cannot open /x: the disk is read-only"},
      {[] { (void)nlohmann::json("text").get<int>(); }, "a value is of the wrong kind (type must be number, but is string)"},
      {[] { if (nlohmann::json::parse("{").is_null()) throw std::logic_error("unexpected"); }, ""},
      {[] { (void)std::stoul("zz"); }, "a value could not be handled"},
      {[] { (void)std::vector<int>().at(3); }, "a value could not be handled"},
      {[] { throw std::bad_alloc(); }, "there is not enough memory"},
      {[] { throw std::runtime_error("the value holds null"); }, "the value holds null"},
  };
  for (const auto& c : cases) {
    const std::string text = textOf(c.fault);
    if (c.text.empty()) {
      EXPECT_EQ(text.rfind("the text is not valid JSON (", 0), 0u) << text;
    } else {
      EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(text.find("basic_"), std::string::npos) << text;
    EXPECT_EQ(text.find("json.exception"), std::string::npos) << text;
  }
  EXPECT_EQ(reasonForErrno(ENOSPC), "there is not enough space on the disk");
  EXPECT_EQ(reasonForErrno(ENAMETOOLONG), "the name is too long");
  EXPECT_EQ(failureText("cannot save", "/a/b", EROFS), "cannot save /a/b: the disk is read-only");
}
