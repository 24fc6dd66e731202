#pragma once
// The `window` member: the page's host window (geometry and state), the
// menu bar as the page changes it, the open and save dialogs with the
// recent-documents list, and file operations. One class; its
// implementation is split by topic:
//   Window.cpp          creation, teardown, launch-time records, properties,
//                       opened and dropped files, the script-name table
//   WindowGeometry.cpp  position, size, limits, minimise, maximise, full screen
//   WindowMenus.cpp     setMenuProperty and the menu-action dispatch
//   WindowDialogs.cpp   openFile, saveFile, recent documents
//   WindowFiles.cpp     copy, move, remove, create, find, info, reveal, preview
//   WindowDrops.cpp     drag-and-drop settings and the delivery of dropped files
//   WindowWatchers.cpp  change watchers
//   WindowCapture.cpp   capture, print, printToPDF
//   WindowStore.cpp     info files, user defaults, other applications' facts
//   WindowTasks.cpp     plug-in and built-in tasks (plugins/PluginTasks)
// The platform-free halves live in services/FileOperations and
// services/FileRecord (core library, testable without a display).
#include "app/NotificationCenter.h"
#include "bridge/PageScript.h"
#include "bridge/ServiceObject.h"
#include "plugins/PluginTasks.h"
#include "ui/MainWebView.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class WindowController;
class ChangeWatcher;

class Window : public ServiceObject, public MainWebViewDelegate {
 public:
  // initWithWebView: the page's script door, its web view, and the
  // application's main menu bar (nullptr for windows without one).
  Window(std::shared_ptr<PageScript> page, WebKitWebView* webView, GtkWidget* mainMenu);
  ~Window() override;
  const ServiceClass& serviceClass() const override;

  // User-defaults keys of the launch-time records.
  static constexpr const char* kFirstLaunchTime = "sys_firstLaunchTime";
  static constexpr const char* kLastLaunchTime = "sys_lastLaunchTime";
  static constexpr const char* kLastUseTime = "sys_lastUseTime";

  // ---- geometry and state (WindowGeometry.cpp) ------------------------------
  void open(const nlohmann::json& argument);
  void move(const nlohmann::json& argument);
  std::string getOrigin();
  void resize(const nlohmann::json& argument);
  void toggleFullscreen();
  void restore();
  void minimize();
  void maximize();
  bool isMaximized();
  std::string getMinsize();
  void setMinsize(const nlohmann::json& argument);
  std::string getMaxsize();
  void setMaxsize(const nlohmann::json& argument);
  std::string getSize();
  void openColorSelectDialog_(const nlohmann::json&) {}
  void openFontSelectDialog_(const nlohmann::json&) {}

  // ---- menus (WindowMenus.cpp) ----------------------------------------------
  void setMenuProperty(const nlohmann::json& argument);
  // The menu-did-send-action observer: calls the item's callback list.
  void onMenuItemSendAction(GtkWidget* item);

  // ---- dialogs and recent documents (WindowDialogs.cpp) ----------------------
  void openFile(const nlohmann::json& argument);
  void saveFile(const nlohmann::json& argument);
  void addRecentDocument(const nlohmann::json& argument);
  void clearAllRecentDocuments();
  int64_t maxRecentDocumentCount();
  // _autoAddToRecentDocumentController:mustWritable: (a file URL).
  void autoAddToRecentDocuments(const std::string& fileUrl, bool mustWritable);

  // ---- file operations (WindowFiles.cpp) --------------------------------------
  void copyFile(const nlohmann::json& argument);
  void copyDir(const nlohmann::json& argument);
  void moveFile(const nlohmann::json& argument);
  void moveDir(const nlohmann::json& argument);
  bool removeFile(const nlohmann::json& argument);
  bool removeDir(const nlohmann::json& argument);
  bool createDir(const nlohmann::json& argument);
  bool createEmptyFile(const nlohmann::json& argument);
  std::string findFile(const nlohmann::json& argument);
  void getFileInfo(const nlohmann::json& argument);
  void revealInFinder(const nlohmann::json& argument);
  void preveiwFile(const nlohmann::json& argument);
  void previewFile(const nlohmann::json& argument) { preveiwFile(argument); }

  // ---- opened files (Window.cpp) -------------------------------------------------
  void onApplicationOpenFiles(const nlohmann::json& object);

  // ---- drag and drop (WindowDrops.cpp) ----------------------------------------------
  void set_DragDropAllowFile(const nlohmann::json& argument);
  void set_DragDropAllowDir(const nlohmann::json& argument);
  void set_DragDropAllowFileTypes(const nlohmann::json& argument);
  void set_DragDropCallback(const nlohmann::json& argument);
  void set_DragDropCommonInterface(const nlohmann::json& argument);
  // Filters the items by the settings and calls dragDropJSCallback with
  // their records, or shows the "Prompt" alert when none is accepted.
  void dragDropViewFileList(const std::vector<std::string>& items, MainWebView* view) override;

  // ---- change watchers (WindowWatchers.cpp) -------------------------------------------
  bool createDirChangeWatcher(const nlohmann::json& argument);
  bool createFileChangeWatcher(const nlohmann::json& argument);
  bool removeFromChangeWatcher(const nlohmann::json& argument);

  // ---- capture and print (WindowCapture.cpp) ---------------------------------------------
  void capture(const nlohmann::json& argument);
  void print(const nlohmann::json& argument);
  void printToPDF(const nlohmann::json& argument);

  // ---- info files, defaults, other applications (WindowStore.cpp) -------------------------
  void getAppInfoFromLocal(const nlohmann::json& argument);
  void saveAppInfoToLocal(const nlohmann::json& argument);
  void setInfoToUserDefaults(const nlohmann::json& argument);
  void getInfoFromUserDefaults(const nlohmann::json& argument);
  void removeItemFromUserDefaults(const nlohmann::json& argument);
  std::string getOtherAppInfo(const nlohmann::json& argument);

  // ---- plug-in tasks (WindowTasks.cpp) ------------------------------------------------
  void execTask(const nlohmann::json& argument);
  void execBuildInTask(const nlohmann::json& argument);

  // ---- property getters (script-callable under their default names) ------------
  std::string availableFontsStrList() const { return availableFontsStrList_; }
  nlohmann::json availableFonts() const { return availableFonts_; }
  std::string dragDropJSCallback() const { return dragDropJSCallback_; }
  nlohmann::json dragDropAllowFileTypes() const { return dragDropAllowFileTypes_; }
  bool allowDragDropDirectory() const { return allowDragDropDirectory_; }
  bool allowDragDropFile() const { return allowDragDropFile_; }
  bool allowDragDropCalculateFolderSize() const { return allowDragDropCalculateFolderSize_; }
  nlohmann::json curSaveOpenTypes() const { return curSaveOpenTypes_; }
  uint64_t customMenuActionIndex() const { return customMenuActionIndex_; }
  std::string lastPluginBundlePath() const;
  nlohmann::json pluginBundlePath2BundelTaskDic() const;

  // The window that holds this object's web view, and the application's
  // main window (the first one the application made).
  GtkWindow* hostWindow() const;
  static GtkWindow* mainWindow();
  // The main screen (primary monitor) in GDK's top-left coordinates.
  static GdkRectangle mainScreenRect();

 private:
  // Copy, move and remove share one procedure per verb (WindowFiles.cpp).
  enum class Verb { Copy, Move, Remove };
  bool processItem(const nlohmann::json& argument, Verb verb, bool dir, const char* method);
  bool createItem(const nlohmann::json& argument, bool dir, const char* method);
  void writeLaunchRecords();
  // The drag-and-drop settings a setter may change.
  enum DropSetting : unsigned { kDropFile = 1, kDropDir = 2, kDropTypes = 4, kDropCallback = 8, kDropFolderSize = 16 };
  void applyDragDropSettings(const nlohmann::json& argument, unsigned which, const char* method);
  nlohmann::json dropRecords(const std::vector<std::string>& items);
  bool common_createPathChangeWatcher(const nlohmann::json& argument, bool isDir);
  void answerStoreCall(const nlohmann::json& argument, const char* method,
                       const std::function<nlohmann::json(const nlohmann::json&)>& work);
  GtkWidget* menuBar() const;
  // The menu-did-send-action observers: every Window object.
  static void observeMenuActions(Window* window, bool observe);

  std::shared_ptr<PageScript> page_;
  WebKitWebView* webView_ = nullptr;  // weak: the view may go first
  GtkWidget* mainMenu_ = nullptr;
  std::unique_ptr<WindowController> windowController_;
  std::vector<std::unique_ptr<WindowController>> earlierControllers_;

  std::unique_ptr<PluginTasks> tasks_;  // the plug-in bookkeeping and its LibCallbackService
  static std::unique_ptr<PluginTasks> makePluginTasks(std::shared_ptr<PageScript> page);
  nlohmann::json availableFonts_ = nlohmann::json::array();
  std::string availableFontsStrList_;
  std::string dragDropJSCallback_ = "app.dragDropJSCallback";
  nlohmann::json dragDropAllowFileTypes_ = nlohmann::json::array({"*"});
  bool allowDragDropDirectory_ = true;
  bool allowDragDropFile_ = true;
  bool allowDragDropCalculateFolderSize_ = false;
  GtkFileChooser* curSaveOpenPanel_ = nullptr;  // the last dialog's chooser (owned ref)
  nlohmann::json curSaveOpenTypes_ = nlohmann::json::array();
  uint64_t customMenuActionIndex_ = 0;
  std::vector<NotificationCenter::Token> observers_;
  std::vector<std::string> pendingOpenFiles_;  // opened while the page loads
  std::vector<std::unique_ptr<ChangeWatcher>> VDKWatcherList_;
};

}  // namespace corvane
