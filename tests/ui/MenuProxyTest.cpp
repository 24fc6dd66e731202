// Menu proxies over the application's real menu bar (ui/MainMenu) in a real
// window: lookup, release, the page's hooks over built-in items and the
// refusals (positions and keys as a page sees them are checked end to end).
#include "bridge/BridgeProtocol.h"
#include "bridge/WebViewDelegate.h"
#include "services/MenuItemProxy.h"
#include "services/MenuProxy.h"
#include "services/WebMenuItemSettings.h"
#include "ui/MainMenu.h"

#include <gtest/gtest.h>

using namespace corvane;
using nlohmann::json;

namespace {

class MenuProxies : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display: run through scripts/with-session.sh";
    mainMenu = std::make_unique<MainMenu>("MenuTest", MainMenu::Actions{});
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_container_add(GTK_CONTAINER(window), mainMenu->bar());
    gtk_window_add_accel_group(
        GTK_WINDOW(window), static_cast<GtkAccelGroup*>(g_object_get_data(G_OBJECT(mainMenu->bar()), "corvane-accel")));
    gtk_widget_show_all(window);
    root = std::make_unique<WebViewDelegate>(mainMenu->bar());
    bar = MenuProxy::proxyWithContext(root->page(), mainMenu->bar(), root.get());
  }
  void TearDown() override {
    bar.reset();
    root.reset();
    if (window) gtk_widget_destroy(window);
  }

  template <class T>
  T* object(const ScriptResult& ref, WebViewDelegate* of = nullptr) {
    if (!ref || !ref->is_object()) return nullptr;
    return dynamic_cast<T*>((of ? of : root.get())->objectById((*ref)[bridge::kObjectMarker].get<uint32_t>()));
  }
  static size_t methodIndex(const ServiceClass& cls, const std::string& name) {
    const auto& methods = cls.scriptMethods();
    for (size_t i = 0; i < methods.size(); ++i)
      if (methods[i].scriptName == name) return i;
    ADD_FAILURE() << "no method " << name;
    return 0;
  }
  // A page's call on the object a reference names, as the bridge makes it.
  ScriptResult call(const json& ref, const ServiceClass& cls, const std::string& method, ScriptArgs args = {}) {
    return root->callMethod(ref[bridge::kObjectMarker].get<uint32_t>(), cls, methodIndex(cls, method), call_,
                            std::move(args));
  }
  // The message of the script error such a call raises ("" when none).
  std::string refusal(const json& ref, const ServiceClass& cls, const std::string& method, ScriptArgs args = {}) {
    try {
      call(ref, cls, method, std::move(args));
    } catch (const ScriptTypeError& e) {
      return e.what();
    }
    return "";
  }
  std::vector<std::string> titles(GtkWidget* shell) {
    std::vector<std::string> out;
    for (GtkWidget* item : MainMenu::itemsOf(shell)) out.push_back(MenuProxy::titleOf(item));
    return out;
  }
  MenuItemProxy* add(MenuProxy* menu, const std::string& title, const std::string& key = "", int64_t index = 0) {
    return object<MenuItemProxy>(menu->addItemWithTitle(title, key, nullptr, index));
  }

  std::unique_ptr<MainMenu> mainMenu;
  GtkWidget* window = nullptr;
  std::unique_ptr<WebViewDelegate> root;
  std::unique_ptr<MenuProxy> bar;
  BridgeCall call_{nullptr};
};

TEST_F(MenuProxies, LookupByPositionTitleAndTitleWithEllipsis) {
  auto* file = object<MenuProxy>(object<MenuItemProxy>(bar->itemForKey("File"))->submenu());
  ASSERT_NE(file, nullptr);
  // The built-in items carry mnemonics; pages see plain titles.
  EXPECT_NE(object<MenuItemProxy>(file->itemForKey("Close Window")), nullptr);
  auto* print = object<MenuItemProxy>(file->itemForKey("Print"));  // "Print…"
  ASSERT_NE(print, nullptr);
  EXPECT_EQ(MenuProxy::titleOf(print->item()), "Print\u2026");
  for (const json& none : {json("Nothing"), json(nullptr), json::array(), json(-1), json(40)})
    EXPECT_EQ(file->itemForKey(none), json(nullptr)) << none;
  EXPECT_EQ(object<MenuItemProxy>(file->itemForKey(0.9)), object<MenuItemProxy>(file->itemForKey("Close Window")));
}

TEST_F(MenuProxies, RemovedItemsAreReleasedAndTheirObjectsRefuseCalls) {
  auto* menu = object<MenuProxy>(add(bar.get(), "Tools")->submenu());
  const size_t live = root->liveObjectCount();
  const json aRef = menu->addItemWithTitle("a", "", nullptr, 0).value();
  add(menu, "b");
  object<MenuItemProxy>(aRef)->remove();
  // Gone with its item: a script still holding it is refused, by name.
  EXPECT_EQ(object<MenuItemProxy>(aRef), nullptr);
  EXPECT_EQ(refusal(aRef, MenuItemProxy::scriptClass(), "enable"), "item required");
  EXPECT_EQ(titles(menu->menu()), std::vector<std::string>{"b"});
  EXPECT_EQ(object<MenuProxy>(menu->removeItem("b")), menu);
  EXPECT_TRUE(titles(menu->menu()).empty());
  EXPECT_EQ(menu->removeItem("b"), json(nullptr));
  EXPECT_EQ(root->liveObjectCount(), live) << "removed items keep their proxies";

  // Removing the top-level item takes its menu along: that menu's object
  // refuses new items and finds none.
  const json menuRef = bar->itemForKey("Tools").value();
  const json submenuRef = object<MenuItemProxy>(menuRef)->submenu().value();
  EXPECT_EQ(object<MenuProxy>(bar->removeItem("Tools")), bar.get());
  EXPECT_EQ(object<MenuProxy>(submenuRef), nullptr);
  EXPECT_EQ(refusal(submenuRef, MenuProxy::scriptClass(), "addSeparator"), "anItem required");
  EXPECT_EQ(call(submenuRef, MenuProxy::scriptClass(), "getItem", {0}), json(nullptr));
  EXPECT_EQ(call(submenuRef, MenuProxy::scriptClass(), "removeMenu", {"x"}), json(nullptr));
  EXPECT_EQ(refusal(menuRef, MenuItemProxy::scriptClass(), "submenu"), "item required");
  // An id never handed out is no object of any class.
  EXPECT_NE(refusal(json{{bridge::kObjectMarker, 999999}}, MenuItemProxy::scriptClass(), "enable"), "item required");
  // The Tools item and its menu went; the bar's own object came with the
  // answer of removeMenu.
  EXPECT_EQ(root->liveObjectCount(), live - 2 + 1);
}

TEST_F(MenuProxies, APageFunctionReplacesWhatEveryBuiltInItemDid) {
  // A menu whose every built-in action says that it ran.
  std::vector<std::string> ran;
  MainMenu::Actions a;
  for (auto [slot, name] : std::vector<std::pair<std::function<void()> MainMenu::Actions::*, const char*>>{
           {&MainMenu::Actions::quit, "quit"},           {&MainMenu::Actions::about, "about"},
           {&MainMenu::Actions::closeWindow, "close"},   {&MainMenu::Actions::showMainWindow, "main"},
           {&MainMenu::Actions::reload, "reload"},       {&MainMenu::Actions::toggleFullScreen, "full"},
           {&MainMenu::Actions::minimize, "minimize"},   {&MainMenu::Actions::zoom, "zoom"},
           {&MainMenu::Actions::showInspector, "inspector"}, {&MainMenu::Actions::print, "print"}})
    a.*slot = [&ran, name = std::string(name)] { ran.push_back(name); };
  a.edit = [&ran](const char* command) { ran.push_back(command); };
  MainMenu built("Actions", std::move(a));
  g_object_ref_sink(built.bar());
  auto own = std::make_unique<WebViewDelegate>(built.bar());
  auto ownBar = MenuProxy::proxyWithContext(own->page(), built.bar(), own.get());

  // The items carry the application's name where they name it.
  EXPECT_EQ(MenuProxy::titleOf(built.itemByTag(900)), "Actions");
  EXPECT_EQ(MenuProxy::titleOf(built.itemByTag(102)), "Actions");
  for (const auto& [tag, action] : std::vector<std::pair<int, std::string>>{
           {906, "quit"}, {901, "about"}, {101, "close"}, {102, "main"}, {104, "print"}, {201, "Undo"},
           {202, "Redo"}, {203, "Cut"}, {204, "Copy"}, {205, "Paste"}, {206, "SelectAll"}, {301, "reload"},
           {302, "full"}, {303, "inspector"}, {801, "minimize"}, {802, "zoom"}}) {
    GtkWidget* item = built.itemByTag(tag);
    ASSERT_NE(item, nullptr) << tag;
    ran.clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_EQ(ran, std::vector<std::string>{action}) << tag << ": the built-in action runs once";
    // The page reaches the item as a script would: by positions.
    GtkWidget* top = built.itemByTag(tag / 100 * 100);
    auto positionIn = [](GtkWidget* shell, GtkWidget* w) {
      const auto items = MainMenu::itemsOf(shell);
      return static_cast<int>(std::find(items.begin(), items.end(), w) - items.begin());
    };
    auto* topItem = object<MenuItemProxy>(ownBar->itemForKey(positionIn(built.bar(), top)), own.get());
    ASSERT_NE(topItem, nullptr) << tag;
    auto* submenu = object<MenuProxy>(topItem->submenu(), own.get());
    auto* hooked = object<MenuItemProxy>(submenu->itemForKey(positionIn(submenu->menu(), item)), own.get());
    ASSERT_NE(hooked, nullptr) << tag;
    hooked->setCallback(nullptr);
    ran.clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_TRUE(ran.empty()) << tag << ": " << (ran.empty() ? "" : ran.front()) << " still ran";
  }
  ownBar.reset();
  own.reset();
  g_object_unref(built.bar());
}

TEST_F(MenuProxies, AWidgetMarkedWithAnotherKindOfProxyIsABadProxy) {
  auto* tools = add(bar.get(), "Tools");
  auto* submenu = object<MenuProxy>(tools->submenu());
  MenuProxyRegistry registry(root->page(), root.get());
  g_object_set_data(G_OBJECT(tools->item()), registry.key(), static_cast<ServiceObject*>(submenu));
  try {
    registry.proxyForItem(tools->item());
    ADD_FAILURE();
  } catch (const ScriptTypeError& e) {
    EXPECT_STREQ(e.what(), "Bad proxy");
  }
  g_object_set_data(G_OBJECT(tools->item()), registry.key(), nullptr);
  EXPECT_THROW(registry.proxyForItem(nullptr), ScriptTypeError);
}

// A new key replaces the old one and no key clears it (typed keys and
// disabled items as a page sees them are checked end to end).
TEST_F(MenuProxies, ANewKeyReplacesTheOldOne) {
  MenuItemProxy* save = add(object<MenuProxy>(add(bar.get(), "Tools")->submenu()), "Save", "cmd+shift+s");
  auto answers = [&](guint key, unsigned mods) {
    return gtk_accel_groups_activate(G_OBJECT(window), key, GdkModifierType(mods));
  };
  EXPECT_TRUE(answers(GDK_KEY_s, GDK_CONTROL_MASK | GDK_SHIFT_MASK));
  save->setKey("ctrl-alt-x");
  EXPECT_FALSE(answers(GDK_KEY_s, GDK_CONTROL_MASK | GDK_SHIFT_MASK));
  EXPECT_TRUE(answers(GDK_KEY_x, GDK_CONTROL_MASK | GDK_MOD1_MASK));
  save->setKey("");
  EXPECT_FALSE(answers(GDK_KEY_x, GDK_CONTROL_MASK | GDK_MOD1_MASK));
  guint key = 1;
  GdkModifierType mods;
  gtk_accel_label_get_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(save->item()))), &key, &mods);
  EXPECT_EQ(key, 0u);
}

// Key texts of page-built items: the key is the last character, the
// modifiers are lower-case words anywhere in the text.
TEST(Accelerators, KeyTextsBecomeKeysAndModifiers) {
  const GdkModifierType none{}, ctrl = GDK_CONTROL_MASK, shift = GDK_SHIFT_MASK, alt = GDK_MOD1_MASK;
  const struct {
    const char* text;
    guint key;
    GdkModifierType mods;
  } cases[] = {
      {"cmd+q", GDK_KEY_q, ctrl},
      {"shift+cmd+s", GDK_KEY_s, GdkModifierType(ctrl | shift)},
      {"ctrl-alt-x", GDK_KEY_x, GdkModifierType(ctrl | alt)},
      {"opt+alt+x", GDK_KEY_x, alt},
      {"caps+k", GDK_KEY_k, none},                  // no modifier of the keyboard's
      {"cmd+S", GDK_KEY_s, GdkModifierType(ctrl | shift)},  // an upper-case key is the key with Shift
      {"CMD+Q", GDK_KEY_q, shift},                  // the words are lower case
      {"s", GDK_KEY_s, none},                       // a bare letter: not even command
      {"cmd", GDK_KEY_d, ctrl},
      {"cmd+\xc3\xa9", GDK_KEY_eacute, ctrl},        // a whole character, two bytes
      {"", 0, none},
  };
  for (const auto& c : cases) {
    const auto a = acceleratorFor(c.text);
    EXPECT_EQ(std::make_pair(a.key, a.mods), std::make_pair(c.key, c.mods)) << c.text;
  }
}

TEST(ContextMenuSettings, NamesMapToTagKeysAndOnlyNamesCount) {
  WebMenuItemSettings s(nullptr);
  EXPECT_TRUE(s.isEnableWithMenutItemsTag(8));   // no entry: allowed
  EXPECT_FALSE(s.isEnableWithMenutItemsTag(1));  // listed, off by default
  EXPECT_EQ(s.getWebMenuItemsSettings().size(), 21u);
  s.setWebMenuItemsSettings(R"({"WebMenuItemTagCut": true, "tag14": true, "Unknown": true})");
  EXPECT_EQ(s.getWebMenuItemsSettings()["tag13"], true);
  EXPECT_EQ(s.getWebMenuItemsSettings()["tag14"], false);
  EXPECT_FALSE(s.getWebMenuItemsSettings().contains("Unknown"));
  EXPECT_EQ(s.pageChoice(13), std::optional<bool>(true));
  EXPECT_EQ(s.pageChoice(14), std::nullopt);
  s.setWebMenuItemsSettings("not json");
  EXPECT_EQ(s.getWebMenuItemsSettings()["tag13"], true);
  // The value is kept as given and read as a boolean.
  s.setWebMenuItemsSettings(R"({"WebMenuItemTagReload": 1, "WebMenuItemTagCut": "NO"})");
  EXPECT_EQ(s.getWebMenuItemsSettings()["tag12"], 1);
  EXPECT_TRUE(s.isEnableWithMenutItemsTag(12));
  EXPECT_FALSE(s.isEnableWithMenutItemsTag(13));
}

}  // namespace
