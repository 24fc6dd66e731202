#include "ui/WindowController.h"

#include "bridge/GSignal.h"

#include "app/LaunchPlan.h"
#include "app/LaunchTrace.h"
#include "app/Log.h"
#include "app/UserDefaults.h"
#include "app/Utils.h"
#include "ui/PageFirstKeys.h"

#include <algorithm>
#include <sstream>

namespace corvane {

namespace {
constexpr const char* kFrameKey = "NSWindow Frame CorvaneWindow";

std::vector<WindowController*>& controllers() {
  static std::vector<WindowController*> list;
  return list;
}
}  // namespace

std::vector<WindowController*> WindowController::all() {
  std::vector<WindowController*> out;
  for (WindowController* c : controllers())
    if (!c->destroyed_) out.push_back(c);
  return out;
}

bool WindowController::isLive(const WindowController* controller) {
  for (WindowController* c : controllers())
    if (c == controller) return !c->destroyed_;
  return false;
}

std::optional<std::string> WindowController::resolveStartPage(const std::string& startPage,
                                                              const std::string& resourceDir) {
  return resolveStartPageUri(startPage, resourceDir);
}

WindowController::WindowController(GtkWidget* menuBar, WebKitWebView* related, std::optional<std::string> startUrl)
    : url(std::move(startUrl)) {
  // The page first: its web process starts while the window is built.
  contentView = std::make_unique<ContentView>(menuBar, related);
  windowDidLoad();
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  // Our own reference: the user may close (destroy) the window long before
  // the controller goes away.
  g_object_ref(window_);
  header_ = GTK_HEADER_BAR(gtk_header_bar_new());
  gtk_header_bar_set_show_close_button(header_, TRUE);
  gtk_header_bar_set_title(header_, Utils::sharedInstance().getAppName().c_str());
  gtk_window_set_titlebar(window_, GTK_WIDGET(header_));
  gtk_widget_show(GTK_WIDGET(header_));

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  if (menuBar) {
    gtk_box_pack_start(GTK_BOX(box), menuBar, FALSE, FALSE, 0);
    if (auto* accel = static_cast<GtkAccelGroup*>(g_object_get_data(G_OBJECT(menuBar), "corvane-accel")))
      gtk_window_add_accel_group(window_, accel);
  }
  gtk_box_pack_start(GTK_BOX(box), contentView->widget(), TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window_), box);
  routeKeysToPageFirst(window_);
  gtk_widget_show_all(box);
  restoreFrame();
  controllers().push_back(this);
  watchClosing();
}

WindowController::~WindowController() {
  if (saveTimer_) g_source_remove(saveTimer_);
  auto& list = controllers();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  // Whoever waits for this page's decision learns that it is gone.
  destroyed_ = true;
  answerClose(true);
  g_signal_handlers_disconnect_by_data(window_, this);
  g_signal_handlers_disconnect_by_data(contentView->webView->view(), this);
  contentView->delegate->beforeUnloadAsked = nullptr;
  contentView->delegate->beforeUnloadAnswered = nullptr;
  contentView.reset();
  gtk_widget_destroy(GTK_WIDGET(window_));
  g_object_unref(window_);
}

std::unique_ptr<WindowController> WindowController::initWithURL(const std::string& startPage, GtkWidget* menuBar) {
  auto page = resolveStartPage(startPage, Utils::sharedInstance().bundle().resourcePath());
  std::unique_ptr<WindowController> c(new WindowController(menuBar, nullptr, std::move(page)));
  c->notificationCenter();
  log().info("ZavrelonAPP##url = {}", c->url.value_or("(null)"));
  return c;
}

std::unique_ptr<WindowController> WindowController::initWithSpecURL(const std::string& spec, GtkWidget* menuBar) {
  std::unique_ptr<WindowController> c(new WindowController(menuBar, nullptr, spec));
  c->notificationCenter();
  log().info("ZavrelonAPP##url = {}", spec);
  return c;
}

std::unique_ptr<WindowController> WindowController::initWithRequest(WebKitWebView* related) {
  std::unique_ptr<WindowController> c(new WindowController(nullptr, related));
  c->notificationCenter();
  // WebKit loads the request into the new view; its address shows once set.
  g_signal_connect(c->contentView->webView->view(), "notify::uri", signalHandler([](WebKitWebView* v, GParamSpec*, gpointer self) {
                     auto* wc = static_cast<WindowController*>(self);
                     if (wc->url) return;
                     const char* u = webkit_web_view_get_uri(v);
                     if (!u || !*u) return;
                     wc->url = u;
                     log().info("ZavrelonAPP##url = {}", u);
                   }),
                   c.get());
  return c;
}

void WindowController::windowDidLoad() {
  if (!url) return;
  webkit_web_view_load_uri(contentView->webView->view(), url->c_str());
  launchStep("page load started");
}

void WindowController::showWindow() { gtk_window_present(window_); }

void WindowController::followPageTitle() {
  auto apply = [](WebKitWebView* view, GParamSpec*, gpointer self) {
    auto* c = static_cast<WindowController*>(self);
    const char* page = webkit_web_view_get_title(view);
    const std::string title = page && *page ? page : Utils::sharedInstance().getAppName();
    gtk_header_bar_set_title(c->header_, title.c_str());
    gtk_window_set_title(c->window_, title.c_str());
  };
  WebKitWebView* view = contentView->webView->view();
  g_signal_connect(view, "notify::title", signalHandler(apply), this);
  apply(view, nullptr, this);
}

void WindowController::watchClosing() {
  g_signal_connect(window_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     static_cast<WindowController*>(self)->requestClose();
                     return TRUE;  // the page decides; closeAgreed closes
                   }),
                   this);
  g_signal_connect(window_, "destroy", signalHandler([](GtkWidget*, gpointer self) {
                     auto* c = static_cast<WindowController*>(self);
                     c->destroyed_ = true;
                     c->answerClose(true);
                   }),
                   this);
  // The page agreed: WebKit's answer to try-close, or the page's own
  // window.close() (WebKit ran its beforeunload handlers for that too).
  g_signal_connect(contentView->webView->view(), "close", signalHandler([](WebKitWebView*, gpointer self) {
                     static_cast<WindowController*>(self)->pageClosed();
                   }),
                   this);
  WebViewDelegate& root = *contentView->delegate;
  // While the leave question is up the person decides, however long it takes.
  root.beforeUnloadAsked = [this] { stopCloseTimer(); };
  root.beforeUnloadAnswered = [this](bool leave) {
    if (closeAnswers_.empty()) return;  // the question came with a navigation
    if (leave) startCloseTimer();       // WebKit reports the close next
    else answerClose(false);
  };
}

void WindowController::requestClose(std::function<void(bool agreed)> answer) {
  if (!answer)
    answer = [this](bool agreed) {
      if (agreed) runCloseAgreed();
    };
  closeAnswers_.push_back(std::move(answer));
  if (closeAnswers_.size() > 1) return;  // the page is being asked already
  startCloseTimer();
  // Last: without a web process WebKit answers at once, inside this call.
  webkit_web_view_try_close(contentView->webView->view());
}

void WindowController::pageClosed() {
  if (closeAnswers_.empty()) {
    runCloseAgreed();  // the page's own window.close()
    return;
  }
  answerClose(true);
}

void WindowController::answerClose(bool agreed) {
  stopCloseTimer();
  auto answers = std::move(closeAnswers_);
  closeAnswers_.clear();
  for (auto& a : answers) a(agreed);
}

void WindowController::startCloseTimer() {
  stopCloseTimer();
  closeTimer_ = g_timeout_add_seconds(
      kCloseAnswerSeconds,
      +[](gpointer self) -> gboolean {
        auto* c = static_cast<WindowController*>(self);
        c->closeTimer_ = 0;
        const char* uri = webkit_web_view_get_uri(c->contentView->webView->view());
        log().warn("the page {} did not answer the request to close within {} s; closing it",
                   uri ? uri : "(none)", kCloseAnswerSeconds);
        c->answerClose(true);
        return G_SOURCE_REMOVE;
      },
      this);
}

void WindowController::stopCloseTimer() {
  if (closeTimer_) g_source_remove(closeTimer_);
  closeTimer_ = 0;
}

void WindowController::runCloseAgreed() {
  if (destroyed_) return;  // closed already, by other means
  if (closeAgreed) {
    closeAgreed();
    return;
  }
  // WebKit may be inside one of the view's signals: the window (and the
  // view with it) goes once that has returned.
  g_idle_add(
      +[](gpointer w) -> gboolean {
        gtk_widget_destroy(GTK_WIDGET(w));
        g_object_unref(w);
        return G_SOURCE_REMOVE;
      },
      g_object_ref(window_));
}

void WindowController::notificationCenter() {
  g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);
}

gboolean WindowController::onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
  auto* c = static_cast<WindowController*>(self);
  const bool resized = event->width != c->lastWidth_ || event->height != c->lastHeight_;
  const bool first = c->lastWidth_ == 0;
  c->lastWidth_ = event->width;
  c->lastHeight_ = event->height;
  if (resized && !first && c->contentView) c->contentView->windowResized();
  // Save the frame once the user stops moving or resizing.
  if (c->saveTimer_) g_source_remove(c->saveTimer_);
  c->saveTimer_ = g_timeout_add(
      400,
      +[](gpointer p) -> gboolean {
        auto* wc = static_cast<WindowController*>(p);
        wc->saveTimer_ = 0;
        wc->saveFrame();
        return G_SOURCE_REMOVE;
      },
      c);
  return FALSE;
}

void WindowController::restoreFrame() {
  int x = -1, y = -1, w = 1024, h = 720;
  std::string frame = Utils::sharedInstance().userDefaults().stringForKey(kFrameKey);
  std::istringstream in(frame);
  int fx, fy, fw, fh;
  if (in >> fx >> fy >> fw >> fh && fw > 0 && fh > 0) {
    x = fx;
    y = fy;
    w = fw;
    h = fh;
  }
  gtk_window_set_default_size(window_, w, h);
  if (x >= 0 && y >= 0) gtk_window_move(window_, x, y);
  else gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
}

void WindowController::saveFrame() {
  int x, y, w, h;
  gtk_window_get_position(window_, &x, &y);
  gtk_window_get_size(window_, &w, &h);
  auto& defaults = Utils::sharedInstance().userDefaults();
  defaults.setObject(kFrameKey, std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " +
                                    std::to_string(h));
  defaults.synchronize();
}

}  // namespace corvane
