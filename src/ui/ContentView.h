#pragma once
// The window's content: the page's web view and the bridge root that
// serves it. Tells the page about resizes and hands it dropped files.
#include "bridge/WebViewDelegate.h"
#include "ui/MainWebView.h"
#include "ui/PageRecovery.h"

#include <memory>

namespace corvane {

// Calls the page's ZVRLabJs.handleDropFiles with the paths (nothing for
// none); the way dropped and opened files reach the page.
void handDroppedFilesToPage(const std::shared_ptr<PageScript>& page, const std::vector<std::string>& items);

class ContentView : public MainWebViewDelegate {
 public:
  // awakeFromNib: the web view with the shared preferences, and its bridge
  // root made with the main menu.
  explicit ContentView(GtkWidget* mainMenu, WebKitWebView* related = nullptr);
  ~ContentView() override;

  // The view, with the message shown over it when its page cannot come back.
  GtkWidget* widget() const { return recovery->widget(); }
  // Loads the page again, also after its process died for good.
  void reload() { recovery->reload(); }
  // Fires "orientationchange" on the page's document.
  void windowResized();
  // Calls the page's ZVRLabJs.handleDropFiles with the paths.
  void dragDropViewFileList(const std::vector<std::string>& items, MainWebView* view) override;

  std::unique_ptr<MainWebView> webView;
  std::unique_ptr<WebViewDelegate> delegate;
  std::unique_ptr<PageRecovery> recovery;
};

}  // namespace corvane
