#pragma once
// A top-level window holding one ContentView, with a header bar for its
// title and buttons. The main window also carries the main menu bar. All
// windows share one saved frame ("CorvaneWindow").
#include "ui/ContentView.h"

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

namespace corvane {

class AppDelegate;

class WindowController {
 public:
  // The start page: resolved against the bundle's resource folder; a file
  // URL is used as such, anything else is read as an absolute URL.
  static std::unique_ptr<WindowController> initWithURL(const std::string& startPage, GtkWidget* menuBar);
  // A URL used as given (the local server's address).
  static std::unique_ptr<WindowController> initWithSpecURL(const std::string& url, GtkWidget* menuBar);
  // A window for a page's request: related to the asking view, no load of
  // its own (WebKit loads the request into it).
  static std::unique_ptr<WindowController> initWithRequest(WebKitWebView* related);

  // The URL initWithURL makes of a start page (nullopt: not a valid URL).
  static std::optional<std::string> resolveStartPage(const std::string& startPage, const std::string& resourceDir);

  ~WindowController();

  GtkWindow* window() const { return window_; }
  GtkHeaderBar* headerBar() const { return header_; }
  void showWindow();

  std::unique_ptr<ContentView> contentView;
  std::optional<std::string> url;
  AppDelegate* appDelegate = nullptr;  // not owned

 private:
  WindowController(GtkWidget* menuBar, WebKitWebView* related);
  void windowDidLoad();
  void notificationCenter();
  void restoreFrame();
  void saveFrame();
  static gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer);

  GtkWindow* window_;
  GtkHeaderBar* header_;
  int lastWidth_ = 0, lastHeight_ = 0;
  guint saveTimer_ = 0;
};

}  // namespace corvane
