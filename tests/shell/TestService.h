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
  void answerNextPanel(const std::string& button);
  // JSON text: "callback", "ms". Waits that long inside the call with the
  // main loop running (as a long copy does), then calls back.
  void waitInCall(const nlohmann::json& argument);
  // Application life: the paths of every open-files notice so far, the main
  // window's state as GTK has it, and closing the main window as a user does.
  nlohmann::json openedFiles();
  nlohmann::json windowState();
  void closeMainWindow();
  // The main menu bar's item with the tag: its label, visibility, menu and
  // position there, and whether it is a separator (null when none).
  nlohmann::json menuItemState(double tag);
  // Whether the main window was on screen (shown, not minimised) when each
  // open-files notice arrived, in notice order.
  nlohmann::json openedWhileVisible();
  void minimizeMainWindow();
  // Closes every application window but the main one, as their close buttons do.
  void closeOtherWindows();
  int visibleWindowCount();
  bool pathExists(const std::string& path);
  // The whole main menu bar as the person sees it: each item's title, shown
  // key, whether it is enabled, visible or a separator, and its submenu.
  nlohmann::json menuBarTree();
  // The shell's environment as it started (its test variables included,
  // which the shell itself no longer holds).
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
