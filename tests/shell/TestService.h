#pragma once
// The tests' own service object, `corvane.test`, present only in the
// tests' shell (tests/shell), never in the shipped one: it exercises the
// callback paths that no real service has yet — callbacks by name at once
// and from another thread, page function objects, events and panel answers
// — and hands the page's findings to the test.
#include "bridge/CallbackDelegate.h"
#include "bridge/ServiceObject.h"

#include <functional>
#include <memory>
#include <string>

namespace corvane {

class TestService : public ServiceObject {
 public:
  explicit TestService(std::shared_ptr<PageScript> webView);
  const ServiceClass& serviceClass() const override;

  // Callback paths: by name at once and from another thread, page function
  // objects kept and called later, events.
  std::string echoParams(const nlohmann::json& argument);
  std::string callNow(const nlohmann::json& argument);
  void callFromThread(const nlohmann::json& argument);
  nlohmann::json echo(nlohmann::json value);
  bool keepFunction(std::shared_ptr<CallbackDelegate> function);
  void callKept(const nlohmann::json& value);
  void callKeptLater(const nlohmann::json& value);
  void dropKept();
  void fireEvent(const std::string& name);
  void fireEventWithData(const std::string& name, const nlohmann::json& data);
  void setValue(const nlohmann::json& value);
  nlohmann::json getValue();
  // The label of the button the next panel gets pressed ("close" closes it).
  void answerNextPanel(const std::string& button);
  // JSON text: "callback", "ms". Waits that long inside the call with the
  // main loop running (as a long copy does), then calls back.
  void waitInCall(const nlohmann::json& argument);
  // The application's life as GTK has it: open-files notices (and whether
  // the main window was on screen for each), window state, menu bar.
  nlohmann::json openedFiles();
  nlohmann::json openedWhileVisible();
  nlohmann::json windowState();
  void closeMainWindow();
  void minimizeMainWindow();
  void closeOtherWindows();
  int visibleWindowCount();
  // The menu bar's item with the tag: label, visibility, menu and position.
  nlohmann::json menuItemState(double tag);
  // Every item: title, shown key, enabled, visible, separator, submenu.
  nlohmann::json menuBarTree();
  bool pathExists(const std::string& path);
  // The shell's environment as it started, its test variables included.
  std::string environment(const std::string& name);
  // Writes the page's report to $CORVANE_TEST_RESULT and ends the shell.
  bool finish(const std::string& report);
  void resize(double width, double height);

  // Set by the bridge root: resizes the page's window.
  std::function<void(int, int)> resizeWindow;

 private:
  static bool mainWindowOnScreen();
  std::shared_ptr<PageScript> webView_;
  nlohmann::json openedFiles_ = nlohmann::json::array();
  nlohmann::json openedWhileVisible_ = nlohmann::json::array();
  std::shared_ptr<CallbackDelegate> kept_;
  nlohmann::json value_;
};

}  // namespace corvane
