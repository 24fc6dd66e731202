// Application facts, the bridge's argument helpers, bounded JSON, the
// website-data folder and the command line.
#include "TestSupport.h"

#include "app/CommandLine.h"
#include "app/JsonText.h"
#include "app/Utils.h"
#include "app/WebsiteData.h"
#include "bridge/UtilTool.h"

#include <glib.h>
#include <plist/plist.h>

using namespace corvane;
using namespace corvane::test;
using nlohmann::json;
using testing::HasSubstr;

TEST(AppName, DisplayNameThenNameThenExecutable) {
  TempDir tmp;
  auto name = [&](std::map<std::string, std::string> info) {
    return Utils(openBundle(makeBundle(tmp.path(), "N", info))).getAppName();
  };
  EXPECT_EQ(name({{"CFBundleDisplayName", "Shown"}, {"CFBundleName", "N"}}), "Shown");
  EXPECT_EQ(name({{"CFBundleDisplayName", ""}, {"CFBundleName", "Named"}}), "Named");
  EXPECT_EQ(name({{"CFBundleDisplayName", "(null)"}, {"CFBundleExecutable", "exe"}}), "exe");
  EXPECT_EQ(name({{"CFBundleName", "Plain"}}), "Plain");
  EXPECT_EQ(Utils(openBundle(makeBundle(tmp.path(), "N", {}))).getAppVersion(), "(null)");
}

TEST(InfoPlist, BinaryPropertyListsReadLikeXml) {
  TempDir tmp;
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleName", plist_new_string("Bin"));
  plist_dict_set_item(dict, "CFBundleVersion", plist_new_string("58"));
  plist_dict_set_item(dict, "EnableUseDebugHost", plist_new_bool(1));
  char* bin = nullptr;
  uint32_t len = 0;
  plist_to_bin(dict, &bin, &len);
  writeFile(tmp / "B.app/Contents/Info.plist", std::string(bin, len));
  free(bin);
  plist_free(dict);

  Utils u(openBundle(tmp / "B.app"));
  EXPECT_EQ(std::make_tuple(u.getAppName(), u.getAppBuildVersion(), u.getEnableUseDebugHost()),
            std::make_tuple("Bin", "58", true));

  writeFile(tmp / "Bad.app/Contents/Info.plist", "garbage");
  std::string why;
  EXPECT_FALSE(Bundle::open(tmp / "Bad.app", &why));
  EXPECT_THAT(why, HasSubstr("Info.plist"));
  EXPECT_FALSE(Bundle::open(tmp / "None.app", &why));
}

TEST(Identifier, DeclaredOrDerivedFromWhereTheBundleIs) {
  TempDir tmp;
  EXPECT_EQ(openBundle(makeBundle(tmp.path(), "D", {{"CFBundleIdentifier", "test.declared"}})).identifier(),
            "test.declared");
  const std::string a = makeBundle(tmp / "one", "Same Name", {});
  const std::string b = makeBundle(tmp / "two", "Same Name", {});
  const std::string idA = openBundle(a).identifier();
  EXPECT_THAT(idA, testing::MatchesRegex("corvane\\.unidentified\\.Same_Name-[0-9a-f]{12}"));
  EXPECT_EQ(openBundle(a).identifier(), idA) << "stable while the bundle stays";
  EXPECT_NE(openBundle(b).identifier(), idA) << "two bundles without identifier never share one";
}

TEST(Languages, AUserLanguageThatCannotBeStoredIsReportedAsNotSet) {
  TempDir tmp;
  EnvGuard env;
  writeFile(tmp / "not-a-folder", "x");
  env.set("XDG_CONFIG_HOME", tmp / "not-a-folder");
  testing::internal::CaptureStderr();
  Utils u(openBundle(makeBundle(tmp.path(), "L", {{"CFBundleIdentifier", "test.unwritable"}})));
  EXPECT_FALSE(u.setUserLanguage("ja"));
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("cannot write user defaults"));
}

TEST(FileSizeText, FirstDivisionAlwaysHappens) {
  EXPECT_EQ(UtilTool::getFileSizeString(0, false), "0.1KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1, true), "0.1KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1500000, false), "1.4MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1500000, true), "1.5MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1048576, false), "1024.0KB");
  EXPECT_EQ(UtilTool::getFileSizeString(1048577, false), "1.0MB");
  EXPECT_EQ(UtilTool::getFileSizeString(1000000000000ULL, true), "1000.0GB");
  EXPECT_EQ(UtilTool::getFileSizeString(UINT64_MAX, false), "16.0EB");
}

TEST(FileSizeText, ByteCountsGivenAsTextAreNumbers) {
  EXPECT_EQ(UtilTool::byteCount(json("1500000")), 1500000u);
  EXPECT_EQ(UtilTool::getFileSizeString(UtilTool::byteCount(json("1500000")), true), "1.5MB");
  EXPECT_EQ(UtilTool::byteCount(json(" 2e3 ")), 2000u);
  EXPECT_EQ(UtilTool::byteCount(json("0x10")), 16u);
  EXPECT_EQ(UtilTool::byteCount(json(1500000.9)), 1500000u);
  EXPECT_EQ(UtilTool::byteCount(json("1e30")), UINT64_MAX);
  EXPECT_EQ(UtilTool::byteCount(json(true)), 1u);
  // Not a number: 0, as before.
  for (const json& v : {json("12abc"), json(""), json("abc"), json("-5"), json(-5), json("nan"), json(nullptr),
                        json::array({1}), json::object()})
    EXPECT_EQ(UtilTool::byteCount(v), 0u) << v;
}

TEST(ParamsDictionary, ParseLogsTheValueOrTheError) {
  testing::internal::CaptureStderr();
  UtilTool::paramsDictionary(std::string(R"({"a":1})"));
  UtilTool::paramsDictionary(std::string("{oops"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("jsonObj = {\"a\":1}"));
  EXPECT_THAT(err, HasSubstr("NSString JSONObject error: "));
  EXPECT_EQ(UtilTool::argumentsAsJSON(std::string("\xff")), "\"\xef\xbf\xbd\"")
      << "invalid UTF-8 is replaced, never thrown across the bridge";
}

TEST(JsonFileReader, PlainBase64AndRejects) {
  TempDir tmp;
  writeFile(tmp / "plain.json", R"({"a": 1, "b": null})");
  EXPECT_EQ(UtilTool::getDicFromJsonFile(tmp / "plain.json"), json({{"a", 1}}));

  const std::string secret = R"({"secret": "x"})";
  gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(secret.data()), secret.size());
  writeFile(tmp / "b64.json", b64);
  g_free(b64);
  EXPECT_EQ(UtilTool::getDicFromJsonFile(tmp / "b64.json"), json({{"secret", "x"}}));

  writeFile(tmp / "array.json", "[1]");
  writeFile(tmp / "junk.json", "@@@ not json @@@");
  fs::create_directories(tmp / "dir.json");
  for (const char* f : {"array.json", "junk.json", "dir.json", "missing.json"})
    EXPECT_FALSE(UtilTool::getDicFromJsonFile(tmp / f)) << f;
}

TEST(JsonText, NestingIsCountedOutsideStringsOnly) {
  EXPECT_FALSE(nestingTooDeepAt("[[[]]]", 3));
  EXPECT_EQ(nestingTooDeepAt("[[[[]]]]", 3), 3u);
  EXPECT_EQ(nestingTooDeepAt("{\"a\": [{\"b\": []}]}", 3), 13u);
  EXPECT_FALSE(nestingTooDeepAt(R"(["[[[[", "\"[[[[", {"k\\": "[[["}])", 2));
  EXPECT_FALSE(nestingTooDeepAt("]]]][[[", 3)) << "closers first: the parser reports those";
  std::string error;
  const std::string deepest = std::string(256, '[') + std::string(256, ']');
  EXPECT_EQ(parseJsonText(deepest, &error).value_or(json()).dump(), deepest) << error;
  EXPECT_EQ(jsonSnippet("8080"), "\"8080\"");
  EXPECT_EQ(jsonSnippet(std::string(100, 'x'), 10), "\"xxxxxxxxx...");
  EXPECT_EQ(jsonSnippet("\xc3\xa9\xc3\xa9", 2), "\"...") << "never inside a UTF-8 sequence";
  EXPECT_EQ(jsonTypeName(json::array()), "an array");
  EXPECT_EQ(jsonTypeName(5), "a number");
  EXPECT_EQ(jsonTypeName("a"), "text");
}

// An older website-data folder is taken over by copying; a copy that cannot
// be made leaves the old folder in use.
TEST(WebsiteDataFolders, ACopyThatCannotBeMadeKeepsTheOldFolderInUse) {
  TempDir tmp;
  EnvGuard env;
  env.set("XDG_DATA_HOME", tmp / "data");
  env.set("XDG_CACHE_HOME", tmp / "cache");
  const std::string legacy = tmp / "data/Name/WebsiteData";
  writeFile(legacy + "/localstorage/file__0.localstorage", "local");
  // The place of the new folder is taken by a file: no copy can land there.
  writeFile(tmp / "data/corvane/com.example.a", "in the way");
  EXPECT_EQ(WebsiteData::prepare("com.example.a", legacy), legacy);
  EXPECT_EQ(readFile(legacy + "/localstorage/file__0.localstorage"), "local");
}

TEST(CommandLine, DevelopmentModeOnlyWithAPageServedOnThisComputer) {
  auto parse = [](std::vector<std::string> args) {
    args.insert(args.begin(), "corvane");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return CommandLine::parse(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_TRUE(parse({"--dev", "-b", "A.app"}).dev);
  EXPECT_FALSE(parse({"-b", "A.app", "--", "--dev"}).dev);  // a file named so
  const auto url = parse({"--dev-url", "http://localhost:5173/", "-b", "A.app"});
  EXPECT_EQ(std::make_pair(url.dev, url.devUrl), std::make_pair(true, std::string("http://localhost:5173/")));
  EXPECT_EQ(parse({"--dev-url=https://127.0.0.2:8443/app/"}).devUrl, "https://127.0.0.2:8443/app/");
  struct Case {
    const char* url;
    bool local;
  };
  for (const Case& c : std::initializer_list<Case>{{"http://localhost:3000/", true},
                                                    {"http://LOCALHOST:3000", true},
                                                    {"http://[::1]:3000/", true},
                                                    {"https://127.0.0.1/", true},
                                                    {"http://example.com/", false},
                                                    {"http://localhost.example.com/", false},
                                                    {"http://user:pw@localhost:3000/", false},
                                                    {"file:///tmp/index.html", false},
                                                    {"ws://localhost:3000/", false},
                                                    {"http://192.168.1.2:3000/", false},
                                                    {"localhost:3000", false},
                                                    {"", false}}) {
    std::string why;
    EXPECT_EQ(isLocalDevelopmentUrl(c.url, &why), c.local) << c.url;
    EXPECT_EQ(why.empty(), c.local) << c.url;
    EXPECT_EQ(parse({"--dev-url", c.url}).action == CommandLine::Action::Error, !c.local) << c.url;
  }
  EXPECT_EQ(parse({"--dev-url"}).action, CommandLine::Action::Error);
}

TEST(FilesToOpen, EveryArgumentBecomesAPathOrALoggedReason) {
  TempDir tmp;
  writeFile(tmp / "a:b.txt", "x");
  writeFile(tmp / "http:x", "y");
  auto f = filesToOpen({"a:b.txt", "c:d.txt", "-dash.txt", "sub/../x.txt", tmp / "abs.txt", "",
                        "file://" + tmp / "uri%20name.txt", "http:x", "http://example.com/f.txt",
                        "smb://server/share/f.txt", "file:///dev/null"},
                       tmp.path());
  EXPECT_EQ(f.paths, (std::vector<std::string>{tmp / "a:b.txt", tmp / "c:d.txt", tmp / "-dash.txt",
                                               tmp / "x.txt", tmp / "abs.txt", tmp / "uri name.txt",
                                               tmp / "http:x", "/dev/null"}));
  EXPECT_THAT(f.skipped, testing::ElementsAre(HasSubstr("empty file argument"), HasSubstr("http://example.com/f.txt"),
                                              HasSubstr("smb://server/share/f.txt")));
}

// The real executable: what it prints and the status it ends with.
TEST(Executable, StatusAndWordsOfEachStart) {
  TempDir tmp;
  writeFile(tmp / "Bad.app/Contents/Info.plist", "<plist");
  const std::string self = makeBundle(tmp.path(), "Self", {{"CFBundleName", "Self"}});
  fs::copy_file(CORVANE_BINARY, self + "/Contents/MacOS/Self");
  auto quoted = [](const std::string& s) { return "'" + s + "'"; };
  const std::string shell = quoted(CORVANE_BINARY);
  const struct {
    std::string command;
    int status;
    std::vector<std::string> says;
  } cases[] = {
      {shell + " --help", 0,
       {"--bundle PATH", "72 when the bundle has no main configuration",
        "78 when a key of the main configuration has the wrong type"}},
      {shell + " --version", 0, {std::string("corvane ") + CORVANE_VERSION}},
      {shell + " --frobnicate", 2, {}},
      {shell + " --bundle " + quoted(tmp / "None.app"), 2, {"None.app"}},
      {shell + " --bundle " + quoted(tmp / "Bad.app"), 2, {"Info.plist"}},
      {shell, 2, {}},  // outside a bundle with no --bundle
      // Started from Contents/MacOS, it finds its bundle.
      {"env HOME=" + quoted(tmp.path()) + " " + quoted(self + "/Contents/MacOS/Self"), 72,
       {self + "/Contents/Resources/public/project.json) not exist."}},
  };
  for (const auto& c : cases) {
    // Both streams, then the status after the last "#".
    const std::string out = commandOutput("(" + c.command + ") 2>&1; echo \"#$?\"");
    EXPECT_EQ(out.substr(out.rfind('#') + 1), std::to_string(c.status) + "\n") << c.command << "\n" << out;
    for (const auto& piece : c.says) EXPECT_THAT(out, HasSubstr(piece)) << c.command;
  }
}
