#include "TestShell.h"

#include "TestService.h"

#include "app/Relaunch.h"
#include "bridge/GSignal.h"
#include "bridge/WebViewDelegate.h"
#include "ui/WebContext.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

extern char** environ;

namespace corvane::testshell {
namespace {

std::map<std::string, std::string> g_started;  // the environment at start
std::string g_nextPanelAnswer;

bool isTestVariable(const std::string& name) {
  return name.rfind("CORVANE_TEST_", 0) == 0 || name == "CORVANE_WEB_EXTENSIONS_DIR";
}

GtkWidget* buttonLabelled(GtkWidget* widget, const std::string& label) {
  if (GTK_IS_BUTTON(widget)) {
    const char* text = gtk_button_get_label(GTK_BUTTON(widget));
    if (text && label == text) return widget;
  }
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
  GtkWidget* found = nullptr;
  for (GList* l = children; l && !found; l = l->next) found = buttonLabelled(GTK_WIDGET(l->data), label);
  g_list_free(children);
  return found;
}

// Presses the button the page asked for (or closes the panel) once it shows.
void answerWhenShown(GtkDialog* dialog) {
  if (g_nextPanelAnswer.empty()) return;
  auto* answer = new std::string(std::move(g_nextPanelAnswer));
  g_nextPanelAnswer.clear();
  g_object_set_data_full(G_OBJECT(dialog), "corvane-answer", answer,
                         [](gpointer p) { delete static_cast<std::string*>(p); });
  g_signal_connect(dialog, "map", signalHandler([](GtkWidget* d, gpointer) {
                     g_idle_add(
                         +[](gpointer p) -> gboolean {
                           auto* d = GTK_WIDGET(p);
                           auto* a = static_cast<std::string*>(g_object_get_data(G_OBJECT(d), "corvane-answer"));
                           if (*a == "close") {
                             gtk_window_close(GTK_WINDOW(d));
                           } else if (GtkWidget* b = buttonLabelled(d, *a)) {
                             gtk_button_clicked(GTK_BUTTON(b));
                           }
                           g_object_unref(d);
                           return G_SOURCE_REMOVE;
                         },
                         g_object_ref(d));
                   }),
                   nullptr);
}

}  // namespace

void install() {
  std::vector<std::string> remove;
  std::vector<std::pair<std::string, std::string>> forNewInstances;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq) continue;
    std::string name(*e, static_cast<size_t>(eq - *e)), value(eq + 1);
    if (isTestVariable(name)) {
      remove.push_back(name);
      forNewInstances.emplace_back(name, value);
    }
    g_started[name] = std::move(value);
  }
  for (const auto& name : remove) unsetenv(name.c_str());
  // A relaunched instance is this test shell again, with the same test.
  setNewInstanceEnvironment(std::move(forNewInstances));
  if (const std::string dir = variable("CORVANE_WEB_EXTENSIONS_DIR"); !dir.empty())
    WebContext::setExtensionDirectory(dir);

  WebViewDelegate::setPanelObserver(answerWhenShown);
  WebViewDelegate::setExtraMembers([](WebViewDelegate& root) {
    auto test = std::make_unique<TestService>(root.page());
    test->resizeWindow = [&root](int w, int h) {
      GtkWidget* top = root.webView() ? gtk_widget_get_toplevel(GTK_WIDGET(root.webView())) : nullptr;
      if (top && GTK_IS_WINDOW(top)) gtk_window_resize(GTK_WINDOW(top), w, h);
    };
    std::vector<std::pair<std::string, std::unique_ptr<ServiceObject>>> members;
    members.emplace_back("test", std::move(test));
    return members;
  });
}

std::string variable(const std::string& name) {
  if (auto it = g_started.find(name); it != g_started.end()) return it->second;
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

void answerNextPanel(const std::string& button) { g_nextPanelAnswer = button; }

}  // namespace corvane::testshell
