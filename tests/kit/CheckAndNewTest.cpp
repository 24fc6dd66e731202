// corvane-kit new and check, without a display: bundles made in temporary
// folders, the real kit binary for statuses and messages.
#include "kit/CheckBundle.h"
#include "kit/NewApp.h"

#include "app/Bundle.h"
#include "support/TestFiles.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvane;
using namespace corvane::kit;
using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

namespace {

struct KitRun {
  int status = -1;
  std::string out;
};

// The installed-layout kit of the build tree, as a person runs it.
KitRun runKitBinary(const std::string& args) {
  KitRun r;
  FILE* p = popen((std::string(CORVANE_KIT_BINARY) + " " + args + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The findings as "<file>:<line>:<column>: error|warning: <message>" lines.
std::string joined(const CheckReport& report) {
  std::string out;
  for (const auto& f : report.findings) out += formatFinding(f) + "\n";
  return out;
}

// Whether a finding's line starts with `where` and says `says`.
bool reports(const CheckReport& report, const std::string& where, const std::string& says) {
  return std::any_of(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
    const std::string line = formatFinding(f);
    return line.rfind(where, 0) == 0 && line.find(says) != std::string::npos;
  });
}

}  // namespace

// The launcher's executable bit, the schema and type paths as installed:
// the kit_installed test.
TEST(NewApp, MakesABundleThatReadsAsTheShellReadsItAndChecksClean) {
  TempDir dir;
  std::string error;
  const auto made = makeApplication({"Tom & Jerry's <Notes>", "org.example.notes", dir.path(), CORVANE_BUILD_DATA,
                                     "/opt/corvane/bin/corvane"},
                                    &error);
  const std::string app = made.value_or(error);
  ASSERT_EQ(app, dir.path() + "/Tom & Jerry's <Notes>.app");
  auto bundle = Bundle::open(app);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->infoText("CFBundleName"), "Tom & Jerry's <Notes>");
  EXPECT_EQ(bundle->infoText("CFBundleIdentifier"), "org.example.notes");
  EXPECT_EQ(bundle->infoText("CFBundleShortVersionString"), "1.0.0");
  EXPECT_NE(readFile(app + "/Contents/MacOS/Tom & Jerry's <Notes>").find("'/opt/corvane/bin/corvane'"),
            std::string::npos);
  const std::string publicDir = app + "/Contents/Resources/public";
  EXPECT_NE(readFile(publicDir + "/index.html").find("<title>Tom &amp; Jerry&apos;s &lt;Notes&gt;</title>"),
            std::string::npos);
  EXPECT_EQ(readFile(publicDir + "/corvane-async.js"), readFile(std::string(CORVANE_BUILD_DATA) + "/js/corvane-async.js"));

  // The icon it names is there, and so on: the check finds nothing.
  const CheckReport report = checkBundle(app);
  EXPECT_TRUE(report.findings.empty()) << joined(report);
  // Nothing of the work in progress is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(NewApp, RefusesBadNamesAndIdentifiersAndNeverOverwrites) {
  TempDir dir;
  // Each is a usage error (status 2) that says what is wrong.
  for (const auto& [call, says] : std::vector<std::pair<std::string, std::string>>{
           {"new '' DIR", "the name is empty"},
           {"new a/b DIR", "holds a \"/\""},
           {"new Notes.app DIR", "without \".app\" (Notes)"},
           {"new .hidden DIR", "starts with \".\""},
           {"new Notes --id notes DIR", "no valid identifier"},
           {"new Notes --id 1org.example.notes DIR", "no valid identifier"},
           {"new 日記 DIR", "give one with --id"},
           {"new", "Usage: corvane-kit new"},
           {"new Notes DIR more", "Usage: corvane-kit new"},
           {"new Notes --frob DIR", "unknown option --frob"}}) {
    std::string args = call;
    if (const auto at = args.find("DIR"); at != std::string::npos) args.replace(at, 3, dir.path());
    const KitRun r = runKitBinary(args);
    EXPECT_EQ(r.status, 2) << call << "\n" << r.out;
    EXPECT_NE(r.out.find(says), std::string::npos) << call << "\n" << r.out;
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));

  // An existing folder, even an empty one, stays as it is.
  fs::create_directories(dir / "Kept.app");
  writeFile(dir / "Kept.app/mine.txt", "mine");
  fs::create_directories(dir / "Empty.app");
  for (const char* name : {"Kept", "Empty"}) {
    const KitRun r = runKitBinary(std::string("new ") + name + " " + dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("already exists; nothing was changed"), std::string::npos) << r.out;
  }
  EXPECT_EQ(readFile(dir / "Kept.app/mine.txt"), "mine");
  EXPECT_TRUE(fs::is_empty(dir / "Empty.app"));

  // A name made of letters gets an identifier of its own; the kit says how
  // to run and check the bundle.
  const KitRun r = runKitBinary("new \"My Notes\" " + dir.path() + "/sub");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" dev '" + dir.path() + "/sub/My Notes.app'"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" check '" + dir.path() + "/sub/My Notes.app'"), std::string::npos) << r.out;
  EXPECT_EQ(Bundle::open(dir.path() + "/sub/My Notes.app")->infoText("CFBundleIdentifier"), "com.example.mynotes");
  EXPECT_EQ(defaultIdentifier("3D Print"), "com.example.app3dprint");
}

TEST(Check, PassesTheShowcaseAndFailsNothingOnAMinimalBundle) {
  const CheckReport showcase = checkBundle(std::string(CORVANE_SOURCE_DIR) + "/examples/Showcase.app");
  EXPECT_EQ(showcase.errors(), 0u) << joined(showcase);

  TempDir dir;
  corvane::test::makeMinimalBundle(dir.path(), "Min", "org.example.min");
  writeFile(dir / "Min.app/Contents/Resources/public/index.html", "<p>hi</p>");
  const KitRun clean = runKitBinary("check " + dir.path() + "/Min.app");
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_NE(clean.out.find("0 errors"), std::string::npos) << clean.out;
}

TEST(Check, FindsPlantedFaultsEachOnItsLine) {
  TempDir dir;
  const std::string app = dir / "Bad.app";
  writeFile(app + "/Contents/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleName</key><string>Bad</string>
<key>CFBundleIdentifer</key><string>org.example.bad</string>
<key>enableHttpServer</key><true/>
<key>CFBundleIconFile</key><string>missing.svg</string>
</dict></plist>
)");
  writeFile(app + "/Contents/Resources/public/index.html", "<p>hi</p>");
  writeFile(app + "/Contents/MacOS/Bad", "#!/bin/sh\n");  // copied without its mode
  const std::string appExInfo = R"({
  "AppExInfo": {
    "enableDeveloperDebug": true,
    "enableHTTPServer": true,
    "size": [800],
    "hasTitleBar": "no",
    "serverPort": "8080",
    "menuTitleList": [{"tag": "x", "method": "zz"}],
    "bridgeAllowedOrigins": ["*"]
  })";
  writeFile(app + "/Contents/Resources/public/project.json", appExInfo + R"(,
  "Tasks": [{"taskType": "exec", "conditionType": "and"}, {"index": 1}],
  "enableDeveloperDebugg": true,
  "AppExInfo": {"startPage": "public/none.html"}
}
)");
  // Written twice: the parser keeps the second "AppExInfo", as the shell does.
  const CheckReport report = checkBundle(app);
  const std::string plist = app + "/Contents/Info.plist";
  const std::string json = app + "/Contents/Resources/public/project.json";
  for (const auto& [where, says] : std::vector<std::pair<std::string, std::string>>{
           {plist + ":4:1: error", "unknown key \"CFBundleIdentifer\": did you mean \"CFBundleIdentifier\"?"},
           {plist + ":5:1: error", "\"enableHttpServer\" is read inside \"AppExInfo\" of project.json"},
           {plist + ":6:1: error", "the icon \"missing.svg\" is not in Contents/Resources"},
           {plist + ": warning", "no \"CFBundleIdentifier\""},
           {plist + ": error", "Contents/MacOS/Bad is not executable"},
           {json + ":13:3: warning", "\"AppExInfo\" is written twice"},
           {json + ":12:3: error", "did you mean \"enableDeveloperDebug\"?"},
           {json + ":11:26: error", "\"Tasks[0].taskType\" is \"exec\", which means nothing here"},
           {json + ":11:51: error", "\"Tasks[0].conditionType\" is \"and\""},
           {json + ":11:59: error", "\"Tasks[1]\" is an exec_task without \"taskAppPath\""},
           {json + ":11:59: warning", "\"Tasks[1]\" never runs"},
           {json + ":13:30: error", "the start page " + app + "/Contents/Resources/public/none.html does not exist"},
       })
    EXPECT_TRUE(reports(report, where, says)) << where << " " << says << "\n" << joined(report);

  // The first "AppExInfo", alone, shows its own faults at their places.
  writeFile(app + "/Contents/Resources/public/project.json", appExInfo + "\n}");
  const CheckReport first = checkBundle(app);
  for (const auto& [where, says] : std::vector<std::pair<std::string, std::string>>{
           {":3:5: error", "\"enableDeveloperDebug\" is not read inside \"AppExInfo\": it belongs at the top level"},
           {":4:5: error", "did you mean \"enableHttpServer\"?"},
           {":5:13: error", "\"AppExInfo.size\" must be [width, height]"},
           {":6:20: warning", "is text, read as false"},
           {":7:19: error", "\"AppExInfo.serverPort\" must be a whole number"},
           {":8:31: error", "\"AppExInfo.menuTitleList[0].tag\" must be a whole number"},
           {":8:46: error", "\"zz\", which means nothing here"},
           {":9:30: warning", "\"*\" gives the bridge"},
       })
    EXPECT_TRUE(reports(first, json + where, says)) << where << " " << says << "\n" << joined(first);

  // Broken JSON: the parser's place, and the exit status it would cause.
  writeFile(app + "/Contents/Resources/public/project.json", "{\n  \"AppExInfo\": {\n    \"size\": [1, 2],\n  }\n}\n");
  const std::string broken = joined(checkBundle(app));
  EXPECT_NE(broken.find(json + ":4:3: error: parse error at line 4, column 3"), std::string::npos) << broken;
  EXPECT_NE(broken.find("exit status 72"), std::string::npos) << broken;

  const KitRun r = runKitBinary("check " + app);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(runKitBinary("check " + dir.path()).status, 2);
  EXPECT_EQ(runKitBinary("check").status, 2);
}

TEST(Check, ServerModeKeysThatContradictEachOther) {
  TempDir dir;
  // What the check says of each "AppExInfo" ("": nothing at all).
  for (const auto& [appExInfo, says] : std::vector<std::pair<std::string, std::string>>{
      {R"({"serverPort": 8080})", "\"serverPort\" has no effect: the server is off"},
      {R"({"enableHttpServer": true, "startPage": "x.html"})", "\"startPage\" is not used"},
      {R"({"enableHttpServer": true, "onlyBuildInServer": false})", "without \"startPage\" the bundle's public/index.html"},
      {R"({"enableHttpServer": true, "onlyBuildInServer": false, "startPage": "http://localhost/"})",
       "holds no conversion for the port"},
      {R"({"enableHttpServer": true, "serverPort": 70000})", "70000 listens on port 4464"},
      {R"({"userSpecPublic": "/tmp"})", "\"userSpecPublic\" is not used"},
      {R"({"enableHttpServer": true, "enableSpecPublic": true, "userSpecPublic": "/nonexistent"})",
       "document root /nonexistent has no index.html"},
      {R"({"enableHttpServer": true, "onlyBuildInServer": false, "startPage": "http://localhost:%d/"})", ""},
      {R"({"enableHttpServer": true})", ""}}) {
    corvane::test::makeMinimalBundle(dir.path(), "Srv", "org.example.srv");
    writeFile(dir / "Srv.app/Contents/Resources/public/index.html", "<p>hi</p>");
    writeFile(dir / "Srv.app/Contents/Resources/public/project.json", "{\"AppExInfo\": " + appExInfo + "}");
    CheckReport report = checkBundle(dir / "Srv.app");
    // The minimal bundle's Info.plist has no version: only the configuration counts here.
    std::erase_if(report.findings, [](const Finding& f) { return f.file.find("Info.plist") != std::string::npos; });
    if (says.empty())
      EXPECT_TRUE(report.findings.empty()) << appExInfo << "\n" << joined(report);
    else
      EXPECT_NE(joined(report).find(says), std::string::npos) << appExInfo << "\n" << joined(report);
  }
}

TEST(Check, PackageJsonKeepsNpmsKeysAndMissingPagesAreErrors) {
  TempDir dir;
  corvane::test::makeMinimalBundle(dir.path(), "Pkg", "org.example.pkg");
  fs::remove(dir / "Pkg.app/Contents/Resources/public/project.json");
  writeFile(dir / "Pkg.app/Contents/Resources/public/package.json",
            R"({"name": "pkg", "version": "1.0.0", "scripts": {"build": "vite build"}, "AppExInfo": {}})");
  const CheckReport report = checkBundle(dir / "Pkg.app");
  ASSERT_EQ(report.errors(), 1u) << joined(report);
  EXPECT_NE(joined(report).find("public/index.html does not exist"), std::string::npos) << joined(report);

  fs::remove(dir / "Pkg.app/Contents/Resources/public/package.json");
  EXPECT_NE(joined(checkBundle(dir / "Pkg.app")).find("no main configuration"), std::string::npos);
}

// Single slips and case in long keys are in the planted faults above.
TEST(Check, NearestKeyForgivesSlipsByTheKeysLength) {
  const std::vector<std::string> known = {"enableHttpServer", "serverPort", "size", "startPage"};
  EXPECT_EQ(nearestKey("sise", known), "size");
  EXPECT_EQ(nearestKey("serverprot", known), "serverPort");
  EXPECT_EQ(nearestKey("colour", known), "");
  EXPECT_EQ(nearestKey("startPageURLAddress", known), "");
}
