#include "services/Tray.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/CallbackDelegate.h"
#include "bridge/WebViewDelegate.h"
#include "services/DBusMenuExporter.h"
#include "services/MenuProxy.h"
#include "ui/MainMenu.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <filesystem>

namespace corvane {
namespace {

constexpr const char* kMenuPath = "/MenuBar";
// The sizes panels draw tray icons at; each gets its own rendering so a
// vector icon stays sharp.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64};

// True when `path` resolves (links followed) to something below `root`:
// icons are read only from the application's own files. An icon is only
// decoded, never run, so a check by name is enough here.
bool resolvesInside(const std::string& path, const std::string& root) {
  std::error_code ec;
  const std::string real = std::filesystem::canonical(path, ec).string();
  if (ec) return false;
  std::string prefix = std::filesystem::canonical(root, ec).string();
  if (ec || prefix.empty()) return false;
  if (prefix.back() != '/') prefix += '/';
  return real.size() > prefix.size() && real.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> applicationFile(const std::string& text) {
  Utils& u = Utils::sharedInstance();
  const std::string bundle = u.bundle().bundlePath();
  const std::string ui = u.path_get_appUIDirPath();
  auto inside = [&](const std::string& path) {
    return Utils::checkPathIsFile(path) && (resolvesInside(path, bundle) || (!ui.empty() && resolvesInside(path, ui)));
  };
  if (!text.empty() && text[0] == '/') return inside(text) ? std::optional<std::string>(text) : std::nullopt;
  for (const std::string& folder : {ui, u.bundle().resourcePath()}) {
    if (folder.empty()) continue;
    const std::string path = folder + "/" + text;
    if (inside(path)) return path;
  }
  return std::nullopt;
}

std::optional<StatusNotifierItem::Pixmap> pixmapOf(const std::string& file, int size, std::string* why) {
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_scale(file.c_str(), size, size, TRUE, &error);
  if (!pixbuf) {
    if (why) *why = error ? error->message : "the image cannot be read";
    if (error) g_error_free(error);
    return std::nullopt;
  }
  GdkPixbuf* rgba = gdk_pixbuf_get_has_alpha(pixbuf) ? g_object_ref(pixbuf) : gdk_pixbuf_add_alpha(pixbuf, FALSE, 0, 0, 0);
  StatusNotifierItem::Pixmap p;
  p.width = gdk_pixbuf_get_width(rgba);
  p.height = gdk_pixbuf_get_height(rgba);
  const int stride = gdk_pixbuf_get_rowstride(rgba);
  const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
  p.argb.reserve(static_cast<size_t>(p.width) * p.height * 4);
  // RGBA rows to ARGB32 in network byte order: A, R, G, B.
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const guchar* px = pixels + y * stride + x * 4;
      p.argb.insert(p.argb.end(), {px[3], px[0], px[1], px[2]});
    }
  g_object_unref(rgba);
  g_object_unref(pixbuf);
  return p;
}

}  // namespace

std::optional<StatusNotifierItem::Icon> Tray::iconFor(const std::string& text, std::string* why) {
  StatusNotifierItem::Icon icon;
  if (text.empty()) return icon;  // no icon
  if (text.find('\0') != std::string::npos) {
    if (why) *why = "the text holds U+0000";
    return std::nullopt;
  }
  if (auto file = applicationFile(text)) {
    for (int size : kIconSizes) {
      auto pixmap = pixmapOf(*file, size, why);
      if (!pixmap) return std::nullopt;
      icon.pixmaps.push_back(std::move(*pixmap));
    }
    return icon;
  }
  if (text.find('/') != std::string::npos) {
    if (why) *why = "no file of the application at " + text;
    return std::nullopt;
  }
  icon.name = text;  // the panel finds it in its icon theme
  return icon;
}

Tray::Tray(std::shared_ptr<PageScript> page, WebViewDelegate* root) : page_(std::move(page)), root_(root) {
  item_ = std::make_unique<StatusNotifierItem>(
      Utils::sharedInstance().bundle().identifier(),
      [this](const std::string& kind, int x, int y) {
        if (kind == "contextMenu") popUpMenu(x, y);
        deliver({{"type", kind}, {"x", x}, {"y", y}});
      },
      [this](int delta, const std::string& orientation) {
        deliver({{"type", "scroll"}, {"delta", delta}, {"orientation", orientation}});
      });
  item_->setMenu(kMenuPath, [this](GDBusConnection* connection) -> std::function<void()> {
    DBusMenuExporter* exporter = ensureMenu();
    exporter->exportOn(connection, kMenuPath);
    return [exporter] { exporter->unexport(); };
  });
  item_->setTitle(Utils::sharedInstance().getAppName());
}

Tray::~Tray() {
  item_.reset();
  exporter_.reset();
  registry_.reset();
  if (menu_) {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
  }
}

DBusMenuExporter* Tray::ensureMenu() {
  // Made on first need, not with the bridge: widgets need the display.
  if (exporter_) return exporter_.get();
  menu_ = gtk_menu_new();
  g_object_ref_sink(menu_);
  registry_ = std::make_unique<MenuProxyRegistry>(page_, root_);
  exporter_ = std::make_unique<DBusMenuExporter>(menu_, [this](GtkWidget* item, int) {
    // The item's own callback (setCallback on its proxy) first, then the
    // tray's event.
    const std::string title = MenuProxy::titleOf(item);
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    deliver({{"type", "menu"}, {"title", title}});
  });
  return exporter_.get();
}

void Tray::deliver(const nlohmann::json& event) {
  if (callbackFunction_) {
    auto callback = callbackFunction_;  // the function may replace itself
    callback->callWithParams({event});
  } else if (!callbackName_.empty()) {
    EvalJsWithWebView(page_, callbackName_, event);
  }
}

void Tray::popUpMenu(int x, int y) {
  // A panel that does not draw the menu itself asks the item to.
  if (!menu_ || MainMenu::itemsOf(menu_).empty()) return;
  GdkWindow* root = gdk_get_default_root_window();
  if (!root) return;
  const GdkRectangle at{x, y, 1, 1};
  gtk_menu_popup_at_rect(GTK_MENU(menu_), root, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, nullptr);
}

bool Tray::isAvailable() { return item_->watcherPresent(); }
bool Tray::isShown() const { return item_->shown(); }
void Tray::show() { item_->setShown(true); }
void Tray::hide() { item_->setShown(false); }

bool Tray::setIcon(const std::string& text) {
  std::string why;
  auto icon = iconFor(text, &why);
  if (!icon) {
    log().info("tray: icon not changed: {}", why);
    return false;
  }
  item_->setIcon(std::move(*icon));
  return true;
}

bool Tray::setAttentionIcon(const std::string& text) {
  std::string why;
  auto icon = iconFor(text, &why);
  if (!icon) {
    log().info("tray: attention icon not changed: {}", why);
    return false;
  }
  item_->setAttentionIcon(std::move(*icon));
  return true;
}

void Tray::setTitle(const std::string& title) { item_->setTitle(title); }
void Tray::setToolTip(const std::string& text) { item_->setToolTip(text); }
void Tray::setAttention(bool attention) { item_->setNeedsAttention(attention); }

ScriptResult Tray::menu() {
  ensureMenu();
  return registry_->ref(registry_->proxyForMenu(menu_));
}

void Tray::setCallback(const nlohmann::json& callback) {
  // A page function, or the name of one; anything else lets the last go.
  callbackFunction_ = CallbackDelegate::initWithContext(page_, callback);
  callbackName_ = !callbackFunction_ && callback.is_string() ? callback.get<std::string>() : "";
}

const ServiceClass& Tray::serviceClass() const {
  // Every method is visible, no field is.
  static const ServiceClass cls = ServiceClass::Builder<Tray>("Tray")
                                      .method("isAvailable", &Tray::isAvailable)
                                      .method("isShown", &Tray::isShown)
                                      .method("show", &Tray::show)
                                      .method("hide", &Tray::hide)
                                      .method("setIcon:", &Tray::setIcon)
                                      .method("setAttentionIcon:", &Tray::setAttentionIcon)
                                      .method("setTitle:", &Tray::setTitle)
                                      .method("setToolTip:", &Tray::setToolTip)
                                      .method("setAttention:", &Tray::setAttention)
                                      .method("menu", &Tray::menu)
                                      .method("setCallback:", &Tray::setCallback)
                                      .scriptNames({{"isAvailable", "isAvailable"},
                                                    {"isShown", "isShown"},
                                                    {"show", "show"},
                                                    {"hide", "hide"},
                                                    {"setIcon:", "setIcon"},
                                                    {"setAttentionIcon:", "setAttentionIcon"},
                                                    {"setTitle:", "setTitle"},
                                                    {"setToolTip:", "setToolTip"},
                                                    {"setAttention:", "setAttention"},
                                                    {"menu", "menu"},
                                                    {"setCallback:", "setCallback"}})
                                      .build();
  return cls;
}

}  // namespace corvane
