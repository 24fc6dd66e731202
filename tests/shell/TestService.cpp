#include "TestService.h"

#include "TestShell.h"

#include "app/AtomicFile.h"
#include "app/Log.h"
#include "app/NotificationCenter.h"
#include "app/Utils.h"
#include "bridge/JSEventHelper.h"
#include "bridge/MainQueue.h"
#include "bridge/UtilTool.h"
#include "bridge/WebViewDelegate.h"
#include "services/FileOperations.h"
#include "services/MenuProxy.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif
#include <chrono>
#include <thread>
#include <vector>

namespace corvane {

// The file chooser's format box draws inside the dialog's X window and has
// no window of its own, so the end-to-end driver, which acts on the screen
// as a person does, cannot find it from X. Each place it is drawn at is
// logged once as "E2E-FORMAT-BOX <dialog title> x y width height",
// relative to the dialog's window. (Drawing is when the place is final: a
// box is mapped before the window manager has settled the dialog's size.)
static gboolean reportFormatBox(GtkWidget* box, cairo_t*, gpointer) {
  GtkWidget* top = gtk_widget_get_toplevel(box);
  int x = 0, y = 0;
  if (!GTK_IS_FILE_CHOOSER_DIALOG(top) || !gtk_widget_translate_coordinates(box, top, 0, 0, &x, &y)) return FALSE;
  const char* title = gtk_window_get_title(GTK_WINDOW(top));
  std::string line = fmt::format("E2E-FORMAT-BOX {} {} {} {} {}", title ? title : "", x, y,
                                 gtk_widget_get_allocated_width(box), gtk_widget_get_allocated_height(box));
  const char* last = static_cast<const char*>(g_object_get_data(G_OBJECT(box), "corvane-e2e-place"));
  if (last && line == last) return FALSE;
  log().info("{}", line);
  g_object_set_data_full(G_OBJECT(box), "corvane-e2e-place", g_strdup(line.c_str()), g_free);
  return FALSE;
}

// GTK emits "map" always but "draw" only to connected handlers, so the
// hook watches maps and connects to each format box it finds.
static gboolean watchFormatBox(GSignalInvocationHint*, guint, const GValue* values, gpointer) {
  GtkWidget* w = GTK_WIDGET(g_value_get_object(&values[0]));
  if (!GTK_IS_COMBO_BOX(w) || !GTK_IS_FILE_CHOOSER_DIALOG(gtk_widget_get_toplevel(w))) return TRUE;
  if (!g_object_get_data(G_OBJECT(w), "corvane-e2e-watched")) {
    g_object_set_data(G_OBJECT(w), "corvane-e2e-watched", GINT_TO_POINTER(1));
    g_signal_connect_after(w, "draw", G_CALLBACK(reportFormatBox), nullptr);
  }
  return TRUE;
}

TestService::TestService(std::shared_ptr<PageScript> webView) : webView_(std::move(webView)) {
  static const gulong hook =
      g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, watchFormatBox, nullptr, nullptr);
  (void)hook;
  // Lives as long as the process in test runs; the observer is never removed.
  NotificationCenter::defaultCenter().addObserver(kNoticeApplicationOpenFiles,
                                                  [this](const std::string&, const nlohmann::json& paths) {
                                                    for (const auto& p : paths) openedFiles_.push_back(p);
                                                    openedWhileVisible_.push_back(mainWindowOnScreen());
                                                  });
}

nlohmann::json TestService::openedFiles() { return openedFiles_; }
nlohmann::json TestService::openedWhileVisible() { return openedWhileVisible_; }

// The window's menu bar, wherever it sits among the window's children.
static GtkWidget* menuBarIn(GtkWidget* widget) {
  if (GTK_IS_MENU_BAR(widget)) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* l = children; l && !found; l = l->next) found = menuBarIn(GTK_WIDGET(l->data));
  g_list_free(children);
  return found;
}

static GList* appWindows() {
  GApplication* app = g_application_get_default();
  if (!app || !GTK_IS_APPLICATION(app)) return nullptr;
  return gtk_application_get_windows(GTK_APPLICATION(app));
}

static GtkWindow* firstAppWindow() {
  // The list is most recently focused first; the main window was added first.
  GList* last = g_list_last(appWindows());
  return last ? GTK_WINDOW(last->data) : nullptr;
}

static GtkWidget* mainMenuBar() {
  GtkWindow* w = firstAppWindow();
  GtkWidget* child = w ? gtk_bin_get_child(GTK_BIN(w)) : nullptr;
  return child ? menuBarIn(child) : nullptr;
}

static bool iconified(GtkWindow* w) {
  GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w));
  return g && (gdk_window_get_state(g) & GDK_WINDOW_STATE_ICONIFIED);
}

bool TestService::mainWindowOnScreen() {
  GtkWindow* w = firstAppWindow();
  return w && gtk_widget_get_visible(GTK_WIDGET(w)) && !iconified(w);
}

void TestService::minimizeMainWindow() {
  if (GtkWindow* w = firstAppWindow()) gtk_window_iconify(w);
}

void TestService::closeOtherWindows() {
  GtkWindow* main = firstAppWindow();
  std::vector<GtkWindow*> others;
  for (GList* l = appWindows(); l; l = l->next)
    if (l->data != main) others.push_back(GTK_WINDOW(l->data));
  // Logged here, in order with the shell's own lines (page lines may come later).
  log().info("test service: closing {} other window(s)", others.size());
  for (GtkWindow* w : others) gtk_window_close(w);
}

int TestService::visibleWindowCount() {
  int n = 0;
  for (GList* l = appWindows(); l; l = l->next) n += gtk_widget_get_visible(GTK_WIDGET(l->data)) ? 1 : 0;
  return n;
}

bool TestService::pathExists(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

nlohmann::json TestService::windowState() {
  GtkWindow* w = firstAppWindow();
  if (!w) return nullptr;
  nlohmann::json state = {{"visible", static_cast<bool>(gtk_widget_get_visible(GTK_WIDGET(w)))},
                          {"resizable", static_cast<bool>(gtk_window_get_resizable(w))},
                          {"iconified", iconified(w)},
                          {"active", static_cast<bool>(gtk_window_is_active(w))}};
#ifdef GDK_WINDOWING_X11
  if (GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w)); g && GDK_IS_X11_WINDOW(g))
    state["xid"] = static_cast<uint64_t>(gdk_x11_window_get_xid(g));
#endif
  int width = 0, height = 0;
  gtk_window_get_size(w, &width, &height);
  state["width"] = width;
  state["height"] = height;
  if (GtkWidget* bar = gtk_window_get_titlebar(w); bar && GTK_IS_HEADER_BAR(bar)) {
    const char* layout = gtk_header_bar_get_decoration_layout(GTK_HEADER_BAR(bar));
    state["decorationLayout"] = layout ? layout : "";
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(bar, &minimum, &natural);
    const int allocated = gtk_widget_get_allocated_height(bar);
    state["titleBarHeight"] = allocated > 1 ? allocated : natural;
  }
  if (GtkWidget* bar = mainMenuBar(); bar && gtk_widget_get_visible(bar))
    state["menuBarHeight"] = gtk_widget_get_allocated_height(bar);
  return state;
}

static GtkWidget* findTagged(GtkWidget* shell, int tag, GtkWidget** menu, int* index) {
  if (!shell || !GTK_IS_CONTAINER(shell)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  GtkWidget* found = nullptr;
  int i = 0;
  for (GList* l = children; l && !found; l = l->next, ++i) {
    auto* item = GTK_WIDGET(l->data);
    if (g_object_get_data(G_OBJECT(item), "corvane-tag") == GINT_TO_POINTER(tag)) {
      found = item;
      *menu = shell;
      *index = i;
    } else if (GTK_IS_MENU_ITEM(item)) {
      found = findTagged(gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)), tag, menu, index);
    }
  }
  g_list_free(children);
  return found;
}

static nlohmann::json shellTree(GtkWidget* shell) {
  nlohmann::json items = nlohmann::json::array();
  if (!shell) return items;
  GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
  for (GList* l = children; l; l = l->next) {
    auto* item = GTK_WIDGET(l->data);
    nlohmann::json entry = {{"title", MenuProxy::titleOf(item)},
                            {"separator", static_cast<bool>(GTK_IS_SEPARATOR_MENU_ITEM(item))},
                            {"enabled", static_cast<bool>(gtk_widget_get_sensitive(item))},
                            {"visible", static_cast<bool>(gtk_widget_get_visible(item))},
                            {"key", ""}};
    GtkWidget* label = GTK_IS_BIN(item) ? gtk_bin_get_child(GTK_BIN(item)) : nullptr;
    if (label && GTK_IS_ACCEL_LABEL(label)) {
      guint key = 0;
      GdkModifierType mods;
      gtk_accel_label_get_accel(GTK_ACCEL_LABEL(label), &key, &mods);
      if (key) {
        gchar* name = gtk_accelerator_name(key, mods);
        entry["key"] = name;
        g_free(name);
      }
    }
    if (GTK_IS_MENU_ITEM(item))
      if (GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item))) entry["items"] = shellTree(submenu);
    items.push_back(std::move(entry));
  }
  g_list_free(children);
  return items;
}

nlohmann::json TestService::menuBarTree() { return shellTree(mainMenuBar()); }

nlohmann::json TestService::menuItemState(double tag) {
  GtkWidget* bar = mainMenuBar();
  GtkWidget* menu = nullptr;
  int index = -1;
  GtkWidget* item = findTagged(bar, static_cast<int>(tag), &menu, &index);
  if (!item) return nullptr;
  GtkWidget* owner = menu && GTK_IS_MENU(menu) ? gtk_menu_get_attach_widget(GTK_MENU(menu)) : nullptr;
  const char* label = GTK_IS_MENU_ITEM(item) ? gtk_menu_item_get_label(GTK_MENU_ITEM(item)) : nullptr;
  return {{"label", label ? label : ""},
          {"visible", static_cast<bool>(gtk_widget_get_visible(item))},
          {"separator", static_cast<bool>(GTK_IS_SEPARATOR_MENU_ITEM(item))},
          {"menuTag", owner ? GPOINTER_TO_INT(g_object_get_data(G_OBJECT(owner), "corvane-tag")) : -1},
          {"index", index}};
}

void TestService::closeMainWindow() {
  if (GtkWindow* w = firstAppWindow()) gtk_window_close(w);
}

std::string TestService::echoParams(const nlohmann::json& argument) {
  auto params = UtilTool::paramsDictionary(argument);
  EvalJsWithWebView(webView_, UtilTool::callbackName(params), params);
  return Utils::convertDictionaryToJSON(params);
}

std::string TestService::callNow(const nlohmann::json& argument) {
  auto result = UtilTool::resultDictionary();
  auto params = UtilTool::paramsDictionary(argument);
  result["success"] = true;
  if (params.contains("value")) result["value"] = params["value"];
  EvalJsWithWebView(webView_, UtilTool::callbackName(params), result);
  return Utils::convertDictionaryToJSON(result);
}

void TestService::callFromThread(const nlohmann::json& argument) {
  auto params = UtilTool::paramsDictionary(argument);
  std::string callback = UtilTool::callbackName(params);
  int count = params.value("count", 0);
  std::thread([page = webView_, callback, count] {
    for (int i = 0; i < count; ++i) EvalJsWithWebView(page, callback, i);
  }).detach();
}

nlohmann::json TestService::echo(nlohmann::json value) { return value; }

bool TestService::keepFunction(std::shared_ptr<CallbackDelegate> function) {
  kept_ = std::move(function);
  return kept_ != nullptr;
}

void TestService::callKept(const nlohmann::json& value) {
  if (kept_) kept_->callWithParams({value});
}

void TestService::callKeptLater(const nlohmann::json& value) {
  std::weak_ptr<CallbackDelegate> weak = kept_;
  MainQueue::post([weak, value] {
    if (auto k = weak.lock()) k->callWithParams({value, "later"});
  });
}

void TestService::dropKept() { kept_.reset(); }

void TestService::fireEvent(const std::string& name) { JSEventHelper::triggerEvent(name, webView_); }

void TestService::fireEventWithData(const std::string& name, const nlohmann::json& data) {
  JSEventHelper::triggerEvent(name, data, webView_);
}

void TestService::setValue(const nlohmann::json& value) { value_ = value; }
nlohmann::json TestService::getValue() { return value_; }

void TestService::answerNextPanel(const std::string& button) { testshell::answerNextPanel(button); }

void TestService::waitInCall(const nlohmann::json& argument) {
  // As a long copy waits: the main loop runs meanwhile, then the callback.
  auto params = UtilTool::paramsDictionary(argument);
  const int ms = params.value("ms", 0);
  fileops::runWhileDrawing([ms] { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
  EvalJsWithWebView(webView_, UtilTool::callbackName(params), {{"waited", ms}});
}

std::string TestService::environment(const std::string& name) { return testshell::variable(name); }

bool TestService::finish(const std::string& report) {
  const std::string target = testshell::variable("CORVANE_TEST_RESULT");
  const bool ok = !target.empty() && writeFileAtomically(target, report);
  // Leave the log lines of the page a moment to arrive, then quit.
  g_timeout_add(300, +[](gpointer) -> gboolean {
    if (GApplication* app = g_application_get_default()) g_application_quit(app);
    return G_SOURCE_REMOVE;
  }, nullptr);
  return ok;
}

void TestService::resize(double width, double height) {
  if (resizeWindow) resizeWindow(static_cast<int>(width), static_cast<int>(height));
}

const ServiceClass& TestService::serviceClass() const {
  // Registered under the names scripts call them by.
  static const ServiceClass cls = ServiceClass::Builder<TestService>("TestService")
                                      .method("echoParams", &TestService::echoParams)
                                      .method("callNow", &TestService::callNow)
                                      .method("callFromThread", &TestService::callFromThread)
                                      .method("echo", &TestService::echo)
                                      .method("keepFunction", &TestService::keepFunction)
                                      .method("callKept", &TestService::callKept)
                                      .method("callKeptLater", &TestService::callKeptLater)
                                      .method("dropKept", &TestService::dropKept)
                                      .method("fireEvent", &TestService::fireEvent)
                                      .method("fireEventWithData", &TestService::fireEventWithData)
                                      .method("setValue", &TestService::setValue)
                                      .method("getValue", &TestService::getValue)
                                      .method("answerNextPanel", &TestService::answerNextPanel)
                                      .method("environment", &TestService::environment)
                                      .method("finish", &TestService::finish)
                                      .method("resize", &TestService::resize)
                                      .method("openedFiles", &TestService::openedFiles)
                                      .method("windowState", &TestService::windowState)
                                      .method("closeMainWindow", &TestService::closeMainWindow)
                                      .method("menuItemState", &TestService::menuItemState)
                                      .method("openedWhileVisible", &TestService::openedWhileVisible)
                                      .method("minimizeMainWindow", &TestService::minimizeMainWindow)
                                      .method("closeOtherWindows", &TestService::closeOtherWindows)
                                      .method("visibleWindowCount", &TestService::visibleWindowCount)
                                      .method("pathExists", &TestService::pathExists)
                                      .method("menuBarTree", &TestService::menuBarTree)
                                      .method("waitInCall", &TestService::waitInCall)
                                      .build();
  return cls;
}

}  // namespace corvane
