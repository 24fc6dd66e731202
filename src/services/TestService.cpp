#include "services/TestService.h"

#include "app/NotificationCenter.h"
#include "app/Utils.h"
#include "bridge/JSEventHelper.h"
#include "bridge/MainQueue.h"
#include "bridge/UtilTool.h"
#include "bridge/WebViewDelegate.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace corvane {

TestService::TestService(std::shared_ptr<PageScript> webView) : webView_(std::move(webView)) {
  // Lives as long as the process in test runs; the observer is never removed.
  NotificationCenter::defaultCenter().addObserver(kNoticeApplicationOpenFiles,
                                                  [this](const std::string&, const nlohmann::json& paths) {
                                                    for (const auto& p : paths) openedFiles_.push_back(p);
                                                  });
}

nlohmann::json TestService::openedFiles() { return openedFiles_; }

static GtkWindow* firstAppWindow() {
  GApplication* app = g_application_get_default();
  if (!app || !GTK_IS_APPLICATION(app)) return nullptr;
  GList* windows = gtk_application_get_windows(GTK_APPLICATION(app));
  // The list is most recently focused first; the main window was added first.
  GList* last = g_list_last(windows);
  return last ? GTK_WINDOW(last->data) : nullptr;
}

nlohmann::json TestService::windowState() {
  GtkWindow* w = firstAppWindow();
  if (!w) return nullptr;
  nlohmann::json state = {{"visible", static_cast<bool>(gtk_widget_get_visible(GTK_WIDGET(w)))},
                          {"decorated", static_cast<bool>(gtk_window_get_decorated(w))},
                          {"resizable", static_cast<bool>(gtk_window_get_resizable(w))},
                          {"deletable", static_cast<bool>(gtk_window_get_deletable(w))}};
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
  return state;
}

void TestService::closeMainWindow() {
  if (GtkWindow* w = firstAppWindow()) gtk_window_close(w);
}

bool TestService::enabled() {
  const char* v = std::getenv("CORVANE_TEST_SERVICES");
  return v && std::string(v) == "1";
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

void TestService::answerNextPanel(const std::string& button) { WebViewDelegate::answerNextPanel(button); }

std::string TestService::environment(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

bool TestService::finish(const std::string& report) {
  const char* path = std::getenv("CORVANE_TEST_RESULT");
  bool ok = false;
  if (path) {
    const std::string tmp = std::string(path) + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
      ok = std::fwrite(report.data(), 1, report.size(), f) == report.size();
      ok = std::fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
      ok = std::fclose(f) == 0 && ok;
      ok = ok && std::rename(tmp.c_str(), path) == 0;
    }
  }
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
  static const ServiceClass cls = ServiceClass::Builder<TestService>("TestService")
                                      .method("echoParams:", &TestService::echoParams)
                                      .method("callNow:", &TestService::callNow)
                                      .method("callFromThread:", &TestService::callFromThread)
                                      .method("echo:", &TestService::echo)
                                      .method("keepFunction:", &TestService::keepFunction)
                                      .method("callKept:", &TestService::callKept)
                                      .method("callKeptLater:", &TestService::callKeptLater)
                                      .method("dropKept", &TestService::dropKept)
                                      .method("fireEvent:", &TestService::fireEvent)
                                      .method("fireEventWithData:withData:", &TestService::fireEventWithData)
                                      .method("setValue:", &TestService::setValue)
                                      .method("getValue", &TestService::getValue)
                                      .method("answerNextPanel:", &TestService::answerNextPanel)
                                      .method("environment:", &TestService::environment)
                                      .method("finish:", &TestService::finish)
                                      .method("resize:height:", &TestService::resize)
                                      .method("openedFiles", &TestService::openedFiles)
                                      .method("windowState", &TestService::windowState)
                                      .method("closeMainWindow", &TestService::closeMainWindow)
                                      .scriptNames({{"echoParams:", "echoParams"},
                                                    {"callNow:", "callNow"},
                                                    {"callFromThread:", "callFromThread"},
                                                    {"echo:", "echo"},
                                                    {"keepFunction:", "keepFunction"},
                                                    {"callKept:", "callKept"},
                                                    {"callKeptLater:", "callKeptLater"},
                                                    {"fireEvent:", "fireEvent"},
                                                    {"fireEventWithData:withData:", "fireEventWithData"},
                                                    {"setValue:", "setValue"},
                                                    {"answerNextPanel:", "answerNextPanel"},
                                                    {"environment:", "environment"},
                                                    {"finish:", "finish"},
                                                    {"resize:height:", "resize"}})
                                      .build();
  return cls;
}

}  // namespace corvane
