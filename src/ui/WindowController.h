#pragma once
// A top-level window holding one ContentView, with a header bar for its
// title and buttons. The main window also carries the main menu bar. All
// windows share one saved frame ("CorvaneWindow").
//
// Closing asks the page first, as browsers do: the title bar's close
// button, the window manager, File › Close Window and the page's own
// window.close() all let the page's beforeunload handlers keep the window
// (WebKit's try-close, with the leave question of the bridge root).
#include "ui/ContentView.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  // From now on the title bar and the window's name on the desktop (task
  // lists, window switchers) show the page's document.title, and the
  // application's name while the page has none.
  void followPageTitle();

  // Asks the page whether it may close. `answer` gets true once it agreed
  // (no beforeunload handler objected, or the person chose to leave) and
  // false when the person chose to stay. Without an answer function the
  // window closes when the page agrees (`closeAgreed`). A page that does not
  // answer within kCloseAnswerSeconds (a hung or dead web process) and
  // shows no question counts as agreeing.
  void requestClose(std::function<void(bool agreed)> answer = {});
  // What closing the window means once its page agreed; by default the
  // window is destroyed (the main window hides instead, see AppDelegate).
  std::function<void()> closeAgreed;
  static constexpr unsigned kCloseAnswerSeconds = 10;

  // The controllers whose windows are open or hidden (not destroyed), in
  // the order they were made; `isLive` tells whether one still is.
  static std::vector<WindowController*> all();
  static bool isLive(const WindowController* controller);

  std::unique_ptr<ContentView> contentView;
  std::optional<std::string> url;
  AppDelegate* appDelegate = nullptr;  // not owned

 private:
  // Starts loading `startUrl` (when given) before it builds the window.
  WindowController(GtkWidget* menuBar, WebKitWebView* related, std::optional<std::string> startUrl = std::nullopt);
  void windowDidLoad();
  void notificationCenter();
  void restoreFrame();
  void saveFrame();
  static gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer);
  void watchClosing();
  void pageClosed();
  void answerClose(bool agreed);
  void startCloseTimer();
  void stopCloseTimer();
  void runCloseAgreed();

  GtkWindow* window_;
  GtkHeaderBar* header_;
  int lastWidth_ = 0, lastHeight_ = 0;
  guint saveTimer_ = 0;
  // Answers waiting for the page's decision; the page is asked once for all.
  std::vector<std::function<void(bool)>> closeAnswers_;
  guint closeTimer_ = 0;
  bool destroyed_ = false;
};

}  // namespace corvane
