#include "ui/WindowStyler.h"

#include "ui/WindowFrame.h"

#include <algorithm>
#include <sstream>
#include <vector>

namespace corvane {
namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  for (std::string part; std::getline(ss, part, sep);)
    if (!part.empty()) out.push_back(part);
  return out;
}

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : ",") + p;
  return out;
}

}  // namespace

WindowStyler::WindowStyler(GtkWindow* window, GtkHeaderBar* headerBar)
    : window_(window), header_(headerBar) {}

std::string WindowStyler::decorationLayout() const {
  if (!header_) return "";
  if (const char* layout = gtk_header_bar_get_decoration_layout(header_)) return layout;
  // Unset: the desktop's setting, as the header bar shows it.
  gchar* desktop = nullptr;
  g_object_get(gtk_settings_get_default(), "gtk-decoration-layout", &desktop, nullptr);
  std::string out = desktop ? desktop : "menu:minimize,maximize,close";
  g_free(desktop);
  return out;
}

void WindowStyler::setButton(const std::string& name, bool visible) {
  if (!header_) return;
  // The layout is "left:right"; buttons live on the side the desktop put
  // them, and a shown button that was not there goes to the right.
  std::string layout = decorationLayout();
  const auto colon = layout.find(':');
  std::string leftText = colon == std::string::npos ? layout : layout.substr(0, colon);
  std::string rightText = colon == std::string::npos ? "" : layout.substr(colon + 1);
  auto left = split(leftText, ','), right = split(rightText, ',');
  const bool present = std::count(left.begin(), left.end(), name) + std::count(right.begin(), right.end(), name);
  if (visible && !present) {
    // Keep the conventional order minimize, maximize, close on the right.
    static const std::vector<std::string> order{"minimize", "maximize", "close"};
    right.push_back(name);
    std::stable_sort(right.begin(), right.end(), [](const std::string& a, const std::string& b) {
      auto rank = [](const std::string& x) {
        auto it = std::find(order.begin(), order.end(), x);
        return it == order.end() ? -1 : static_cast<int>(it - order.begin());
      };
      return rank(a) < rank(b);
    });
  } else if (!visible) {
    std::erase(left, name);
    std::erase(right, name);
  }
  const std::string next = join(left) + ":" + join(right);
  gtk_header_bar_set_decoration_layout(header_, next.c_str());
}

void WindowStyler::ensureFullScreenButton() {
  if (fullScreen_ || !header_) return;
  fullScreen_ = gtk_button_new_from_icon_name("view-fullscreen-symbolic", GTK_ICON_SIZE_BUTTON);
  gtk_widget_set_tooltip_text(fullScreen_, "Full Screen");
  gtk_widget_set_name(fullScreen_, "fullscreen-button");
  g_signal_connect(fullScreen_, "clicked", G_CALLBACK(+[](GtkButton*, gpointer w) {
                     GtkWindow* win = GTK_WINDOW(w);
                     GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(win));
                     if (gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_FULLSCREEN))
                       gtk_window_unfullscreen(win);
                     else
                       gtk_window_fullscreen(win);
                   }),
                   window_);
  gtk_header_bar_pack_end(header_, fullScreen_);
}

void WindowStyler::applyStyle(const WindowStylePlan& plan) {
  if (!window_) return;
  // Style bits first, in the configuration's order, then the buttons.
  if (plan.titled) gtk_window_set_decorated(window_, *plan.titled);
  if (plan.closable) {
    gtk_window_set_deletable(window_, *plan.closable);
    setButton("close", *plan.closable);
  }
  if (plan.miniaturizable) setButton("minimize", *plan.miniaturizable);
  if (plan.resizable) gtk_window_set_resizable(window_, *plan.resizable);

  for (const auto& [button, hidden] : plan.buttons) {
    switch (button) {
      case WindowButton::Close:
        setButton("close", !hidden);
        break;
      case WindowButton::Miniaturize:
        setButton("minimize", !hidden);
        break;
      case WindowButton::Zoom:
        setButton("maximize", !hidden);
        break;
      case WindowButton::FullScreen:
        if (!hidden) ensureFullScreenButton();
        if (fullScreen_) gtk_widget_set_visible(fullScreen_, !hidden);
        break;
      case WindowButton::Toolbar:
      case WindowButton::DocumentIcon:
      case WindowButton::DocumentVersions:
        break;  // GTK windows have no such buttons
    }
  }

  // The content's ratio, kept together with any size limits.
  if (plan.contentAspectRatio && plan.contentAspectRatio->second > 0)
    frame::setContentAspectRatio(window_, plan.contentAspectRatio->first / plan.contentAspectRatio->second);
}

float WindowStyler::titleBarHeight() const { return static_cast<float>(frame::titleBarHeight(window_)); }

void WindowStyler::applySize(const WindowSizePlan& plan) {
  if (!window_) return;
  // Every size is a frame size (title bar included); "autoOffset" makes the
  // heights given describe the content below the title bar.
  const int offset = plan.autoOffset ? frame::titleBarHeight(window_) : 0;
  auto inFrame = [offset](const SizePair& s) {
    return frame::Size{static_cast<int>(s.first), static_cast<int>(s.second) + offset};
  };
  if (plan.maxSize) frame::setMaxFrameSize(window_, inFrame(*plan.maxSize));
  if (plan.minSize) frame::setMinFrameSize(window_, inFrame(*plan.minSize));
  if (plan.size) {
    frame::setFrameSize(window_, inFrame(*plan.size));
    gtk_widget_queue_draw(GTK_WIDGET(window_));
  }
}

void WindowStyler::applyMenu(const MenuPlan& plan, const std::function<GtkWidget*(int)>& itemByTag,
                             const std::function<std::string(const std::string&)>& expand) {
  for (const auto& op : plan.hide)
    if (GtkWidget* item = itemByTag(static_cast<int>(op.tag))) gtk_widget_set_visible(item, !op.hide);
  for (const auto& op : plan.titles) {
    GtkWidget* item = itemByTag(static_cast<int>(op.tag));
    if (!item || !GTK_IS_MENU_ITEM(item)) continue;
    const char* old = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
    gtk_menu_item_set_label(GTK_MENU_ITEM(item),
                            menuTitle(op.method, op.title, old ? old : "", expand).c_str());
  }
}

}  // namespace corvane
