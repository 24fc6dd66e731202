// `corvane-kit package deb|flatpak` as a developer runs it: the real kit
// on bundles made in temporary folders, its packages read back with
// dpkg-deb and checked with the desktop's own validators.
#include "app/InfoPlist.h"
#include "kit/KitFiles.h"
#include "support/ScratchMount.h"
#include "support/TestFiles.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using corvane::test::EnvGuard;
using corvane::test::readFile;
using corvane::test::ScratchMount;
using corvane::test::TempDir;
using corvane::test::writeFile;
using nlohmann::json;
namespace fs = std::filesystem;
namespace kit = corvane::kit;

namespace {

json baseInfo() {
  return {{"CFBundleName", "Pack Test"},
          {"CFBundleIdentifier", "org.example.PackTest"},
          {"CFBundleShortVersionString", "2.1"},
          {"CFBundleVersion", "7"},
          {"CorvaneSummary", "Checks what the packager writes"},
          {"CorvaneMaintainer", "Pack Tester <packs@example.org>"},
          {"CorvaneReleaseDate", "2026-01-02"}};
}

std::string makeBundle(const std::string& dir, const json& info, const std::string& name = "PackTest") {
  const std::string app = dir + "/" + name + ".app";
  writeFile(app + "/Contents/Resources/public/index.html", "<!DOCTYPE html><title>x</title>");
  writeFile(app + "/Contents/Resources/public/project.json", "{}");
  writeFile(app + "/Contents/MacOS/" + name, "#!/bin/sh\nexec /work/build/bin/corvane \"$@\"\n");
  corvane::writePropertyList(app + "/Contents/Info.plist", info);
  return app;
}

std::string pngOfSize(int width, int height) {
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
  gdk_pixbuf_fill(p, 0x3366ccff);
  gchar* buf = nullptr;
  gsize len = 0;
  gdk_pixbuf_save_to_buffer(p, &buf, &len, "png", nullptr, nullptr);
  g_object_unref(p);
  std::string out(buf, len);
  g_free(buf);
  return out;
}

std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string icns(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body;
  for (const auto& [type, data] : entries) body += type + be32(static_cast<uint32_t>(data.size() + 8)) + data;
  return "icns" + be32(static_cast<uint32_t>(body.size() + 8)) + body;
}

struct ToolRun {
  int status;
  std::string out, err;
  std::string all() const { return out + err; }
};

// A program's status and output; flatpak-builder keeps its state in `cwd`.
ToolRun run(const std::vector<std::string>& argv, const std::string& cwd = "") {
  ToolRun r;
  r.status = kit::runTool(argv, &r.out, &r.err, cwd);
  return r;
}

ToolRun kitRun(std::vector<std::string> args) {
  args.insert(args.begin(), CORVANE_KIT_BINARY);
  return run(args);
}

class PackageDeb : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"DEBEMAIL", "DEBFULLNAME", "EMAIL", "NAME"}) env.set(v, std::nullopt);
    env.set("SOURCE_DATE_EPOCH", "1767225600");
  }
  // Packages the bundle and answers the .deb's path (empty on failure).
  std::string package(const std::string& bundle, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"package", "deb", bundle, "-o", dir / "out"};
    args.insert(args.end(), extra.begin(), extra.end());
    last = kitRun(args);
    if (last.status != 0) return "";
    return last.out.substr(0, last.out.find('\n'));
  }
  std::string extract(const std::string& deb) {
    const std::string root = dir / "extracted";
    EXPECT_EQ(run({"dpkg-deb", "-x", deb, root}).all(), "");
    return root;
  }
  EnvGuard env;
  TempDir dir;
  ToolRun last;
};

TEST_F(PackageDeb, BadInputIsNamed) {
  struct Case {
    const char* what;
    json changes;  // to Info.plist; null removes the key
    std::pair<std::string, std::string> file;  // written into the bundle first
    int status;
    const char* message;
  };
  const std::string png8 = pngOfSize(8, 8), cutIcns = icns({{"ic08", pngOfSize(256, 256)}}).substr(0, 300);
  const Case cases[] = {
      {"no identifier", {{"CFBundleIdentifier", nullptr}}, {}, 1, "CFBundleIdentifier is missing"},
      {"identifier of one part", {{"CFBundleIdentifier", "PackTest"}}, {}, 1, "is not an application id"},
      {"no version", {{"CFBundleShortVersionString", nullptr}}, {}, 1, "CFBundleShortVersionString is missing"},
      {"a version of words", {{"CFBundleShortVersionString", "version one"}}, {}, 1,
       "CFBundleShortVersionString \"version one\" must start with a digit"},
      {"no maintainer", {{"CorvaneMaintainer", nullptr}}, {}, 1, "CorvaneMaintainer is missing"},
      {"a maintainer without address", {{"CorvaneMaintainer", "Somebody"}}, {}, 1, "is not \"Name <address>\""},
      {"a missing icon", {{"CFBundleIconFile", "Missing"}}, {}, 1, "CFBundleIconFile \"Missing\" names no file"},
      {"an icon that is no picture", {{"CFBundleIconFile", "Bad.png"}}, {"Resources/Bad.png", "GIF89a not a png"}, 1,
       "not a PNG, SVG or ICNS image"},
      {"a cut ICNS", {{"CFBundleIconFile", "Cut"}}, {"Resources/Cut.icns", cutIcns}, 1, "cut short"},
      {"a tiny icon", {{"CFBundleIconFile", "Tiny"}}, {"Resources/Tiny.png", png8}, 1, "16 at least are needed"},
      {"a bad release date", {{"CorvaneReleaseDate", "May 2026"}}, {}, 1, "is not a date"},
      {"a link out of the bundle", {}, {"link", ""}, 1,
       "Contents/Resources/public/lib.js is a link to ../../../../outside.js, outside the bundle"},
      {"no Info.plist", {}, {"no plist", ""}, 2, "is not an application bundle"},
      {"no folder", {}, {"no folder", ""}, 2, "is not an application bundle"},
  };
  int n = 0;
  for (const auto& c : cases) {
    json info = baseInfo();
    if (!c.changes.is_null()) info.merge_patch(c.changes);
    const std::string bundle = makeBundle(dir / std::to_string(++n), info);
    const auto& [file, content] = c.file;
    if (file == "link") fs::create_symlink("../../../../outside.js", bundle + "/Contents/Resources/public/lib.js");
    else if (file == "no plist") fs::remove(bundle + "/Contents/Info.plist");
    else if (file == "no folder") fs::remove_all(bundle);
    else if (!file.empty()) writeFile(bundle + "/Contents/" + file, content);
    EXPECT_EQ(package(bundle), "") << c.what;
    EXPECT_EQ(last.status, c.status) << c.what << "\n" << last.err;
    EXPECT_NE(last.err.find(c.message), std::string::npos) << c.what << "\n" << last.err;
    EXPECT_FALSE(fs::exists(dir / "out") && !fs::is_empty(dir / "out")) << c.what << ": something was written";
  }
  // The command line.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"package"}, {"package", "rpm", "X.app"}, {"package", "deb"}, {"package", "deb", "A.app", "B.app"},
           {"package", "deb", "A.app", "--bogus"}, {"package", "deb", "A.app", "-o"}, {"package", "flatpak", "A.app"}}) {
    EXPECT_EQ(kitRun(args).status, 2) << args.back();
  }
}

TEST_F(PackageDeb, WhatThePackageHolds) {
  json info = baseInfo();
  info["CFBundleName"] = "Pack; Test\nTwo";  // escaped by the desktop entry's rules
  info["CFBundleDisplayName"] = "Pack; Test\\Two";
  info["CFBundleIconFile"] = "Icon";
  info["LSApplicationCategoryType"] = "public.app-category.graphics-design";
  info["homePageURL"] = "https://example.org/pack";
  info["CorvaneDescription"] = "A test & its <tags>.\n\n- first\n- second";
  info["CorvaneLicense"] = "MIT";
  info["CorvaneKeywords"] = {"pack", "test"};
  info["CFBundleDocumentTypes"] = {
      {{"CFBundleTypeName", "Pack Sheet"}, {"CFBundleTypeExtensions", {"packsheet", ".PKS"}}},
      {{"CFBundleTypeName", "Picture"}, {"LSItemContentTypes", {"public.png"}}, {"CFBundleTypeMIMETypes", {"image/x-pack"}}},
      {{"CFBundleTypeName", "Anything"}, {"CFBundleTypeExtensions", {"*"}}}};
  const std::string bundle = makeBundle(dir.path(), info);
  // An ICNS icon: PNG images at two sizes and an old bitmap the reader skips.
  writeFile(bundle + "/Contents/Resources/Icon.icns",
            icns({{"TOC ", std::string(8, '\0')}, {"ic07", pngOfSize(128, 128)}, {"is32", std::string(20, 'x')},
                  {"ic08", pngOfSize(256, 256)}}));
  // A helper service and version-control litter.
  const std::string xpc = bundle + "/Contents/XPCServices/Sync.xpc/Contents";
  writeFile(xpc + "/Info.plist", "<plist><dict><key>CFBundleIdentifier</key><string>org.example.PackTest.Sync</string>"
                                 "<key>CFBundleExecutable</key><string>sync</string></dict></plist>");
  writeFile(xpc + "/MacOS/sync", "#!/bin/sh\n");
  fs::permissions(xpc + "/MacOS/sync", fs::perms::owner_exec, fs::perm_options::add);
  fs::create_symlink("index.html", bundle + "/Contents/Resources/public/start.html");  // stays inside: kept
  writeFile(bundle + "/.git/config", "[core]");
  writeFile(bundle + "/Contents/Resources/.DS_Store", "x");

  const std::string deb = package(bundle);
  ASSERT_FALSE(deb.empty()) << last.err;
  EXPECT_EQ(fs::path(deb).filename(), "org.example.packtest_2.1+7_all.deb");
  EXPECT_NE(last.err.find("warning"), std::string::npos) << "the \"*\" document type is not mentioned";

  const std::string control = run({"dpkg-deb", "-f", deb}).out;
  for (const char* line : {"Package: org.example.packtest\n", "Version: 2.1+7\n", "Architecture: all\n",
                           "Maintainer: Pack Tester <packs@example.org>\n", "Section: graphics\n",
                           "Homepage: https://example.org/pack\n", "Description: Checks what the packager writes\n",
                           " A test & its <tags>.\n .\n  - first\n  - second\n"})
    EXPECT_NE(control.find(line), std::string::npos) << line << "\n" << control;
  EXPECT_NE(control.find("Depends: corvane (>= " CORVANE_VERSION ")"), std::string::npos) << control;

  const std::string root = extract(deb);
  const std::string lib = root + "/usr/lib/org.example.packtest/PackTest.app";
  EXPECT_TRUE(fs::is_regular_file(lib + "/Contents/Resources/public/index.html"));
  EXPECT_EQ(fs::read_symlink(lib + "/Contents/Resources/public/start.html"), "index.html");
  EXPECT_FALSE(fs::exists(lib + "/.git"));
  EXPECT_FALSE(fs::exists(lib + "/Contents/Resources/.DS_Store"));
  // The bundle's own executable is replaced: no path of the build machine ships.
  EXPECT_EQ(readFile(lib + "/Contents/MacOS/PackTest").find("/work/build"), std::string::npos);
  EXPECT_EQ(fs::read_symlink(root + "/usr/bin/org.example.packtest"),
            "../lib/org.example.packtest/PackTest.app/Contents/MacOS/PackTest");
  EXPECT_EQ(readFile(root + "/usr/share/dbus-1/services/org.example.PackTest.Sync.service"),
            "[D-BUS Service]\nName=org.example.PackTest.Sync\n"
            "Exec=/usr/lib/org.example.packtest/PackTest.app/Contents/XPCServices/Sync.xpc/Contents/MacOS/sync\n");
  // Icons up to the ICNS's largest image, none enlarged.
  std::vector<std::string> icons;
  for (const auto& e : fs::directory_iterator(root + "/usr/share/icons/hicolor")) {
    int w = 0, h = 0;
    gdk_pixbuf_get_file_info((e.path() / "apps/org.example.PackTest.png").c_str(), &w, &h);
    icons.push_back(e.path().filename().string() + "=" + std::to_string(w) + "x" + std::to_string(h));
  }
  std::sort(icons.begin(), icons.end());
  EXPECT_EQ(icons, (std::vector<std::string>{"128x128=128x128", "16x16=16x16", "22x22=22x22", "24x24=24x24",
                                             "256x256=256x256", "32x32=32x32", "48x48=48x48", "64x64=64x64"}));

  // The desktop entry: valid, and its values read back exactly.
  const std::string entry = root + "/usr/share/applications/org.example.PackTest.desktop";
  EXPECT_EQ(run({"desktop-file-validate", entry}).all(), "");
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr));
  std::map<std::string, std::string> values;
  for (const char* key : {"Name", "Exec", "Icon", "StartupWMClass", "Categories", "MimeType"}) {
    gchar* v = g_key_file_get_string(file, "Desktop Entry", key, nullptr);
    values[key] = v ? v : "";
    g_free(v);
  }
  g_key_file_free(file);
  EXPECT_EQ(values, (std::map<std::string, std::string>{
                        {"Name", "Pack; Test\\Two"},
                        {"Exec", "org.example.packtest %F"},
                        {"Icon", "org.example.PackTest"},
                        {"StartupWMClass", "org.example.PackTest"},
                        {"Categories", "Graphics;"},
                        {"MimeType", "application/x-org.example.packtest-pack-sheet;image/x-pack;image/png;"}}));
  const std::string mime = readFile(root + "/usr/share/mime/packages/org.example.PackTest.xml");
  EXPECT_NE(mime.find("<mime-type type=\"application/x-org.example.packtest-pack-sheet\">"), std::string::npos) << mime;
  EXPECT_NE(mime.find("<glob pattern=\"*.PKS\"/>"), std::string::npos) << mime;
  EXPECT_EQ(mime.find("image/"), std::string::npos) << "a declared MIME type was declared again";

  const std::string metainfo = root + "/usr/share/metainfo/org.example.PackTest.metainfo.xml";
  const ToolRun verdict = run({"appstreamcli", "validate", "--no-net", "--no-color", metainfo});
  EXPECT_EQ(verdict.status, 0) << verdict.all();
  EXPECT_NE(readFile(metainfo).find("<p>A test &amp; its &lt;tags&gt;.</p>"), std::string::npos);
  EXPECT_NE(readFile(metainfo).find("<release version=\"2.1\" date=\"2026-01-02\"/>"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(root + "/usr/share/doc/org.example.packtest/changelog.gz"));
  EXPECT_TRUE(fs::is_regular_file(root + "/usr/share/man/man1/org.example.packtest.1.gz"));
}

TEST_F(PackageDeb, StandaloneCarriesTheShell) {
  json info = baseInfo();
  info["CFBundleExecutable"] = "packtest";
  const std::string deb = package(makeBundle(dir.path(), info), {"--standalone"});
  ASSERT_FALSE(deb.empty()) << last.err;
  const std::string control = run({"dpkg-deb", "-f", deb}).out;
  EXPECT_EQ(control.find("corvane"), std::string::npos) << control;
  EXPECT_NE(control.find("libwebkit2gtk-4.1-0"), std::string::npos) << control;
  const std::string root = extract(deb);
  const std::string contents = root + "/usr/lib/org.example.packtest/PackTest.app/Contents";
  for (const char* part : {"MacOS/packtest", "lib/corvane/web-extensions/libcorvane-webext.so",
                           "lib/corvane/modules/libcorvane-imaging.so", "libexec/corvane/corvane-agent-helper"}) {
    ASSERT_TRUE(fs::is_regular_file(contents + "/" + part)) << part;
    EXPECT_NE(run({"file", contents + "/" + part}).out.find(", stripped"), std::string::npos) << part;
  }
  EXPECT_NE(readFile(root + "/usr/share/dbus-1/services/org.example.PackTest.AgentHelper.service")
                .find("Exec=/usr/lib/org.example.packtest/PackTest.app/Contents/libexec/corvane/corvane-agent-helper\n"),
            std::string::npos);
  // The copied shell runs and finds its bundle from where it lies.
  EXPECT_EQ(run({contents + "/MacOS/packtest", "--version"}).all(), "corvane " CORVANE_VERSION "\n");
}

TEST_F(PackageDeb, AFullDiskLeavesTheOldPackage) {
  // The output folder on a small tmpfs that cannot hold the package: the
  // package already there stays whole, and no piece is left beside it.
  ScratchMount disk(64 * 1024);
  if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
  const std::string full = disk.path();
  const std::string bundle = makeBundle(dir.path(), baseInfo());
  // Random bytes do not compress: the package outgrows the disk.
  run({"sh", "-c", "head -c 300000 /dev/urandom > '" + bundle + "/Contents/Resources/public/noise.bin'"});
  writeFile(full + "/org.example.packtest_2.1+7_all.deb", "the old package");

  last = kitRun({"package", "deb", bundle, "-o", full});
  EXPECT_EQ(last.status, 1) << last.out;
  EXPECT_NE(last.err.find("dpkg-deb failed"), std::string::npos) << last.err;
  EXPECT_TRUE(readFile(full + "/org.example.packtest_2.1+7_all.deb") == "the old package")
      << "the old package was overwritten";
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(full)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>({"org.example.packtest_2.1+7_all.deb"}));
}

TEST(PackageFlatpak, ManifestNamesWhatItBuilds) {
  EnvGuard env;
  TempDir dir;
  json info = baseInfo();
  info["CFBundleIconFile"] = "Icon.svg";
  info["CorvaneFlatpakFinishArgs"] = {"--filesystem=xdg-documents"};
  const std::string bundle = makeBundle(dir.path(), info);
  writeFile(bundle + "/Contents/Resources/Icon.svg",
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\"><rect width=\"32\" height=\"32\"/></svg>");
  const ToolRun r = kitRun({"package", "flatpak", bundle, "-o", dir / "fp", "--shell-source", CORVANE_SOURCE_DIR});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string manifestPath = dir / "fp/org.example.PackTest.json";
  EXPECT_EQ(r.out, manifestPath + "\n");
  const json manifest = json::parse(readFile(manifestPath));
  EXPECT_EQ(manifest["app-id"], "org.example.PackTest");
  EXPECT_EQ(manifest["command"], "org.example.packtest");
  const auto& args = manifest["finish-args"];
  for (const char* a : {"--socket=wayland", "--socket=fallback-x11", "--share=network", "--filesystem=xdg-documents"})
    EXPECT_NE(std::find(args.begin(), args.end(), a), args.end()) << a;
  EXPECT_EQ(manifest["modules"][0]["sources"][0]["path"], CORVANE_SOURCE_DIR);
  EXPECT_TRUE(fs::is_regular_file(dir / "fp/icons/hicolor/scalable/apps/org.example.PackTest.svg"));
  EXPECT_TRUE(fs::is_regular_file(dir / "fp/icons/hicolor/512x512/apps/org.example.PackTest.png"));

  // flatpak-builder reads the manifest without a warning, and every local
  // source it names is there.
  const ToolRun shown = run({"flatpak-builder", "--show-manifest", manifestPath}, dir.path());
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.err.find("WARNING"), std::string::npos) << shown.err;
  const ToolRun deps = run({"flatpak-builder", "--show-deps", manifestPath}, dir.path());
  ASSERT_EQ(deps.status, 0) << deps.err;
  std::istringstream lines(deps.out);
  int named = 0;
  for (std::string dep; std::getline(lines, dep); ++named) {
    const fs::path p = fs::path(dep).is_absolute() ? fs::path(dep) : fs::path(dir / "fp") / dep;
    EXPECT_TRUE(fs::exists(p)) << dep;
  }
  EXPECT_GE(named, 5);
  EXPECT_EQ(run({"desktop-file-validate", dir / "fp/org.example.PackTest.desktop"}).all(), "");
}

}  // namespace
