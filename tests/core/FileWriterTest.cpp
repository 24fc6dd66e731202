// The file writer: bytes from arrays, probes, what a replacement keeps,
// faults on real disks; text encodings; every image type checked by
// independent tools.
#include "TestSupport.h"
#include "support/ScratchMount.h"

#include "services/FileWriter.h"
#include "services/ImageFiles.h"
#include "services/TextEncodings.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <tuple>

using namespace corvane;
using namespace corvane::test;
using nlohmann::json;

namespace {

class Writer : public testing::Test {
 protected:
  TempDir tmp;
};

using Kind = filewriter::WriteResult::Kind;

filewriter::WriteResult write(const std::string& path, const std::string& bytes, bool append,
                              std::optional<uint64_t> cutTo = std::nullopt) {
  return filewriter::write(path, [&] { return bytes; }, append, cutTo);
}

// Names in a folder, hidden ones included (temporary files must not stay).
std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST_F(Writer, ByteArraysTakeEachValueModulo256) {
  EXPECT_EQ(filewriter::bytesFromArray({0, 255, 256, -1}), std::string("\x00\xff\x00\xff", 4));
  EXPECT_EQ(filewriter::bytesFromArray({"65", " 66", "x", true, 67.9, -257}), std::string("AB\0\x01" "C\xff", 6));
  EXPECT_EQ(filewriter::bytesFromArray(json::array()), "");
  EXPECT_THROW(filewriter::bytesFromArray("abc"), std::invalid_argument);
  EXPECT_THROW(filewriter::bytesFromArray({1, nullptr}), std::invalid_argument);
  EXPECT_THROW(filewriter::bytesFromArray({1, {{"a", 1}}}), std::invalid_argument);
}

// Probes, empty writes and paths holding U+0000 (the system would cut such
// a path at the NUL and write over the file its prefix names): nothing is
// created and nothing changes.
TEST_F(Writer, ProbesEmptyWritesAndNulPathsCreateAndChangeNothing) {
  const std::string file = tmp / "doc.txt", nul = file + std::string(1, '\0') + ".bak";
  writeFile(file, "keep");
  EXPECT_EQ(write(nul, "lost", false).kind, Kind::CannotOpen);
  EXPECT_EQ(write(nul, "lost", true).kind, Kind::CannotOpen);
  EXPECT_EQ(filewriter::truncateFile(nul, 0), 0u);
  for (const std::string& bad : {nul, tmp / "no/such/folder/x", std::string()}) {
    EXPECT_NE(filewriter::probe(bad), "") << bad;
    EXPECT_NE(filewriter::probeReplace(bad), "") << bad;
  }
  EXPECT_EQ(filewriter::probe(file), "");
  EXPECT_EQ(filewriter::probeReplace(tmp / "not-yet.bin"), "");
  EXPECT_EQ(write(tmp / "none/x", "x", true).kind, Kind::CannotOpen);
  EXPECT_EQ(write(file, "", false).kind, Kind::NothingWritten);
  EXPECT_EQ(write(tmp / "fresh.bin", "", false).kind, Kind::NothingWritten);
  EXPECT_EQ(filewriter::truncateFile(tmp / "absent", 10), 0u);
  EXPECT_EQ(filewriter::truncateFile(file + "/below", 10), 0u);
  EXPECT_EQ(readFile(file), "keep");
  EXPECT_EQ(namesIn(tmp.path()), std::vector<std::string>{"doc.txt"});
}

// A replacement keeps permission bits and owner, a link as a link (the file
// it points to gets the content, beside itself), a device as the device; a
// new file gets 0600.
TEST_F(Writer, AReplacementKeepsModeOwnerLinksAndDevices) {
  const mode_t mask = ::umask(022);
  auto stated = [](const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st;
  };
  const std::string file = tmp / "doc.txt";
  writeFile(file, "old");
  ::chmod(file.c_str(), 0640);
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown(file.c_str(), 1234, 5678) == 0);
  ASSERT_EQ(write(file, "new text", false).kind, Kind::Written);
  const struct stat st = stated(file);
  EXPECT_EQ(std::make_tuple(readFile(file), st.st_mode & 07777, st.st_uid, st.st_gid),
            std::make_tuple(std::string("new text"), 0640u, root ? 1234u : ::getuid(), root ? 5678u : ::getgid()));

  writeFile(tmp / "real/target.txt", "old");
  fs::create_directories(tmp / "links");
  fs::create_symlink("../real/target.txt", tmp / "links/doc-link");
  fs::create_symlink("../real/later.txt", tmp / "links/later-link");  // a link to nothing yet
  ASSERT_EQ(write(tmp / "links/doc-link", "through the link", false).kind, Kind::Written);
  ASSERT_EQ(write(tmp / "links/later-link", "later", false).kind, Kind::Written);
  for (const char* link : {"doc-link", "later-link"}) EXPECT_TRUE(fs::is_symlink(tmp / "links/" + link)) << link;
  EXPECT_EQ(readFile(tmp / "real/target.txt") + "|" + readFile(tmp / "real/later.txt"), "through the link|later");
  EXPECT_EQ(namesIn(tmp / "real"), (std::vector<std::string>{"later.txt", "target.txt"}));
  EXPECT_EQ(namesIn(tmp / "links"), (std::vector<std::string>{"doc-link", "later-link"}));

  ASSERT_EQ(write(tmp / "fresh.txt", "x", false).kind, Kind::Written);
  EXPECT_EQ(stated(tmp / "fresh.txt").st_mode & 0777, 0600u);
  ASSERT_EQ(write("/dev/null", "into nothing", false).kind, Kind::Written);
  EXPECT_TRUE(S_ISCHR(stated("/dev/null").st_mode));
  ::umask(mask);
}

// Another user's file in a folder this user may write: a replacement would
// take it over, so the content goes into the file itself.
TEST_F(Writer, AFileOfAnotherOwnerKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  const std::string folder = tmp / "shared";
  fs::create_directories(folder);
  ::chmod(tmp.path().c_str(), 0755);
  ::chmod(folder.c_str(), 0777);
  const std::string file = folder + "/owned-by-root.txt";
  writeFile(file, "old content");
  ::chmod(file.c_str(), 0666);
  const pid_t child = fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
    _exit(write(file, "new", false).kind == Kind::Written ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0) << "the child's write failed";
  struct stat st{};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(std::make_pair(st.st_uid, readFile(file)), std::make_pair(0u, std::string("new")));
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"owned-by-root.txt"});
}

// Real faults on a 64 KiB tmpfs (full, nearly full, read-only) and a folder
// as the target: the old content is whole, no temporary or empty file stays.
TEST_F(Writer, FullReadOnlyAndFolderTargetsFailAndLoseNothing) {
  ScratchMount disk(64 * 1024);
  if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
  const std::string old(800, 'o');
  const std::string big(15000, 'n');
  struct Case {
    const char* name;
    bool append;
    std::optional<uint64_t> cutTo;
    bool existing;     // an 800-byte file is there first
    size_t freeBytes;  // left free by the filler (kNoFill: no filler)
    bool readOnly;
    Kind kind;
    const char* reason;
    bool someBytesAppended;
  };
  constexpr size_t kNoFill = SIZE_MAX;
  const Case cases[] = {
      {"replace-full", false, std::nullopt, true, 0, false, Kind::Failed, "not enough space", false},
      {"replace-new-full", false, std::nullopt, false, 0, false, Kind::Failed, "not enough space", false},
      {"base64-style-full", false, std::nullopt, true, 4096, false, Kind::Failed, "not enough space", false},
      {"append-short", true, 800, true, 4096, false, Kind::Failed, "not enough space", true},
      {"append-new-full", true, 0, false, 0, false, Kind::Failed, "not enough space", false},
      {"replace-read-only", false, std::nullopt, true, kNoFill, true, Kind::CannotOpen, "Read-only", false},
      {"append-read-only", true, 0, true, kNoFill, true, Kind::CannotOpen, "Read-only", false},
      {"new-read-only", false, std::nullopt, false, kNoFill, true, Kind::CannotOpen, "Read-only", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = disk / c.name;
    fs::create_directories(folder);
    const std::string file = folder + "/doc.txt";
    if (c.existing) writeFile(file, old);
    if (c.freeBytes != kNoFill) disk.fill(c.freeBytes);
    ASSERT_TRUE(!c.readOnly || disk.setReadOnly(true));
    const auto out = write(file, big, c.append, c.cutTo);
    EXPECT_EQ(out.kind, c.kind);
    EXPECT_NE(out.reason.find(c.reason), std::string::npos) << out.reason;
    if (c.someBytesAppended) {
      EXPECT_GT(out.bytesWritten, 0);
      EXPECT_LT(out.bytesWritten, static_cast<int64_t>(big.size()));
      EXPECT_EQ(readFile(file), old + big.substr(0, static_cast<size_t>(out.bytesWritten)));
    } else if (c.existing) {
      EXPECT_EQ(out.bytesWritten, 0);
      EXPECT_EQ(readFile(file), old);
    } else {
      EXPECT_FALSE(fs::exists(file)) << "an empty file stayed behind";
    }
    EXPECT_EQ(namesIn(folder), c.existing ? std::vector<std::string>{"doc.txt"} : std::vector<std::string>{});
    ASSERT_TRUE(!c.readOnly || disk.setReadOnly(false));
    fs::remove(disk / ".filler");
  }
  // A folder where the file should be: no cut, no write, the probe's answer.
  fs::create_directories(tmp / "a-folder/inside");
  EXPECT_EQ(write(tmp / "a-folder", "x", false).kind, Kind::CannotOpen);
  const auto cut = write(tmp / "a-folder", "x", true, 0);
  EXPECT_EQ(cut.kind, Kind::CannotOpen);
  EXPECT_NE(cut.reason.find("directory"), std::string::npos) << cut.reason;
  EXPECT_TRUE(fs::is_directory(tmp / "a-folder/inside"));
}

// A text iconv wrote in each encoding of the table reads back as the same
// UTF-8 text.
TEST_F(Writer, EveryTableEncodingReadsFilesMadeByIconv) {
  struct Case {
    const char* name;
    const char* iconv;
    const char* text;
  };
  const Case cases[] = {
      {"ascii", "ASCII", "plain text 123"},
      {"japaneseeuc", "EUC-JP", "日本語のテキスト"},
      {"utf8", "UTF-8", "Grüße, мир, 世界"},
      {"isolatin1", "ISO-8859-1", "Grüße à côté"},
      {"shiftjis", "SHIFT_JIS", "シフトジス テキスト"},
      {"isolatin2", "ISO-8859-2", "Zażółć gęślą jaźń"},
      {"unicode", "UTF-16", "Unicode ☃ text"},
      {"utf16", "UTF-16", "with mark"},
      {"windowscp1251", "CP1251", "Привет, мир"},
      {"windowscp1252", "CP1252", "€ quotes “ok”"},
      {"windowscp1253", "CP1253", "Καλημέρα"},
      {"windowscp1254", "CP1254", "Günaydın ş"},
      {"windowscp1250", "CP1250", "Dobrý den ř"},
      {"iso2022jp", "ISO-2022-JP", "日本語"},
      {"macosroman", "MACINTOSH", "Café ƒ π"},
      {"utf16bigendian", "UTF-16BE", "big end ✓"},
      {"utf16littleendian", "UTF-16LE", "little end ✓"},
  };
  for (const auto& c : cases) {
    const std::string src = tmp / "src.txt", dst = tmp / (std::string(c.name) + ".txt");
    writeFile(src, c.text);
    ASSERT_EQ(std::system(("iconv -f UTF-8 -t " + std::string(c.iconv) + " '" + src + "' > '" + dst + "'").c_str()), 0)
        << c.name;
    std::string why;
    EXPECT_EQ(textenc::decode(readFile(dst), textenc::encodingForName(c.name), &why), c.text) << c.name << ": " << why;
  }
}

TEST_F(Writer, EncodingsIconvLacksAreDecodedHere) {
  // NeXTSTEP: 0x81 À, 0xE1 Æ, 0xFB ß; Symbol: Greek letters and signs.
  EXPECT_EQ(textenc::decode("A\x81\xe1\xfb", 2), "AÀÆß");
  EXPECT_EQ(textenc::decode("abg \xa5 \xb3 \x22", 6), "αβγ ∞ ≥ ∀");
  EXPECT_EQ(textenc::decode("caf\\u00e9 \\351t\\u00e9 \\\\ \\ud83d\\ude00", 7), "café été \\ 😀");
  for (const char* name : {"klingon", ""}) EXPECT_EQ(textenc::encodingForName(name), 4u) << "UTF-8 for " << name;
  EXPECT_FALSE(textenc::decode("caf\xe9", 7));
  EXPECT_FALSE(textenc::decode("caf\xe9", 1));
  EXPECT_FALSE(textenc::decode("bad \xff utf8", 4));
  std::string why;
  EXPECT_FALSE(textenc::decode("x", 999, &why));
  EXPECT_NE(why.find("999"), std::string::npos);
}

TEST_F(Writer, EveryImageTypeIsDecodableByAnIndependentToolAndOfTheRightSize) {
  std::string ppm = "P6\n40 30\n255\n";  // a 40x30 gradient
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ppm += {static_cast<char>(x * 6), static_cast<char>(y * 8), '\x80'};
  const std::string png = tmp / "src.png";
  ASSERT_TRUE(imagefiles::writeImage(ppm, imagefiles::ImageType::Png, png));
  // What GraphicsMagick calls each written file.
  for (const auto& [type, format] : std::vector<std::pair<std::string, std::string>>{
           {"png", "PNG"}, {"gif", "GIF"}, {"tiff", "TIFF"}, {"tif", "TIFF"}, {"jpg", "JPEG"}, {"bmp", "BMP"},
           {"webp", "PNG"}, {"", "PNG"}}) {
    const std::string out = tmp / ("out-" + type);
    std::string why;
    ASSERT_TRUE(imagefiles::convertImageFile(png, imagefiles::imageTypeFor(type), out, &why)) << type << why;
    EXPECT_EQ(commandOutput("gm identify -format '%m %wx%h' '" + out + "'"), format + " 40x30\n") << type;
  }
  // Baseline JPEG: a SOF0 marker, no progressive SOF2.
  const std::string jpg = readFile(tmp / "out-jpg");
  EXPECT_NE(jpg.find("\xff\xc0"), std::string::npos);
  EXPECT_EQ(jpg.find("\xff\xc2"), std::string::npos);
  // "jpeg" is JPEG 2000; PDF and EPS are one page of the image's own size.
  for (const auto& [type, check, says] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"jpeg", "opj_dump -i", "x1=40, y1=30"},
           {"pdf", "pdfinfo", "Page size:       40 x 30 pts"},
           {"pdf", "pdfinfo", "Pages:           1\n"},
           {"pdf", "pdfimages -list", "40    30"},
           {"eps", "head -c 23", "%!PS-Adobe-3.0 EPSF-3.0"},
           {"eps", "cat", "%%BoundingBox: 0 0 40 30"}}) {
    const std::string out = tmp / ("out." + type);
    ASSERT_TRUE(imagefiles::convertImageFile(png, imagefiles::imageTypeFor(type), out)) << type;
    EXPECT_NE(commandOutput(check + " '" + out + "'").find(says), std::string::npos) << check << " " << type;
  }
  EXPECT_EQ(readFile(tmp / "out.jpeg").substr(0, 12), std::string("\x00\x00\x00\x0cjP  \r\n\x87\n", 12));
}

TEST_F(Writer, UndecodableDataWritesNothingAndAReplaceIsAtomic) {
  const std::string target = tmp / "t.png";
  writeFile(target, "old");
  // Script-like formats the image library knows are not decoded either.
  for (const std::string data :
       {"not an image at all", "", "push graphic-context\nviewbox 0 0 10 10\npop graphic-context\n"}) {
    std::string why;
    EXPECT_FALSE(imagefiles::writeImage(data, imagefiles::ImageType::Png, target, &why)) << data;
    EXPECT_FALSE(why.empty()) << data;
  }
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(namesIn(tmp.path()), std::vector<std::string>{"t.png"});
}

// The fast reader of writeBinaryArray arguments agrees with the general one
// wherever it answers, and leaves everything unusual to it.
TEST_F(Writer, ByteArrayArgumentsReadFastAgreeWithTheGeneralReader) {
  for (const std::string text :
       {R"({"filePath":"/tmp/x","data":[0,255,256,-1,-257,1000000007],"offset":3,"dataAppend":true,"callback":"cb"})",
        R"( { "data" : [ ] , "filePath" : "a\"b\\c" , "nothing" : null } )",
        R"({"data":[1,2],"nested":{"a":[1,{"b":"]}"}]},"data":[3]})"}) {
    auto fast = filewriter::readByteArrayParams(text);
    ASSERT_TRUE(fast) << text;
    json general = json::parse(text);
    ASSERT_TRUE(fast->bytes) << text;
    EXPECT_EQ(*fast->bytes, filewriter::bytesFromArray(general["data"])) << text;
    general.erase("data");
    for (auto it = general.begin(); it != general.end();) it = it->is_null() ? general.erase(it) : std::next(it);
    EXPECT_EQ(fast->params, general) << text;
  }
  // Texts without escapes are taken as they stand; others are decoded.
  auto texts = filewriter::readByteArrayParams(R"({"base64String":"QUJD\n","plain":"é ok","n":[1.5,true]})");
  ASSERT_TRUE(texts);
  EXPECT_FALSE(texts->bytes);
  EXPECT_EQ(texts->params, (json{{"base64String", "QUJD\n"}, {"plain", "é ok"}, {"n", {1.5, true}}}));
  for (const std::string text : {R"({"data":[1.5]})", R"({"data":["1"]})", R"({"data":[01]})", R"({"data":[1e3]})",
                                 R"({"data":"x"})", R"({"data":[1],"data":null})", R"({"a":"x)" "" R"("})", R"([1,2])",
                                 R"({"data":[1,]})", R"({"data":[1]} x)", R"({"data":[99999999999999999999]})", ""})
    EXPECT_FALSE(filewriter::readByteArrayParams(text)) << text;
}
