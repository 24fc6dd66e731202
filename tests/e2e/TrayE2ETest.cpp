// The tray icon end to end: the real shell on a private session bus with no
// status notifier watcher at first; once the page (tray-pages/tray-checks.js)
// has shown its icon, this driver starts a watcher (support/TrayWatcher) and
// acts as the panel, step by step with the page.
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

// Texts and object paths as texts, booleans as booleans, the rest printed.
json fromVariant(GVariant* v) {
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH))
    return g_variant_get_string(v, nullptr);
  if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN)) return static_cast<bool>(g_variant_get_boolean(v));
  gchar* text = g_variant_print(v, FALSE);
  json out = text;
  g_free(text);
  return out;
}

// A dbusmenu layout node as JSON: id, its properties, its children.
json layoutNode(GVariant* node) {
  gint32 id = 0;
  GVariant *props = nullptr, *children = nullptr;
  g_variant_get(node, "(i@a{sv}@av)", &id, &props, &children);
  json out = {{"id", id}};
  GVariantIter it;
  const gchar* key = nullptr;
  GVariant* value = nullptr;
  g_variant_iter_init(&it, props);
  while (g_variant_iter_next(&it, "{&sv}", &key, &value)) {
    out[key] = fromVariant(value);
    g_variant_unref(value);
  }
  json kids = json::array();
  GVariantIter ci;
  GVariant* child = nullptr;
  g_variant_iter_init(&ci, children);
  while (g_variant_iter_next(&ci, "v", &child)) {
    kids.push_back(layoutNode(child));
    g_variant_unref(child);
  }
  if (!kids.empty()) out["children"] = kids;
  g_variant_unref(props);
  g_variant_unref(children);
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
        readItem(watcher);
        panel(watcher);
      }
      shell->ack("ready");
    }
    if (shell->stepped("changed")) {
      GVariant* status = watcher.property(service, "Status");
      seen["statusAfter"] = fromVariant(status);
      g_variant_unref(status);
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
      watcher.call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", g_variant_new("(ii)", 5, 6));
      shell->ack("by-name");
    }
    if (shell->stepped("hidden")) {
      seen["itemGone"] = waitUntil([&] { return !watcher.nameHasOwner(service); }, 10);
      shell->ack("hidden");
    }
  } catch (const std::exception& e) {
    seen["driverError"] = e.what();
  }

  // The item as a panel reads it.
  static void readItem(corvane::test::TrayWatcher& w) {
    for (const char* name :
         {"Id", "Category", "Title", "Status", "IconName", "AttentionIconName", "Menu", "ItemIsMenu"}) {
      GVariant* v = w.property(service, name);
      seen["item"][name] = fromVariant(v);
      g_variant_unref(v);
    }
    GVariant* tip = w.property(service, "ToolTip");
    const gchar* title = nullptr;
    g_variant_get_child(tip, 2, "&s", &title);
    seen["item"]["ToolTipTitle"] = title;
    g_variant_unref(tip);
    GVariant* pixmaps = w.property(service, "IconPixmap");
    seen["item"]["IconSizes"] = json::array();
    for (gsize i = 0; i < g_variant_n_children(pixmaps); ++i) {
      gint32 width = 0, height = 0;
      GVariant* bytes = nullptr;
      g_variant_get_child(pixmaps, i, "(ii@ay)", &width, &height, &bytes);
      gsize n = 0;
      const guchar* argb = static_cast<const guchar*>(g_variant_get_fixed_array(bytes, &n, 1));
      seen["item"]["IconSizes"].push_back(width);
      if (i == 0) seen["item"]["FirstPixel"] = {argb[0], argb[1], argb[2], argb[3]};
      seen["item"]["BytesMatch"] = n == static_cast<gsize>(width) * height * 4;
      g_variant_unref(bytes);
    }
    g_variant_unref(pixmaps);
  }

  static json layout(corvane::test::TrayWatcher& w) {
    GVariant* reply = nullptr;
    w.call(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout", g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)),
           &reply);
    guint32 revision = 0;
    GVariant* root = nullptr;
    g_variant_get(reply, "(u@(ia{sv}av))", &revision, &root);
    json out = {{"revision", revision}, {"root", layoutNode(root)}};
    g_variant_unref(root);
    g_variant_unref(reply);
    return out;
  }

  static int idOf(const json& node, const std::string& label) {
    if (node.value("label", "") == label) return node["id"];
    for (const auto& child : node.value("children", json::array()))
      if (int id = idOf(child, label)) return id;
    return 0;
  }

  // A person at the panel: a click, a middle click, two scrolls, menu choices.
  static void panel(corvane::test::TrayWatcher& w) {
    seen["layout"] = layout(w);
    const json& root = seen["layout"]["root"];
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

// A layout node as a panel draws it, its children too.
json drawn(const json& node) {
  json out = json::object();
  for (const char* key : {"label", "enabled", "type", "shortcut", "children-display"})
    if (node.contains(key)) out[key] = node[key];
  for (const auto& child : node.value("children", json::array())) out["children"].push_back(drawn(child));
  return out;
}

// A watcher that appears later gets the item, its properties and its menu;
// one that restarts gets it again; hiding takes it away.
TEST_F(TrayE2E, ThePanelSeesTheItemItsMenuAndItsChanges) {
  EXPECT_EQ(service.rfind("org.kde.StatusNotifierItem-", 0), 0u) << service;
  EXPECT_EQ(seen["item"], (json{{"Id", shell->identifier()},
                                {"Category", "ApplicationStatus"},
                                {"Title", "Tray Test"},
                                {"ToolTipTitle", "3 new messages"},
                                {"Status", "Active"},
                                {"IconName", ""},
                                {"AttentionIconName", "mail-unread"},
                                {"Menu", "/MenuBar"},
                                {"ItemIsMenu", false},  // a left click activates instead of opening the menu
                                {"IconSizes", {16, 22, 24, 32, 48, 64}},
                                {"FirstPixel", {255, 255, 0, 0}},  // ARGB of the red icon
                                {"BytesMatch", true}}));
  // An underscore of the title is no mnemonic.
  EXPECT_EQ(drawn(seen["layout"]["root"])["children"],
            json::array({{{"label", "Open"}, {"enabled", true}, {"type", "standard"},
                          {"shortcut", "[['Control', 'o']]"}},
                         {{"type", "separator"}},
                         {{"label", "Preferences"},
                          {"enabled", true},
                          {"type", "standard"},
                          {"children-display", "submenu"},
                          {"children",
                           json::array({{{"label", "Dark__mode"}, {"enabled", true}, {"type", "standard"}}})}},
                         {{"label", "Disabled"}, {"enabled", false}, {"type", "standard"}}}));
  std::vector<std::string> after;
  for (const auto& node : seen["layoutAfter"]["root"].value("children", json::array()))
    after.push_back(node.value("label", ""));
  EXPECT_EQ(after, (std::vector<std::string>{"Open Window", "", "Preferences", "Disabled", "Later"}));
  EXPECT_GT(seen["layoutAfter"]["revision"], seen["layout"]["revision"]);
  EXPECT_EQ(seen["statusAfter"], "NeedsAttention");
  EXPECT_EQ(seen["ownerWhileStopped"], false);
  EXPECT_EQ(seen["registrations"], (json{service, service}));
  EXPECT_EQ(seen["itemGone"], true);
}

}  // namespace
