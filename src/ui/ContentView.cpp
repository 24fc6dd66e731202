#include "ui/ContentView.h"

#include "app/Log.h"
#include "bridge/JSEventHelper.h"
#include "bridge/UtilTool.h"

namespace corvane {

ContentView::ContentView(GtkWidget* mainMenu, WebKitWebView* related)
    : webView(std::make_unique<MainWebView>(related)),
      delegate(std::make_unique<WebViewDelegate>(mainMenu)),
      recovery(std::make_unique<PageRecovery>(webView->view())) {
  delegate->attach(webView->view());
  delegate->pageProcessEnded = [this](const std::string& why) { recovery->processEnded(why); };
}

ContentView::~ContentView() {
  delegate.reset();
  recovery.reset();
  webView.reset();
}

void ContentView::windowResized() {
  // GTK keeps the web view at the content area's size already; the page
  // only needs to hear about it.
  JSEventHelper::triggerEvent("orientationchange", delegate->page());
}

void handDroppedFilesToPage(const std::shared_ptr<PageScript>& page, const std::vector<std::string>& items) {
  if (items.empty() || !page) return;
  try {
    for (const auto& p : items) log().info(">>> {}", p);
    page->evaluate("ZVRLabJs.handleDropFiles(" + UtilTool::argumentsAsJSON(items) + ");");
  } catch (const std::exception& e) {
    log().error("dragDropViewFileList error = {}", e.what());
  }
}

void ContentView::dragDropViewFileList(const std::vector<std::string>& items, MainWebView*) {
  handDroppedFilesToPage(delegate->page(), items);
}

}  // namespace corvane
