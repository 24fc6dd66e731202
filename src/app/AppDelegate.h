#pragma once
// The application delegate: the launch in three stages on GTK's main loop,
// the main window and the main menu.
#include "app/CommandLine.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;
typedef struct _GDBusConnection GDBusConnection;

namespace corvane {

class DevMode;
struct LaunchSettings;
class MainMenu;
class WindowController;
namespace server {
class HttpServer;
}

class AppDelegate {
 public:
  static int run(int argc, char** argv, const CommandLine& cli);

  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  void private_applicationDidFinishLaunching();

  // Application events.
  void application_openFiles(const std::vector<std::string>& paths);
  bool applicationShouldHandleReopen(bool hasVisibleWindows);
  bool applicationShouldTerminateAfterLastWindowClosed();
  void applicationWillTerminate();
  void openMainWindow();
  void setMenuItemShow();

  // "AppExInfo" applied to the main window.
  void private_process_window_style(const std::optional<nlohmann::json>& x, GtkWindow* window);
  void private_process_window_size(const std::optional<nlohmann::json>& x, GtkWindow* window);
  void private_process_window_menu(const std::optional<nlohmann::json>& x, GtkWindow* window);
  void private_process_native_app_rate_remind(const std::optional<nlohmann::json>& x);

  std::unique_ptr<WindowController> windowController;
  bool hasAlreadyLanuched = false;
  bool enableShouldTerminateAfterLastWindowClosed = false;
  std::unique_ptr<MainMenu> menu;
  std::unique_ptr<server::HttpServer> httpServer;

  ~AppDelegate();

 private:
  void buildMainMenu();
  void mainWindowWillClose();
  static std::string applicationId();
  // The shared session bus connection (null without a bus), made while
  // the display opens.
  static GDBusConnection* openDisplayWhileConnectingToTheBus();
  void newWindowHooks(WindowController& controller);
  void quit();
  // File › Quit and its key: every open page may keep its work (its
  // beforeunload handlers), one after the other; quits once all agreed.
  void quitAskingPages();
  void askNextPageToQuit();
  // Registers the single instance, then either starts here or hands the
  // files (or a re-activation) to the instance that runs already.
  int startOrHandOver();
  void fileArgumentsOpened(const std::vector<std::string>& paths);
  void reactivated();
  // Termination has begun: the name goes, so a later start becomes the new
  // instance; what still reaches this one is passed on to a new instance.
  void giveUpInstance();
  void handOverToNewInstance(const std::vector<std::string>& paths);
  void quitIfNoWindowIsLeft();
  // Alert naming the fault of the configuration, then quit with
  // kConfigurationErrorExitStatus.
  void configurationFault(const std::string& what);

  GtkApplication* app_ = nullptr;
  std::unique_ptr<WindowController> requestedWindow_;
  std::vector<std::string> filesToOpen_;  // the command line's, as paths
  bool endingInstance_ = false;
  bool askingPagesToQuit_ = false;
  std::vector<WindowController*> pagesToAsk_;
  std::string screenshotPath_;
  bool screenshotQuit_ = false;
  bool windowTitleFromPage_ = false;  // "windowTitleFromPage"
  int exitStatus_ = 0;  // non-zero: the status the process ends with
  // Development mode, from the command line only (--dev, --dev-url).
  bool dev_ = false;
  std::string devUrl_;
  std::unique_ptr<DevMode> devMode_;
  // The folders whose saves reload the page in development mode.
  std::vector<std::string> developmentFolders(const LaunchSettings& settings, bool serving) const;
};

}  // namespace corvane
