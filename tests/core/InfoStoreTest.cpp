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

// Each refusal's answer, exactly; a refused save leaves the file as it was.
TEST_F(InfoFiles, RefusalsAnswerInTheirOwnWordsAndLeaveTheFile) {
  const std::string path = tmp / "keep.plist";
  ASSERT_EQ(infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", {{"v", 1}}}})["success"], true);
  const std::string before = readFile(path);
  writeFile(tmp / "junk.plist", "not a plist");
  ASSERT_EQ(infostore::saveAppInfoToLocal({{"filePath", tmp / "list.plist"}, {"appInfo", {1, 2}}})["success"], true);
  fs::create_directories(tmp / "folder.plist");
  auto failed = [](const std::string& why) { return json{{"success", false}, {"error", why}}; };
  UserDefaults d(tmp / "defaults.json");
  struct Case {
    const char* fault;
    json answer;
    json expected;  // a text: a piece of the error
  };
  const Case cases[] = {
      {"missing file", infostore::getAppInfoFromLocal({{"filePath", tmp / "none.plist"}}), failed("file is not exists.")},
      {"no path", infostore::getAppInfoFromLocal(json::object()), failed("file is not exists.")},
      {"text as info", infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", "text"}}),
       failed("data format type is error.")},
      {"number as info", infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", 3}}),
       failed("data format type is error.")},
      {"no info", infostore::saveAppInfoToLocal({{"filePath", path}}), failed("data format type is error.")},
      {"missing folder", infostore::saveAppInfoToLocal({{"filePath", tmp / "no/such/dir/a.plist"}, {"appInfo", {{"a", 1}}}}),
       failed("file save error.")},
      {"folder as file", infostore::saveAppInfoToLocal({{"filePath", tmp / "folder.plist"}, {"appInfo", {{"a", 1}}}}),
       failed("file save error.")},
      {"read a folder", infostore::getAppInfoFromLocal({{"filePath", tmp / "folder.plist"}}),
       failed("cannot read " + tmp / "folder.plist" + ": it is a folder")},
      {"null inside", infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", {{"v", {1, nullptr}}}}}), "null"},
      {"array read back", infostore::getAppInfoFromLocal({{"filePath", tmp / "list.plist"}}), "dictionary"},
      {"not a plist", infostore::getAppInfoFromLocal({{"filePath", tmp / "junk.plist"}}), ""},
      {"null in a default", infostore::setInfoToUserDefaults({{"key", "n"}, {"value", {{"x", nullptr}}}}, d), "null"},
      {"no value", infostore::setInfoToUserDefaults({{"key", "k"}}, d), failed("key and value can't empty!")},
      {"empty key", infostore::setInfoToUserDefaults({{"key", ""}, {"value", 1}}, d), failed("key and value can't empty!")},
      {"get without key", infostore::getInfoFromUserDefaults(json::object(), d), failed("key can't empty!")},
      {"get unknown", infostore::getInfoFromUserDefaults({{"key", "never"}}, d), failed("map key value no found!")},
      {"remove unknown", infostore::removeItemFromUserDefaults({{"key", "never"}}, d), failed("map key value no found!")},
      {"remove empty key", infostore::removeItemFromUserDefaults({{"key", ""}}, d), failed("key can't empty!")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    if (c.expected.is_string()) {
      EXPECT_EQ(c.answer["success"], false);
      EXPECT_NE(c.answer.value("error", "").find(c.expected.get<std::string>()), std::string::npos) << c.answer;
    } else {
      EXPECT_EQ(c.answer, c.expected);
    }
  }
  EXPECT_EQ(readFile(path), before);
  EXPECT_TRUE(fs::is_directory(tmp / "folder.plist"));
  EXPECT_FALSE(d.objectForKey("n"));
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
    ASSERT_TRUE(fault.readOnly ? disk.setReadOnly(true) : (disk.fill(), true));
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
    ASSERT_TRUE(!fault.readOnly || disk.setReadOnly(false));
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

// What the store accepts it can read back; files nested far deeper (made by
// hand) are refused by the reader instead of ending the process.
TEST_F(InfoFiles, WhatTheStoreAcceptsItCanReadBack) {
  const std::string path = tmp / "deep.plist";
  for (size_t depth : {1, 100, 255, 256, 257, 400}) {
    SCOPED_TRACE(depth);
    writeFile(path, "before");
    const json value = nested(depth);
    const json saved = infostore::saveAppInfoToLocal({{"filePath", path}, {"appInfo", value}});
    const json read = infostore::getAppInfoFromLocal({{"filePath", path}});
    if (depth <= 256) {
      EXPECT_EQ(json::array({saved, read}), json::array({{{"success", true}}, {{"success", true}, {"result", value}}}));
    } else {
      EXPECT_NE(saved.value("error", "").find("nested deeper than 256 levels"), std::string::npos) << saved;
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
    EXPECT_NE(read.value("error", "").find("nested deeper than 256 levels"), std::string::npos) << read;
  }
  // Within the bound, the binary form reads; a list that holds itself does not.
  writeFile(tmp / "ok.bplist", deepBinaryPlist(3));
  EXPECT_EQ(readPropertyList(tmp / "ok.bplist"), (json::array({json::array({json::array()})})));
  writeFile(tmp / "loop.bplist", deepBinaryPlist(2, true));
  std::string why;
  EXPECT_FALSE(readPropertyList(tmp / "loop.bplist", &why));
  EXPECT_NE(why.find("not a property list"), std::string::npos) << why;
}

// ---- other-app information ------------------------------------------------------

namespace {

// A real one-colour image, made by the library from a PPM.
std::string makePng(const std::string& path, int w, int h) {
  fs::create_directories(fs::path(path).parent_path());
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

// The icon of another bundle (its other facts are checked end to end):
// found without its extension and answered with a PNG copy; a name that
// leaves the resource folder names no icon, even where a file is there.
TEST_F(InfoFiles, ABundlesIconIsAPngCopyOfAResourceOfItsOwn) {
  const std::string bundle = makeBundle(tmp.path(), "Other", {{"CFBundleExecutable", "other"}, {"CFBundleIconFile", "Icon"},
                                                              {"LSApplicationCategoryType", "public.app-category.tools"}});
  makePng(bundle + "/Contents/Resources/Icon.png", 16, 8);
  json info = std::get<json>(otherapp::getOtherAppInfo(bundle, pngWriter()));
  const std::string png = info["AppIcon2PngPath"];
  EXPECT_NE(png.find("tmp_rs_image_"), std::string::npos);
  EXPECT_EQ(commandOutput("gm identify -format '%m %wx%h' '" + png + "'"), "PNG 16x8\n");
  fs::remove(png);
  info.erase("AppIcon2PngPath");
  EXPECT_EQ(info, (json{{"AppName", "other"},
                        {"AppCategoryType", "public.app-category.tools"},
                        {"AppIconValue", "Icon"},
                        {"AppIconPath", bundle + "/Contents/Resources/Icon.png"}}));
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
  const std::string path = tmp / "sys/applications/vendor/editor.desktop";
  EXPECT_EQ(otherapp::desktopEntryForId("vendor-editor"), path);
  EXPECT_EQ(otherapp::desktopEntryForId("vendor-editor.desktop"), path);
  env.set("LANGUAGE", "");
  env.set("LC_ALL", "C");
  json info = std::get<json>(otherapp::getOtherAppInfo(path, pngWriter()));
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
