#pragma once
// Brings a page back after its web process died (PageCrashPolicy decides
// when), and when it gives up shows a message over the view, drawn by the
// shell itself (it needs no web process), with a button to try again.
// Reloading by hand (the button, Ctrl+R, View > Reload) always tries again
// and starts the count afresh.
#include "app/PageCrashPolicy.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

namespace corvane {

class PageRecovery {
 public:
  // Wraps the view: the answer of widget() takes its place in the window.
  explicit PageRecovery(WebKitWebView* view);
  ~PageRecovery();
  PageRecovery(const PageRecovery&) = delete;
  PageRecovery& operator=(const PageRecovery&) = delete;

  GtkWidget* widget() const { return overlay_; }
  // The page's web process ended; `why` says how ("crashed", ...).
  void processEnded(const std::string& why);
  // The person asks for the page again.
  void reload();
  bool messageShown() const;

 private:
  void showMessage(const std::string& headline, const std::string& detail);
  void hideMessage();
  void reloadPage();
  void cancelTimer();

  WebKitWebView* view_;
  GtkWidget* overlay_;
  GtkWidget* panel_;
  GtkWidget* headline_;
  GtkWidget* detail_;
  GtkWidget* button_;
  guint timer_ = 0;
  bool gone_ = false;  // the view's window was destroyed
  PageCrashPolicy policy_;
};

}  // namespace corvane
