// The Window object itself: creation and teardown, the launch-time
// records, opened files, and its one script-name table. The
// methods live in the topic files named in Window.h.
#include "services/Window.h"

#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/ChangeWatcher.h"
#include "ui/WindowController.h"

#include <fontconfig/fontconfig.h>

#include <ctime>
#include <set>

namespace corvane {
namespace {

// Every installed font face by its PostScript name, in fontconfig's order.
nlohmann::json installedFontNames() {
  nlohmann::json names = nlohmann::json::array();
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_POSTSCRIPT_NAME, nullptr);
  FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
  std::set<std::string> seen;
  for (int i = 0; fonts && i < fonts->nfont; ++i) {
    FcChar8* name = nullptr;
    if (FcPatternGetString(fonts->fonts[i], FC_POSTSCRIPT_NAME, 0, &name) == FcResultMatch && name &&
        seen.insert(reinterpret_cast<const char*>(name)).second)
      names.push_back(reinterpret_cast<const char*>(name));
  }
  if (fonts) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return names;
}

int64_t nowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

Window::Window(std::shared_ptr<PageScript> page, WebKitWebView* webView, GtkWidget* mainMenu)
    : page_(std::move(page)), webView_(webView), mainMenu_(mainMenu) {
  // 1. The web view, and this object as its drop delegate.
  customMenuActionIndex_ = 0;
  if (webView_) {
    g_object_add_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
    if (MainWebView* view = MainWebView::from(webView_)) view->exDelegate = this;
  }
  // 2. Plug-in bookkeeping starts empty.
  tasks_ = makePluginTasks(page_);
  // 4. The recent-documents list, loaded once.
  try {
    gtk_recent_manager_get_default();
  } catch (const std::exception& e) {
    log().info("found a error = {}", e.what());
  }
  // 5. Installed fonts.
  availableFonts_ = installedFontNames();
  availableFontsStrList_ = availableFonts_.dump();
  // 6. Files the desktop asks the application to open reach the page as
  // dropped files do. Menu actions reach onMenuItemSendAction through the
  // items themselves (WindowMenus.cpp).
  observers_.push_back(NotificationCenter::defaultCenter().addObserver(
      kNoticeApplicationOpenFiles,
      [this](const std::string&, const nlohmann::json& object) { onApplicationOpenFiles(object); }));
  observeMenuActions(this, true);
  // 7. Launch-time records.
  writeLaunchRecords();
}

Window::~Window() {
  UserDefaults& defaults = Utils::sharedInstance().userDefaults();
  defaults.setObject(kLastUseTime, nowSeconds());
  defaults.synchronize();
  for (auto token : observers_) NotificationCenter::defaultCenter().removeObserver(token);
  observeMenuActions(this, false);
  if (webView_) {
    if (MainWebView* view = MainWebView::from(webView_); view && view->exDelegate == this)
      view->exDelegate = nullptr;
    g_signal_handlers_disconnect_by_data(webView_, this);
    g_object_remove_weak_pointer(G_OBJECT(webView_), reinterpret_cast<gpointer*>(&webView_));
  }
  if (curSaveOpenPanel_) g_object_unref(curSaveOpenPanel_);
}

void Window::writeLaunchRecords() {
  UserDefaults& defaults = Utils::sharedInstance().userDefaults();
  const int64_t now = nowSeconds();
  if (!defaults.objectForKey(kFirstLaunchTime)) defaults.setObject(kFirstLaunchTime, now);
  defaults.setObject(kLastLaunchTime, now);
  defaults.synchronize();
}

GtkWindow* Window::hostWindow() const {
  if (!webView_) return nullptr;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(webView_));
  return top && gtk_widget_is_toplevel(top) && GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

GtkWindow* Window::mainWindow() {
  // The application's windows are listed most recently focused first; the
  // main window is the one it made first.
  if (GApplication* app = g_application_get_default(); app && GTK_IS_APPLICATION(app))
    if (GList* last = g_list_last(gtk_application_get_windows(GTK_APPLICATION(app))))
      return GTK_WINDOW(last->data);
  return nullptr;
}

// ---- opened files ----------------------------------------------------------------

void Window::onApplicationOpenFiles(const nlohmann::json& object) {
  log().info("Received notification: {}", object.dump());
  if (!object.is_array()) return;
  std::vector<std::string> paths;
  for (const auto& p : object)
    if (p.is_string()) paths.push_back(p.get<std::string>());
  // A page still loading has no handler yet: the files wait for the load.
  if (webView_ && webkit_web_view_is_loading(webView_)) {
    const bool waiting = !pendingOpenFiles_.empty();
    pendingOpenFiles_.insert(pendingOpenFiles_.end(), paths.begin(), paths.end());
    if (!waiting)
      g_signal_connect(webView_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                         if (event != WEBKIT_LOAD_FINISHED) return;
                         auto* w = static_cast<Window*>(self);
                         g_signal_handlers_disconnect_by_data(w->webView_, w);
                         auto files = std::move(w->pendingOpenFiles_);
                         w->pendingOpenFiles_.clear();
                         w->dragDropViewFileList(files, w->webView_ ? MainWebView::from(w->webView_) : nullptr);
                       }),
                       this);
    return;
  }
  dragDropViewFileList(paths, webView_ ? MainWebView::from(webView_) : nullptr);
}

// ---- the script face -------------------------------------------------------------

const ServiceClass& Window::serviceClass() const {
  // Every method is callable; no field is visible. Methods of Parts that
  // are not built yet are absent until they are.
  static const ServiceClass cls =
      ServiceClass::Builder<Window>("Window")
          .method("open:", &Window::open)
          .method("move:", &Window::move)
          .method("getOrigin", &Window::getOrigin)
          .method("resize:", &Window::resize)
          .method("toggleFullscreen", &Window::toggleFullscreen)
          .method("restore", &Window::restore)
          .method("getMinsize", &Window::getMinsize)
          .method("setMinsize:", &Window::setMinsize)
          .method("getMaxsize", &Window::getMaxsize)
          .method("setMaxsize:", &Window::setMaxsize)
          .method("getSize", &Window::getSize)
          .method("minimize", &Window::minimize)
          .method("maximize", &Window::maximize)
          .method("isMaximized", &Window::isMaximized)
          .method("openColorSelectDialog:", &Window::openColorSelectDialog_)
          .method("openFontSelectDialog:", &Window::openFontSelectDialog_)
          .method("openFile:", &Window::openFile)
          .method("saveFile:", &Window::saveFile)
          .method("clearAllRecentDocuments", &Window::clearAllRecentDocuments)
          .method("addRecentDocument:", &Window::addRecentDocument)
          .method("maxRecentDocumentCount", &Window::maxRecentDocumentCount)
          .method("copyFile:", &Window::copyFile)
          .method("copyDir:", &Window::copyDir)
          .method("moveFile:", &Window::moveFile)
          .method("moveDir:", &Window::moveDir)
          .method("removeFile:", &Window::removeFile)
          .method("removeDir:", &Window::removeDir)
          .method("createDir:", &Window::createDir)
          .method("createEmptyFile:", &Window::createEmptyFile)
          .method("findFile:", &Window::findFile)
          .method("getFileInfo:", &Window::getFileInfo)
          .method("revealInFinder:", &Window::revealInFinder)
          .method("preveiwFile:", &Window::preveiwFile)
          .method("previewFile:", &Window::previewFile)
          .method("setMenuProperty:", &Window::setMenuProperty)
          .method("set_DragDropAllowDir:", &Window::set_DragDropAllowDir)
          .method("set_DragDropAllowFile:", &Window::set_DragDropAllowFile)
          .method("set_DragDropAllowFileTypes:", &Window::set_DragDropAllowFileTypes)
          .method("set_DragDropCallback:", &Window::set_DragDropCallback)
          .method("set_DragDropCommonInterface:", &Window::set_DragDropCommonInterface)
          .method("createDirChangeWatcher:", &Window::createDirChangeWatcher)
          .method("createFileChangeWatcher:", &Window::createFileChangeWatcher)
          .method("removeFromChangeWatcher:", &Window::removeFromChangeWatcher)
          .method("capture:", &Window::capture)
          .method("print:", &Window::print)
          .method("printToPDF:", &Window::printToPDF)
          .method("saveAppInfoToLocal:", &Window::saveAppInfoToLocal)
          .method("getAppInfoFromLocal:", &Window::getAppInfoFromLocal)
          .method("getInfoFromUserDefaults:", &Window::getInfoFromUserDefaults)
          .method("setInfoToUserDefaults:", &Window::setInfoToUserDefaults)
          .method("removeItemFromUserDefaults:", &Window::removeItemFromUserDefaults)
          .method("getOtherAppInfo:", &Window::getOtherAppInfo)
          .method("availableFontsStrList", &Window::availableFontsStrList)
          .method("availableFonts", &Window::availableFonts)
          .method("dragDropJSCallback", &Window::dragDropJSCallback)
          .method("dragDropAllowFileTypes", &Window::dragDropAllowFileTypes)
          .method("allowDragDropDirectory", &Window::allowDragDropDirectory)
          .method("allowDragDropFile", &Window::allowDragDropFile)
          .method("allowDragDropCalculateFolderSize", &Window::allowDragDropCalculateFolderSize)
          .method("curSaveOpenTypes", &Window::curSaveOpenTypes)
          .method("customMenuActionIndex", &Window::customMenuActionIndex)
          .method("lastPluginBundlePath", &Window::lastPluginBundlePath)
          .method("pluginBundlePath2BundelTaskDic", &Window::pluginBundlePath2BundelTaskDic)
          .method("execTask:", &Window::execTask)
          .method("execBuildInTask:", &Window::execBuildInTask)
          .scriptNames({
              {"open:", "open"},
              {"move:", "move"},
              {"getOrigin", "getOrigin"},
              {"resize:", "resize"},
              {"toggleFullscreen", "toggleFullscreen"},
              {"restore", "restore"},
              {"getMinsize", "getMinSize"},
              {"setMinsize:", "setMinsize"},
              {"getMaxsize", "getMaxSize"},
              {"setMaxsize:", "setMaxsize"},
              {"getSize", "getSize"},
              {"openFile:", "openFile"},
              {"saveFile:", "saveFile"},
              {"copyFile:", "copyFile"},
              {"copyDir:", "copyDir"},
              {"moveFile:", "moveFile"},
              {"moveDir:", "moveDir"},
              {"removeFile:", "removeFile"},
              {"removeDir:", "removeDir"},
              {"createDir:", "createDir"},
              {"createEmptyFile:", "createEmptyFile"},
              {"findFile:", "findFile"},
              {"revealInFinder:", "revealInFinder"},
              {"getFileInfo:", "getFileInfo"},
              {"clearAllRecentDocuments", "clearAllRecentDocuments"},
              {"addRecentDocument:", "addRecentDocument"},
              {"setMenuProperty:", "setMenuProperty"},
              {"preveiwFile:", "preveiwFile"},
              {"previewFile:", "previewFile"},
              {"saveAppInfoToLocal:", "saveAppInfoToLocal"},
              {"getAppInfoFromLocal:", "getAppInfoFromLocal"},
              {"getInfoFromUserDefaults:", "getInfoFromUserDefaults"},
              {"setInfoToUserDefaults:", "setInfoToUserDefaults"},
              {"removeItemFromUserDefaults:", "removeItemFromUserDefaults"},
              {"capture:", "capture"},
              {"set_DragDropAllowDir:", "setDragDropAllowDirectory"},
              {"set_DragDropAllowFile:", "setDragDropAllowFile"},
              {"set_DragDropAllowFileTypes:", "setDragDropAllowFileTypes"},
              {"set_DragDropCallback:", "setDragDropCallback"},
              {"set_DragDropCommonInterface:", "setDragDropConfig"},
              {"createDirChangeWatcher:", "createDirChangeWatcher"},
              {"createFileChangeWatcher:", "createFileChangeWatcher"},
              {"removeFromChangeWatcher:", "removeFromChangeWatcher"},
              {"printToPDF:", "printToPDF"},
              {"print:", "print"},
              {"getOtherAppInfo:", "getOtherAppInfo"},
              {"execTask:", "execTask"},
              {"execBuildInTask:", "execBuildInTask"},
          })
          .build();
  return cls;
}

}  // namespace corvane
