// The corvane executable's command line, run as a real process.
#include "TestSupport.h"

#include "app/CommandLine.h"

using namespace corvane;
using namespace corvane::test;
using testing::HasSubstr;

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
  EXPECT_TRUE(url.dev);
  EXPECT_EQ(url.devUrl, "http://localhost:5173/");
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
  ASSERT_EQ(f.skipped.size(), 3u);
  EXPECT_THAT(f.skipped[0], HasSubstr("empty file argument"));
  EXPECT_THAT(f.skipped[1], HasSubstr("http://example.com/f.txt"));
  EXPECT_THAT(f.skipped[2], HasSubstr("smb://server/share/f.txt"));
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
