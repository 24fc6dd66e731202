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
using nlohmann::json;

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

// Sizes measure a link itself, never what it points to.
TEST_F(FileRoutines, SizesInByteAndDiskModeMeasureLinksNotTheirTargets) {
  writeFile(tmp / "tree/a.bin", std::string(1000, 'a'));
  writeFile(tmp / "tree/.hidden/b.bin", std::string(5000, 'b'));
  fs::create_directories(tmp / "tree/empty");
  writeFile(tmp / "outside/big.bin", std::string(1000000, 'c'));
  fs::create_directory_symlink(tmp / "outside", tmp / "tree/link");
  fs::create_symlink(tmp / "outside/big.bin", tmp / "tree/far");
  fs::create_symlink("a.bin", tmp / "tree/near");
  auto linkSize = [&](const char* name) { return fs::read_symlink(tmp / (std::string("tree/") + name)).string().size(); };
  const uint64_t links = linkSize("link") + linkSize("far") + linkSize("near");

  EXPECT_EQ(Utils::sizeAtPath(tmp / "tree", false), 6000 + links);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree"), 6000 + linkSize("far") + linkSize("near"));
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree/far"), linkSize("far"));
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "tree/empty"), 0u);
  EXPECT_EQ(Utils::fileSizeAtPath(tmp / "none"), 0u);

  struct stat a{}, b{};
  ::stat((tmp / "tree/a.bin").c_str(), &a);
  ::stat((tmp / "tree/.hidden/b.bin").c_str(), &b);
  EXPECT_EQ(Utils::diskSizeAtPath(tmp / "tree"), static_cast<uint64_t>(a.st_blocks + b.st_blocks) * 512);
}

TEST_F(FileRoutines, CreationDateIsNotMovedByAChmod) {
  writeFile(tmp / "c.txt", "x");
  // Both file times far in the past, as an unpacked archive has them.
  const struct timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "c.txt").c_str(), old, 0), 0);
  const auto before = json::parse(Utils::getFilePropertyJSONString(tmp / "c.txt"));
  ::chmod((tmp / "c.txt").c_str(), 0600);
  const auto after = json::parse(Utils::getFilePropertyJSONString(tmp / "c.txt"));
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
  struct Case {
    std::string path, name, withoutExt, ext, parent;
  };
  const Case cases[] = {
      {"/a/b/report.final.pdf", "report.final.pdf", "report.final", "pdf", "/a/b"},
      {"/a/b/Makefile", "Makefile", "Makefile", "", "/a/b"},
      {"/a/.bashrc", ".bashrc", ".bashrc", "", "/a"},
      {"/a/b.", "b.", "b.", "", "/a"},
      {"/c.txt", "c.txt", "c", "txt", "/"},
      {"/a/dir/", "dir", "dir", "", "/a"},
      {"/a/b//", "b", "b", "", "/a"},
      {"/a/..", "..", "..", "", "/a"},
      {"/", "/", "/", "", "/"},
      {"///", "/", "/", "", "/"},
      {"plain", "plain", "plain", "", ""},
      {"", "", "", "", ""},
      // Texts are pieces of the whole text, U+0000 and all.
      {std::string("/a/x\0y.t\0t", 10), std::string("x\0y.t\0t", 7), std::string("x\0y", 3), std::string("t\0t", 3),
       "/a"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::make_tuple(Utils::getFileName(c.path), Utils::getFileNameWithoutExt(c.path),
                              Utils::getFileExt(c.path), Utils::getPathParentPath(c.path)),
              std::make_tuple(c.name, c.withoutExt, c.ext, c.parent))
        << testing::PrintToString(c.path);
  }
  const std::string big = std::string(1 << 20, 'n') + ".json";
  EXPECT_EQ(Utils::getFileExt(big), "json");
  EXPECT_EQ(Utils::getFileName("/d/" + big), big);
}

TEST_F(FileRoutines, APathHoldingNulCreatesAndRemovesNothing) {
  // The C interfaces would read such a path up to U+0000 and act on the
  // file or folder its prefix names.
  writeFile(tmp / "f.txt", "abc");
  fs::create_directories(tmp / "d");
  for (const std::string& p : {tmp / "f.txt" + std::string("\0.png", 5), tmp / "d" + std::string("\0/x", 3)}) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(Utils::createDirWithPath(p));
    EXPECT_FALSE(Utils::createEmptyFileWithPath(p + "/new"));
    EXPECT_TRUE(Utils::removeFile(p));  // nothing is there afterwards either
    EXPECT_TRUE(Utils::removeDir(p));
  }
  EXPECT_FALSE(Utils::createEmptyFileWithPath(tmp.path() + std::string("/n\0ew", 6)));
  EXPECT_FALSE(Utils::createDirWithPath(tmp.path() + std::string("/m\0ade", 6)));
  EXPECT_EQ(readFile(tmp / "f.txt"), "abc");
  EXPECT_TRUE(fs::is_empty(tmp / "d"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 2);
}

TEST_F(FileRoutines, TempPathsAreNewEachTimeAndPropertiesNameTheKind) {
  Utils u(Bundle(tmp.path(), json::object()));
  EXPECT_NE(u.getATempFilePath("x.txt"), u.getATempFilePath("x.txt"));
  writeFile(tmp / "p.txt", "12345");
  const auto props = json::parse(Utils::getFilePropertyJSONString(tmp / "p.txt"));
  EXPECT_EQ(json({props["NSFileSize"], props["NSFileType"]}), json({5, "NSFileTypeRegular"}));
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
      {[] { (void)json("text").get<int>(); }, "a value is of the wrong kind (type must be number, but is string)"},
      {[] { if (json::parse("{").is_null()) throw std::logic_error("unexpected"); }, ""},
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
