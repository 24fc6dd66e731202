// The file writer's core: bytes from arrays, cutting, the 0600 probe, the
// one stream write and what a replacement keeps; faults on real disks; text
// encodings read from files iconv made; every image type checked by
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
#include <cstdint>
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

TEST_F(Writer, APathHoldingNulNamesNoFileAndNothingIsWritten) {
  // The system would read the path up to U+0000 and write over the file
  // its prefix names.
  const std::string file = tmp / "doc.txt";
  writeFile(file, "keep");
  const std::string nul = file + std::string(1, '\0') + ".bak";
  EXPECT_EQ(write(nul, "lost", false).kind, Kind::CannotOpen);
  EXPECT_EQ(write(nul, "lost", true).kind, Kind::CannotOpen);
  EXPECT_EQ(filewriter::truncateFile(nul, 0), 0u);
  EXPECT_NE(filewriter::probe(nul), "");
  EXPECT_NE(filewriter::probeReplace(nul), "");
  EXPECT_EQ(readFile(file), "keep");
}

// A new file's mode 0600 is checked end to end.
TEST_F(Writer, TheProbeKeepsContentAndTheReplacingOneCreatesNothing) {
  const std::string path = tmp / "new.bin";
  writeFile(path, "keep");
  EXPECT_EQ(filewriter::probe(path), "");
  EXPECT_EQ(readFile(path), "keep");
  EXPECT_NE(filewriter::probe(tmp / "no/such/folder/x"), "");
  EXPECT_NE(filewriter::probe(""), "");
  EXPECT_EQ(filewriter::probeReplace(tmp / "not-yet.bin"), "");
  EXPECT_FALSE(fs::exists(tmp / "not-yet.bin"));
  EXPECT_NE(filewriter::probeReplace(tmp / "no/such/folder/x"), "");
}

// An append of nothing and data that throws are checked end to end.
TEST_F(Writer, AReplacementOrACutOfNothingMakesNoFile) {
  EXPECT_EQ(write(tmp / "none/x", "x", true).kind, Kind::CannotOpen);
  // A replacement with nothing to write leaves the old file, and makes none.
  writeFile(tmp / "old.bin", "old");
  EXPECT_EQ(write(tmp / "old.bin", "", false).kind, Kind::NothingWritten);
  EXPECT_EQ(readFile(tmp / "old.bin"), "old");
  EXPECT_EQ(write(tmp / "fresh.bin", "", false).kind, Kind::NothingWritten);
  EXPECT_FALSE(fs::exists(tmp / "fresh.bin"));
  // A cut makes no file, nor one below a file.
  EXPECT_EQ(filewriter::truncateFile(tmp / "absent", 10), 0u);
  EXPECT_FALSE(fs::exists(tmp / "absent"));
  EXPECT_EQ(filewriter::truncateFile(tmp / "old.bin/below", 10), 0u);
}

// What a replacement keeps: permission bits and owner, a link as a link
// (the file it points to gets the content, beside itself), a device as the
// device; a new file gets 0600.
TEST_F(Writer, AReplacementKeepsModeOwnerLinksAndDevices) {
  const mode_t mask = ::umask(022);
  const std::string file = tmp / "doc.txt";
  writeFile(file, "old");
  ::chmod(file.c_str(), 0640);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(file.c_str(), 1234, 5678), 0);
  }
  ASSERT_EQ(write(file, "new text", false).kind, Kind::Written);
  struct stat st{};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(readFile(file), "new text");
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
  }

  writeFile(tmp / "real/target.txt", "old");
  fs::create_directories(tmp / "links");
  fs::create_symlink("../real/target.txt", tmp / "links/doc-link");
  ASSERT_EQ(write(tmp / "links/doc-link", "through the link", false).kind, Kind::Written);
  EXPECT_TRUE(fs::is_symlink(tmp / "links/doc-link"));
  EXPECT_EQ(readFile(tmp / "real/target.txt"), "through the link");
  EXPECT_EQ(namesIn(tmp / "real"), std::vector<std::string>{"target.txt"});
  EXPECT_EQ(namesIn(tmp / "links"), std::vector<std::string>{"doc-link"});
  // A link to nothing yet: the file appears where it points.
  fs::create_symlink("../real/later.txt", tmp / "links/later-link");
  ASSERT_EQ(write(tmp / "links/later-link", "later", false).kind, Kind::Written);
  EXPECT_TRUE(fs::is_symlink(tmp / "links/later-link"));
  EXPECT_EQ(readFile(tmp / "real/later.txt"), "later");

  ASSERT_EQ(write(tmp / "fresh.txt", "x", false).kind, Kind::Written);
  ::stat((tmp / "fresh.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A device is written, not replaced by a plain file.
  ASSERT_EQ(write("/dev/null", "into nothing", false).kind, Kind::Written);
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  ::umask(mask);
}

// Another user's file in a folder this user may write: a replacement would
// take the file over, so the content is written into the file itself.
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
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat st{};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(readFile(file), "new");
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{"owned-by-root.txt"});
}

// Real faults on a 64 KiB tmpfs: full, nearly full, read-only; and a folder
// as the target. A failure answers as such and loses nothing: the old
// content is whole, no temporary file and no empty file of the write stays.
TEST_F(Writer, FullReadOnlyAndFolderTargetsFailAndLoseNothing) {
  ScratchMount disk(64 * 1024);
  if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
  const std::string old(800, 'o');
  const std::string big(15000, 'n');
  struct Case {
    const char* name;
    bool append;
    std::optional<uint64_t> cutTo;
    bool existing;           // an 800-byte file is there first
    size_t freeBytes;        // left free by the filler (SIZE_MAX: no filler)
    bool readOnly;
    Kind kind;
    const char* reason;      // a piece of the reason
    bool someBytesAppended;  // Failed appends: part of the chunk arrived
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
    if (c.readOnly) {
      ASSERT_TRUE(disk.setReadOnly(true));
    }
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
    if (c.readOnly) {
      ASSERT_TRUE(disk.setReadOnly(false));
    }
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

// ---- text encodings ------------------------------------------------------------------

// Each encoding of the table that iconv can write: a text written by iconv
// reads back as the same UTF-8 text.
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
    auto text = textenc::decode(readFile(dst), textenc::encodingForName(c.name), &why);
    ASSERT_TRUE(text) << c.name << ": " << why;
    EXPECT_EQ(*text, c.text) << c.name;
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

// ---- images -------------------------------------------------------------------------------

namespace {

// A 40x30 RGB image with a gradient, as PPM bytes.
std::string samplePpm() {
  std::string ppm = "P6\n40 30\n255\n";
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      ppm.push_back(static_cast<char>(x * 6));
      ppm.push_back(static_cast<char>(y * 8));
      ppm.push_back(static_cast<char>(128));
    }
  return ppm;
}

}  // namespace

TEST_F(Writer, EveryImageTypeIsDecodableByAnIndependentToolAndOfTheRightSize) {
  using imagefiles::ImageType;
  const std::string png = tmp / "src.png";
  ASSERT_TRUE(imagefiles::writeImage(samplePpm(), ImageType::Png, png));
  struct Case {
    const char* type;
    const char* gmFormat;  // what GraphicsMagick calls the written file
  };
  for (const Case& c : {Case{"png", "PNG"}, Case{"gif", "GIF"}, Case{"tiff", "TIFF"}, Case{"tif", "TIFF"},
                        Case{"jpg", "JPEG"}, Case{"bmp", "BMP"}, Case{"webp", "PNG"}, Case{"", "PNG"}}) {
    const std::string out = tmp / (std::string("out-") + c.type);
    std::string why;
    ASSERT_TRUE(imagefiles::convertImageFile(png, imagefiles::imageTypeFor(c.type), out, &why)) << c.type << why;
    EXPECT_EQ(commandOutput("gm identify -format '%m %wx%h' '" + out + "'"), std::string(c.gmFormat) + " 40x30\n") << c.type;
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
  std::string why;
  EXPECT_FALSE(imagefiles::writeImage("not an image at all", imagefiles::ImageType::Png, target, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(readFile(target), "old");
  EXPECT_FALSE(imagefiles::writeImage("", imagefiles::ImageType::Png, target));
  // Script-like formats ImageMagick knows are not decoded.
  EXPECT_FALSE(imagefiles::writeImage("push graphic-context\nviewbox 0 0 10 10\npop graphic-context\n",
                                      imagefiles::ImageType::Png, target));
  EXPECT_EQ(readFile(target), "old");
  for (const auto& e : fs::directory_iterator(tmp.path()))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
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
