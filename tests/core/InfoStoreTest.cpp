// The local info store, the user defaults as pages use them on faulty
// disks, and other-app information.
#include "TestSupport.h"
#include "support/ScratchMount.h"

#include "app/InfoPlist.h"
#include "app/UserDefaults.h"
#include "services/ImageFiles.h"
#include "services/InfoStore.h"
#include "services/OtherAppInfo.h"


using namespace corvane;
using namespace corvane::test;
using nlohmann::json;

namespace {

class InfoFiles : public testing::Test {
 protected:
  TempDir tmp;
};


}  // namespace

TEST_F(InfoFiles, MessagesAreExact) {
  const std::string path = tmp / "a.plist";
  EXPECT_EQ(infostore::getAppInfoFromLocal({{"filePath", tmp / "none.plist"}}),
            (json{{"success", false}, {"error", "file is not exists."}}));
  EXPECT_EQ(infostore::getAppInfoFromLocal(json::object()), (json{{"success", false}, {"error", "file is not exists."}}));
  for (const json& bad : {json("text"), json(3), json(true)})
    EXPECT_EQ(infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", bad}}),
              (json{{"success", false}, {"error", "data format type is error."}}));
  EXPECT_EQ(infostore::saveAppInfoToLocal({{"filePath", path}}),
            (json{{"success", false}, {"error", "data format type is error."}}));
  // A folder that does not exist: the write fails as a write.
  EXPECT_EQ(infostore::saveAppInfoToLocal({{"filePath", tmp / "no/such/dir/a.plist"}, {"appInfo", {{"a", 1}}}}),
            (json{{"success", false}, {"error", "file save error."}}));
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(InfoFiles, AnArraySavesButDoesNotReadBackAsADictionary) {
  const std::string path = tmp / "list.plist";
  EXPECT_EQ(infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", {1, 2}}}), (json{{"success", true}}));
  const json read = infostore::getAppInfoFromLocal({{"filePath", path}});
  EXPECT_EQ(read["success"], false);
  EXPECT_NE(read["error"].get<std::string>().find("dictionary"), std::string::npos) << read;
  // Unreadable content reports why too.
  writeFile(tmp / "junk.plist", "not a plist");
  EXPECT_EQ(infostore::getAppInfoFromLocal({{"filePath", tmp / "junk.plist"}})["success"], false);
  EXPECT_TRUE(infostore::getAppInfoFromLocal({{"filePath", tmp / "junk.plist"}})["error"].is_string());
}

TEST_F(InfoFiles, NullInsideTheDataIsRefusedAndLeavesTheOldFile) {
  const std::string path = tmp / "keep.plist";
  ASSERT_EQ(infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", {{"v", 1}}}})["success"], true);
  const std::string before = readFile(path);
  const json r = infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", {{"v", {1, nullptr}}}}});
  EXPECT_EQ(r["success"], false);
  EXPECT_NE(r["error"].get<std::string>().find("null"), std::string::npos) << r;
  EXPECT_EQ(readFile(path), before);
  UserDefaults d(tmp / "defaults.json");
  EXPECT_EQ(infostore::setInfoToUserDefaults({{"key", "n"}, {"value", {{"x", nullptr}}}}, d)["success"], false);
  EXPECT_FALSE(d.objectForKey("n"));
}

TEST_F(InfoFiles, DefaultsStoreEveryTypeAndAnswerExactly) {
  UserDefaults d(tmp / "defaults.json");
  for (const json& value : {json(false), json(""), json(0), json(-3.5), json("x"), json({1, 2}), json({{"a", {{"b", true}}}})}) {
    EXPECT_EQ(infostore::setInfoToUserDefaults({{"key", "k"}, {"value", value}}, d), (json{{"success", true}}));
    EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "k"}}, d), (json{{"success", true}, {"result", value}}));
    EXPECT_EQ(UserDefaults(tmp / "defaults.json").objectForKey("k"), value) << "written to disk at once";
  }
  EXPECT_EQ(infostore::setInfoToUserDefaults({{"key", "k"}}, d),
            (json{{"success", false}, {"error", "key and value can't empty!"}}));
  EXPECT_EQ(infostore::setInfoToUserDefaults({{"key", ""}, {"value", 1}}, d),
            (json{{"success", false}, {"error", "key and value can't empty!"}}));
  EXPECT_EQ(infostore::getInfoFromUserDefaults(json::object(), d),
            (json{{"success", false}, {"error", "key can't empty!"}}));
  EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "never"}}, d),
            (json{{"success", false}, {"error", "map key value no found!"}}));
  EXPECT_EQ(infostore::removeItemFromUserDefaults({{"key", "never"}}, d),
            (json{{"success", false}, {"error", "map key value no found!"}}));
  EXPECT_EQ(infostore::removeItemFromUserDefaults({{"key", ""}}, d),
            (json{{"success", false}, {"error", "key can't empty!"}}));
  EXPECT_EQ(infostore::removeItemFromUserDefaults({{"key", "k"}}, d), (json{{"success", true}}));
  EXPECT_FALSE(UserDefaults(tmp / "defaults.json").objectForKey("k"));
  // The system's keys are readable too.
  EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "AppleLanguages"}}, d)["success"], true);
}

// The page's defaults on a full disk and a read-only one: a set or a remove
// that does not reach the disk answers failure and changes nothing, in
// memory or on disk.
TEST_F(InfoFiles, DefaultsInMemoryAlwaysMatchTheDisk) {
  ScratchMount disk(64 * 1024);
  if (!disk.skipReason().empty()) GTEST_SKIP() << disk.skipReason();
  const std::string store = disk / "corvane/app.json";
  UserDefaults d(store);
  ASSERT_EQ(infostore::setInfoToUserDefaults({{"key", "kept"}, {"value", "old"}}, d)["success"], true);
  const json kept = {{"success", true}, {"result", "old"}};
  struct Fault {
    const char* name;
    bool readOnly;
  };
  for (const Fault& fault : {Fault{"full", false}, Fault{"read-only", true}}) {
    SCOPED_TRACE(fault.name);
    if (fault.readOnly) {
      ASSERT_TRUE(disk.setReadOnly(true));
    } else {
      disk.fill();
    }
    const json set = infostore::setInfoToUserDefaults({{"key", "kept"}, {"value", std::string(50000, 'x')}}, d);
    EXPECT_EQ(set["success"], false);
    EXPECT_NE(set["error"].get<std::string>().find(fault.readOnly ? "read-only" : "not enough space"), std::string::npos)
        << set;
    EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "kept"}}, d), kept);
    EXPECT_EQ(infostore::setInfoToUserDefaults({{"key", "new"}, {"value", 1}}, d)["success"], false);
    EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "new"}}, d)["success"], false);
    EXPECT_EQ(infostore::removeItemFromUserDefaults({{"key", "kept"}}, d)["success"], false);
    EXPECT_EQ(infostore::getInfoFromUserDefaults({{"key", "kept"}}, d), kept);
    EXPECT_EQ(UserDefaults(store).objectForKey("kept"), json("old"));
    if (fault.readOnly) {
      ASSERT_TRUE(disk.setReadOnly(false));
    }
    fs::remove(disk / ".filler");
    // With room again, nothing refused earlier reaches the disk later.
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(store).dictionaryRepresentation(), (json{{"kept", "old"}}));
  }
}

namespace {

// Objects and arrays nested `depth` levels deep, an object outermost.
json nested(size_t depth) {
  json v = json::object();
  for (size_t level = 2; level <= depth; ++level)
    v = level == depth || level % 2 == 0 ? json{{"in", v}, {"n", 2}} : json::array({v, 1});
  return v;
}

// A binary property list of `depth` arrays, each holding the next; with
// `loop`, the first holds itself.
std::string deepBinaryPlist(uint32_t depth, bool loop = false) {
  std::string out = "bplist00";
  std::vector<uint32_t> offsets;
  auto be32 = [&out](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
  };
  for (uint32_t i = 0; i < depth; ++i) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    if (i + 1 < depth || loop) {
      out.push_back(static_cast<char>(0xA1));
      be32(loop ? i : i + 1);
    } else {
      out.push_back(static_cast<char>(0xA0));
    }
  }
  const uint32_t table = static_cast<uint32_t>(out.size());
  for (uint32_t o : offsets) be32(o);
  out.append(6, '\0');
  out.push_back(4);  // offset width
  out.push_back(4);  // reference width
  out.append(4, '\0');
  be32(depth);
  out.append(8, '\0');  // top object 0
  out.append(4, '\0');
  be32(table);
  return out;
}

}  // namespace

// What the store accepts it can read back: a value nested deeper than the
// reader takes is refused when saving, with a reason, and the old file stays.
// Files nested far deeper (made by hand) are refused by the reader instead
// of ending the process.
TEST_F(InfoFiles, WhatTheStoreAcceptsItCanReadBack) {
  const std::string path = tmp / "deep.plist";
  for (size_t depth : {1, 100, 255, 256, 257, 400}) {
    SCOPED_TRACE(depth);
    writeFile(path, "before");
    const json value = nested(depth);
    const json saved = infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", value}});
    const json read = infostore::getAppInfoFromLocal({{"filePath", path}});
    if (depth <= 256) {
      EXPECT_EQ(saved, (json{{"success", true}}));
      EXPECT_EQ(read, (json{{"success", true}, {"result", value}}));
    } else {
      EXPECT_EQ(saved["success"], false);
      EXPECT_NE(saved["error"].get<std::string>().find("nested deeper than 256 levels"), std::string::npos) << saved;
      EXPECT_EQ(readFile(path), "before");
    }
    // The defaults keep every key in one object: one level less.
    UserDefaults d(tmp / "deep-defaults.json");
    const json set = infostore::setInfoToUserDefaults({{"key", "deep"}, {"value", value}}, d);
    EXPECT_EQ(set["success"], depth <= 255) << set;
    if (depth <= 255) {
      EXPECT_EQ(UserDefaults(tmp / "deep-defaults.json").objectForKey("deep"), value);
    }
  }
  for (const auto& e : fs::directory_iterator(tmp.path()))
    EXPECT_EQ(e.path().filename().string().find(".corrupt-"), std::string::npos) << e.path();

  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>";
  for (int i = 0; i < 100000; ++i) xml += "<array>";
  for (int i = 0; i < 100000; ++i) xml += "</array>";
  writeFile(tmp / "hostile.plist", xml + "</dict></plist>");
  writeFile(tmp / "hostile.bplist", deepBinaryPlist(100000));
  for (const char* name : {"hostile.plist", "hostile.bplist"}) {
    const json read = infostore::getAppInfoFromLocal({{"filePath", tmp / name}});
    EXPECT_EQ(read["success"], false) << name;
    EXPECT_NE(read["error"].get<std::string>().find("nested deeper than 256 levels"), std::string::npos) << read;
  }
  // Within the bound, the binary form reads; a list that holds itself does not.
  writeFile(tmp / "ok.bplist", deepBinaryPlist(3));
  EXPECT_EQ(readPropertyList(tmp / "ok.bplist"), (json::array({json::array({json::array()})})));
  writeFile(tmp / "loop.bplist", deepBinaryPlist(2, true));
  std::string why;
  EXPECT_FALSE(readPropertyList(tmp / "loop.bplist", &why));
  EXPECT_NE(why.find("not a property list"), std::string::npos) << why;
}

// A folder, or a file that cannot be read, is reported in words; no text of
// the C++ library reaches the page.
TEST_F(InfoFiles, UnreadableInfoFilesAreReportedInWords) {
  fs::create_directories(tmp / "folder.plist");
  const json folder = infostore::getAppInfoFromLocal({{"filePath", tmp / "folder.plist"}});
  EXPECT_EQ(folder, (json{{"success", false}, {"error", "cannot read " + tmp / "folder.plist" + ": it is a folder"}}));
  EXPECT_EQ(infostore::saveAppInfoToLocal({{"filePath", tmp / "folder.plist"}, {"appInfo", {{"a", 1}}}}),
            (json{{"success", false}, {"error", "file save error."}}));
  EXPECT_TRUE(fs::is_directory(tmp / "folder.plist"));
}

// ---- other-app information ------------------------------------------------------

namespace {

std::string makePng(const std::string& path, int w, int h) {
  fs::create_directories(fs::path(path).parent_path());
  // A small real image made by the library from a PPM.
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int i = 0; i < w * h; ++i) ppm += std::string("\xff\x80\x00", 3);
  EXPECT_TRUE(imagefiles::writeImage(ppm, imagefiles::ImageType::Png, path));
  return path;
}

otherapp::PngWriter pngWriter() {
  return [](const std::string& image, const std::string& png) {
    return imagefiles::convertImageFile(image, imagefiles::ImageType::Png, png);
  };
}

}  // namespace

TEST_F(InfoFiles, ABundleAnswersItsFactsAndAPngCopyOfItsIcon) {
  const std::string bundle = makeBundle(tmp.path(), "Other", {{"CFBundleIdentifier", "org.example.other"},
                                                              {"CFBundleName", "Other"},
                                                              {"CFBundleDisplayName", "Other Shown"},
                                                              {"CFBundleShortVersionString", "2.0"},
                                                              {"CFBundleVersion", "200"},
                                                              {"LSApplicationCategoryType", "public.app-category.tools"},
                                                              {"CFBundleIconFile", "Icon.png"}});
  makePng(bundle + "/Contents/Resources/Icon.png", 16, 8);
  auto answer = otherapp::getOtherAppInfo(bundle, pngWriter());
  ASSERT_TRUE(std::holds_alternative<json>(answer));
  json info = std::get<json>(answer);
  const std::string png = info["AppIcon2PngPath"];
  info.erase("AppIcon2PngPath");
  EXPECT_EQ(info, (json{{"AppId", "org.example.other"},
                        {"AppName", "Other Shown"},
                        {"AppVersion", "2.0"},
                        {"AppBuildVersion", "200"},
                        {"AppCategoryType", "public.app-category.tools"},
                        {"AppIconValue", "Icon.png"},
                        {"AppIconPath", bundle + "/Contents/Resources/Icon.png"}}));
  EXPECT_NE(png.find("tmp_rs_image_"), std::string::npos);
  EXPECT_EQ(commandOutput("gm identify -format '%m %wx%h' '" + png + "'"), "PNG 16x8\n");
  fs::remove(png);
  // The name without extension is found as a resource of the icon type.
  const std::string plain = makeBundle(tmp.path(), "Plain", {{"CFBundleExecutable", "plain"}, {"CFBundleVersion", "5"},
                                                             {"CFBundleIconFile", "Icon"}});
  makePng(plain + "/Contents/Resources/Icon.png", 4, 4);
  json p = std::get<json>(otherapp::getOtherAppInfo(plain, pngWriter()));
  EXPECT_EQ(p["AppName"], "plain");
  EXPECT_EQ(p["AppVersion"], "5");
  EXPECT_EQ(p["AppIconPath"], plain + "/Contents/Resources/Icon.png");
  fs::remove(p["AppIcon2PngPath"].get<std::string>());
  // A name that leaves the resource folder names no icon, even where a
  // file is there.
  makePng(tmp.path() + "/outside.png", 4, 4);
  const std::string leaving = makeBundle(tmp.path(), "Leaving", {{"CFBundleIconFile", "../../../outside.png"}});
  json l = std::get<json>(otherapp::getOtherAppInfo(leaving, pngWriter()));
  EXPECT_FALSE(l.contains("AppIconPath")) << l;
}

TEST_F(InfoFiles, DesktopEntriesMapToTheSameKeys) {
  EnvGuard env;
  env.set("XDG_DATA_HOME", tmp / "data");
  env.set("XDG_DATA_DIRS", tmp / "sys");
  env.set("HOME", tmp / "home");
  writeFile(tmp / "sys/applications/vendor/editor.desktop",
            "[Desktop Entry]\nType=Application\nName=Text Editor\nName[de]=Texteditor\nExec=editor %F\n"
            "Icon=org.example.Editor\nCategories=Utility;TextEditor;\nX-AppVersion=3.1\nVersion=1.0\n");
  makePng(tmp / "sys/icons/hicolor/16x16/apps/org.example.Editor.png", 16, 16);
  makePng(tmp / "sys/icons/hicolor/48x48/apps/org.example.Editor.png", 48, 48);
  writeFile(tmp / "sys/icons/hicolor/scalable/apps/org.example.Editor.svg", "<svg/>");
  auto path = otherapp::desktopEntryForId("vendor-editor");
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, tmp / "sys/applications/vendor/editor.desktop");
  EXPECT_EQ(otherapp::desktopEntryForId("vendor-editor.desktop"), path);
  env.set("LANGUAGE", "");
  env.set("LC_ALL", "C");
  json info = std::get<json>(otherapp::getOtherAppInfo(*path, pngWriter()));
  const std::string png = info["AppIcon2PngPath"];
  info.erase("AppIcon2PngPath");
  EXPECT_EQ(info, (json{{"AppId", "vendor-editor"},
                        {"AppName", "Text Editor"},
                        {"AppVersion", "3.1"},
                        {"AppBuildVersion", "3.1"},
                        {"AppCategoryType", "Utility;TextEditor;"},
                        {"AppIconValue", "org.example.Editor"},
                        {"AppIconPath", tmp / "sys/icons/hicolor/48x48/apps/org.example.Editor.png"}}));
  EXPECT_EQ(commandOutput("gm identify -format '%wx%h' '" + png + "'"), "48x48\n");
  fs::remove(png);
  // An entry without version or icon answers the keys it has.
  writeFile(tmp / "data/applications/bare.desktop", "[Desktop Entry]\nType=Application\nName=Bare\nExec=bare\n");
  EXPECT_EQ(std::get<json>(otherapp::getOtherAppInfo(tmp / "data/applications/bare.desktop", pngWriter())),
            (json{{"AppId", "bare"}, {"AppName", "Bare"}}));
  EXPECT_FALSE(otherapp::desktopEntryForId("missing"));
  EXPECT_FALSE(otherapp::desktopEntryForId("../etc/passwd"));
}
