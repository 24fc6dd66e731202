// The tray icon end to end, on a private bus with no status notifier
// watcher at first: once the page has shown its icon, the driver starts
// one (support/TrayWatcher) and acts as the panel, step by step.
#include "ProcessHelpers.h"
#include "ShellSuite.h"
#include "support/PrivateBus.h"
#include "support/TrayWatcher.h"

#include <gtest/gtest.h>

#include <glib.h>

#include <filesystem>

using nlohmann::json;
using corvane::e2e::ShellHarness;
using corvane::e2e::waitUntil;
namespace fs = std::filesystem;

namespace {

// A 4x4 opaque red PNG.
constexpr const char* kRedPng =
    "iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAYAAACp8Z5+AAAAEklEQVR4nGP4z8DwHxkzkC4AADxAH+HggXe0AAAAAElFTkSuQmCC";

// A D-Bus value as a panel reads it: texts, numbers and booleans as such,
// dictionaries as objects, other containers (tuples too) as arrays.
json fromVariant(GVariant* v) {
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH))
    return g_variant_get_string(v, nullptr);
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN)) return static_cast<bool>(g_variant_get_boolean(v));
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32)) return g_variant_get_int32(v);
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(v);
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE)) return g_variant_get_byte(v);
  if (!g_variant_is_container(v)) throw std::runtime_error(std::string("no JSON for ") + g_variant_get_type_string(v));
  const bool dictionary = g_variant_is_of_type(v, G_VARIANT_TYPE("a{s*}"));
  json out = dictionary ? json::object() : json::array();
  for (gsize i = 0; i < g_variant_n_children(v); ++i) {
    GVariant* child = g_variant_get_child_value(v, i);
    json item = fromVariant(child);  // a dictionary's entry: [key, value]
    g_variant_unref(child);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) return item;
    if (dictionary) out[item[0].get<std::string>()] = item[1];
    else out.push_back(item);
  }
  return out;
}

class TrayE2E : public corvane::e2e::ShellSuite<TrayE2E> {
 protected:
  static void SetUpTestSuite() {
    shell = std::make_unique<ShellHarness>();
    shell->makeBundle({{"AppExInfo", {{"startPage", "public/index.html"}}}}, CORVANE_E2E_TRAY_PAGES);
    gsize size = 0;
    guchar* png = g_base64_decode(kRedPng, &size);
    shell->writeFile(shell->resourcePath() + "/public/tray.png", std::string(reinterpret_cast<char*>(png), size));
    g_free(png);
    const std::string services = shell->root() + "/services";
    fs::create_directories(services);
    corvane::test::PrivateBus bus(services);  // no watcher on it yet
    corvane::test::TrayWatcher watcher(bus.address());
    auto env = shell->sessionEnv();
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    runShell(env, 120, [&](const std::atomic<bool>&) { drive(watcher); });
  }

  // The panel, step by step with the page.
  static void drive(corvane::test::TrayWatcher& watcher) try {
    if (shell->stepped("ready")) {
      watcher.start();
      waitUntil([&] { return !watcher.registrations().empty(); }, 20);
      const auto registered = watcher.registrations();
      if (!registered.empty()) {
        service = registered[0].service;
        seen["item"] = item(watcher);
        panel(watcher);
      }
      shell->ack("ready");
    }
    if (shell->stepped("changed")) {
      seen["itemAfter"] = item(watcher);
      seen["layoutAfter"] = layout(watcher);
      shell->ack("changed");
    }
    if (shell->stepped("restart")) {
      watcher.stop();
      seen["ownerWhileStopped"] = watcher.nameHasOwner("org.kde.StatusNotifierWatcher");
      watcher.start();
      waitUntil([&] { return watcher.registrations().size() >= 2; }, 20);
      seen["registrations"] = json::array();
      for (const auto& r : watcher.registrations()) seen["registrations"].push_back(r.service);
      shell->ack("restart");
    }
    if (shell->stepped("by-name")) {
      watcher.call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                   g_variant_new("(ii)", 5, 6));
      shell->ack("by-name");
    }
    if (shell->stepped("hidden")) {
      seen["itemGone"] = waitUntil([&] { return !watcher.nameHasOwner(service); }, 10);
      shell->ack("hidden");
    }
  } catch (const std::exception& e) {
    seen["driverError"] = e.what();
  }

  // The item's properties, and its menu's layout: [revision, [id, properties, [children...]]].
  static json item(corvane::test::TrayWatcher& w) {
    return call(w, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "GetAll",
                g_variant_new("(s)", "org.kde.StatusNotifierItem"))[0];
  }
  static json layout(corvane::test::TrayWatcher& w) {
    return call(w, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
  }
  static json call(corvane::test::TrayWatcher& w, const char* path, const char* interface, const char* method,
                   GVariant* args) {
    GVariant* reply = nullptr;
    w.call(service, path, interface, method, args, &reply);
    json out = fromVariant(reply);
    g_variant_unref(reply);
    return out;
  }

  static int idOf(const json& node, const std::string& label) {
    if (node[1].value("label", "") == label) return node[0];
    for (const auto& child : node[2])
      if (int id = idOf(child, label)) return id;
    return 0;
  }

  // A person at the panel: a click, a middle click, two scrolls, menu choices.
  static void panel(corvane::test::TrayWatcher& w) {
    seen["layout"] = layout(w);
    const json& root = seen["layout"][1];
    const auto item = [&](const char* method, GVariant* args) {
      w.call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", method, args);
    };
    item("Activate", g_variant_new("(ii)", 11, 22));
    item("SecondaryActivate", g_variant_new("(ii)", 33, 44));
    item("Scroll", g_variant_new("(is)", 3, "vertical"));
    item("Scroll", g_variant_new("(is)", -2, "Horizontal"));
    const auto click = [&](const char* label) {
      w.call(service, "/MenuBar", "com.canonical.dbusmenu", "Event",
             g_variant_new("(isvu)", idOf(root, label), "clicked", g_variant_new_int32(0), 0u));
    };
    click("Disabled");     // no choice: it is disabled
    click("Preferences");  // no choice: it opens a submenu
    click("Open");
    click("Dark__mode");
  }

  void SetUp() override {
    ASSERT_FALSE(seen.contains("driverError")) << seen["driverError"] << "\n" << *log;
    ShellSuite::SetUp();
  }

  static inline json seen;
  static inline std::string service;
};

// Unavailable and hidden without a watcher, shown all the same; a click, a
// middle click, two scrolls and two menu choices from the panel (the
// disabled item and the submenu's parent choose nothing); a callback named
// by text.
TEST_F(TrayE2E, ThePageSawTheTrayAsThePanelUsedIt) {
  EXPECT_EQ(*report, (json{{"availableAtStart", false},
                           {"shownAtStart", false},
                           {"icons",
                            {{"file", true}, {"theme", true}, {"notTheApplications", false}, {"missingFile", false}}},
                           {"sameMenu", true},
                           {"shownBeforeWatcher", true},
                           {"availableWithWatcher", true},
                           {"events", json::array({{{"type", "activate"}, {"x", 11}, {"y", 22}},
                                                   {{"type", "secondaryActivate"}, {"x", 33}, {"y", 44}},
                                                   {{"type", "scroll"}, {"delta", 3}, {"orientation", "vertical"}},
                                                   {{"type", "scroll"}, {"delta", -2}, {"orientation", "horizontal"}},
                                                   {{"type", "menu"}, {"title", "Open"}},
                                                   {{"type", "menu"}, {"title", "Dark_mode"}}})},
                           {"itemHits", {"Open", "Dark_mode"}},  // the items' own callbacks run too
                           {"byName", json::array({{{"type", "activate"}, {"x", 5}, {"y", 6}}})},
                           {"shownAfterHide", false}}));
}

// A layout node ([id, properties, children]) as a panel draws it.
json drawn(const json& node) {
  json out = json::object();
  for (const char* key : {"label", "enabled", "type", "shortcut", "children-display"})
    if (node[1].contains(key)) out[key] = node[1][key];
  for (const auto& child : node[2]) out["children"].push_back(drawn(child));
  return out;
}

// A watcher that appears later gets the item, its properties and its menu;
// one that restarts gets it again; hiding takes it away.
TEST_F(TrayE2E, ThePanelSeesTheItemItsMenuAndItsChanges) {
  EXPECT_EQ(service.rfind("org.kde.StatusNotifierItem-", 0), 0u) << service;
  json item = seen["item"];
  // The red icon at every size, each with all its bytes.
  json widths = json::array();
  for (const auto& [width, height, argb] : item["IconPixmap"].get<std::vector<std::tuple<int, int, json>>>()) {
    widths.push_back(width);
    EXPECT_EQ(argb.size(), static_cast<size_t>(width) * height * 4) << width;
    EXPECT_EQ((json{argb[0], argb[1], argb[2], argb[3]}), (json{255, 255, 0, 0})) << "ARGB at " << width;
  }
  EXPECT_EQ(widths, (json{16, 22, 24, 32, 48, 64}));
  item.erase("IconPixmap");
  EXPECT_EQ(item, (json{{"Id", shell->identifier()},
                        {"Category", "ApplicationStatus"},
                        {"Title", "Tray Test"},
                        {"ToolTip", {"", json::array(), "3 new messages", ""}},
                        {"Status", "Active"},
                        {"IconName", ""},
                        {"AttentionIconName", "mail-unread"},
                        {"AttentionIconPixmap", json::array()},
                        {"AttentionMovieName", ""},
                        {"IconThemePath", ""},
                        {"OverlayIconName", ""},
                        {"OverlayIconPixmap", json::array()},
                        {"WindowId", 0},
                        {"Menu", "/MenuBar"},
                        {"ItemIsMenu", false}}));  // a left click activates instead of opening the menu
  // An underscore of the title is no mnemonic.
  EXPECT_EQ(drawn(seen["layout"][1])["children"],
            json::array({{{"label", "Open"},
                          {"enabled", true},
                          {"type", "standard"},
                          {"shortcut", json::array({json::array({"Control", "o"})})}},
                         {{"type", "separator"}},
                         {{"label", "Preferences"},
                          {"enabled", true},
                          {"type", "standard"},
                          {"children-display", "submenu"},
                          {"children",
                           json::array({{{"label", "Dark__mode"}, {"enabled", true}, {"type", "standard"}}})}},
                         {{"label", "Disabled"}, {"enabled", false}, {"type", "standard"}}}));
  std::vector<std::string> after;
  for (const auto& node : seen["layoutAfter"][1][2]) after.push_back(node[1].value("label", ""));
  EXPECT_EQ(after, (std::vector<std::string>{"Open Window", "", "Preferences", "Disabled", "Later"}));
  EXPECT_GT(seen["layoutAfter"][0], seen["layout"][0]);
  EXPECT_EQ(seen["itemAfter"]["Status"], "NeedsAttention");
  EXPECT_EQ(seen["ownerWhileStopped"], false);
  EXPECT_EQ(seen["registrations"], (json{service, service}));
  EXPECT_EQ(seen["itemGone"], true);
}

}  // namespace
