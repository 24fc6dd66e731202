#pragma once
// The application delegate: the launch in three stages on GTK's main loop,
// the main window and the main menu.
#include "app/CommandLine.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>

typedef struct _GtkApplication GtkApplication;

namespace corvane {

class MainMenu;
class WindowController;

class AppDelegate {
 public:
  static int run(int argc, char** argv, const CommandLine& cli);

  // The start page string of the no-server launch: "startPage" with its
  // placeholders expanded, else "public/index.html", then the
  // "enableSpecPublic"/"userSpecPublic" rules.
  static std::string startPageFor(const std::optional<nlohmann::json>& appExInfo);

  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  void private_applicationDidFinishLaunching();

  std::unique_ptr<WindowController> windowController;
  bool hasAlreadyLanuched = false;
  bool enableShouldTerminateAfterLastWindowClosed = false;
  std::unique_ptr<MainMenu> menu;

  ~AppDelegate();

 private:
  void buildMainMenu();
  void newWindowHooks(WindowController& controller);
  void quit();

  GtkApplication* app_ = nullptr;
  std::unique_ptr<WindowController> requestedWindow_;
  std::string screenshotPath_;
  bool screenshotQuit_ = false;
};

}  // namespace corvane
