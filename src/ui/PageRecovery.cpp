#include "ui/PageRecovery.h"

#include "app/Log.h"
#include "bridge/GSignal.h"

#include <chrono>

namespace corvane {

PageRecovery::PageRecovery(WebKitWebView* view) : view_(view) {
  overlay_ = gtk_overlay_new();
  g_object_ref_sink(overlay_);
  gtk_container_add(GTK_CONTAINER(overlay_), GTK_WIDGET(view_));

  // The message covers the whole view with the window's own background.
  panel_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_style_context_add_class(gtk_widget_get_style_context(panel_), GTK_STYLE_CLASS_BACKGROUND);
  gtk_widget_set_halign(panel_, GTK_ALIGN_FILL);
  gtk_widget_set_valign(panel_, GTK_ALIGN_FILL);
  GtkWidget* inner = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_halign(inner, GTK_ALIGN_CENTER);
  gtk_widget_set_valign(inner, GTK_ALIGN_CENTER);
  gtk_widget_set_vexpand(inner, TRUE);
  gtk_box_pack_start(GTK_BOX(inner), gtk_image_new_from_icon_name("dialog-warning", GTK_ICON_SIZE_DIALOG), FALSE,
                     FALSE, 0);
  headline_ = gtk_label_new(nullptr);
  detail_ = gtk_label_new(nullptr);
  gtk_label_set_line_wrap(GTK_LABEL(detail_), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(detail_), 60);
  gtk_label_set_justify(GTK_LABEL(detail_), GTK_JUSTIFY_CENTER);
  gtk_box_pack_start(GTK_BOX(inner), headline_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(inner), detail_, FALSE, FALSE, 0);
  button_ = gtk_button_new_with_mnemonic("_Try Again");
  gtk_widget_set_halign(button_, GTK_ALIGN_CENTER);
  gtk_widget_set_can_default(button_, TRUE);
  g_signal_connect(button_, "clicked", signalHandler([](GtkButton*, gpointer self) {
                     static_cast<PageRecovery*>(self)->reload();
                   }),
                   this);
  gtk_box_pack_start(GTK_BOX(inner), button_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(panel_), inner, TRUE, TRUE, 0);
  gtk_widget_show_all(panel_);
  gtk_widget_hide(panel_);
  gtk_widget_set_no_show_all(panel_, TRUE);  // the window's show_all leaves it hidden
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), panel_);
  // The window may be destroyed (closed) long before its controller goes:
  // nothing is reloaded into a view that is gone.
  g_object_ref(button_);
  g_signal_connect(overlay_, "destroy", signalHandler([](GtkWidget*, gpointer self) {
                     auto* r = static_cast<PageRecovery*>(self);
                     r->cancelTimer();
                     r->gone_ = true;
                   }),
                   this);
}

PageRecovery::~PageRecovery() {
  cancelTimer();
  g_signal_handlers_disconnect_by_data(button_, this);
  g_signal_handlers_disconnect_by_data(overlay_, this);
  g_object_unref(button_);
  g_object_unref(overlay_);
}

bool PageRecovery::messageShown() const { return gtk_widget_get_visible(panel_); }

void PageRecovery::cancelTimer() {
  if (timer_) g_source_remove(timer_);
  timer_ = 0;
}

void PageRecovery::processEnded(const std::string& why) {
  cancelTimer();
  if (gone_) return;
  const PageCrashPolicy::Step step = policy_.crashed(PageCrashPolicy::Clock::now());
  if (!step.reload) {
    log().error("web process {}; the page stopped {} times in a row and stays stopped until it is reloaded", why,
                step.crashes);
    showMessage("The page stopped working",
                "Its web content process " + why + " " + std::to_string(step.crashes) +
                    " times in a row. Try again, or reload it later with View \u203a Reload.");
    return;
  }
  if (step.delay.count() == 0) {
    log().error("web process {}; reloading the page", why);
    reloadPage();
    return;
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(step.delay).count();
  log().error("web process {}; reloading the page in {} s (stopped {} times in a row)", why, seconds, step.crashes);
  showMessage("The page stopped working", "Its web content process " + why + ". It is loaded again in a moment.");
  timer_ = g_timeout_add(static_cast<guint>(step.delay.count()), +[](gpointer self) -> gboolean {
    auto* r = static_cast<PageRecovery*>(self);
    r->timer_ = 0;
    r->reloadPage();
    return G_SOURCE_REMOVE;
  }, this);
}

void PageRecovery::reload() {
  cancelTimer();
  policy_.reset();
  reloadPage();
}

void PageRecovery::reloadPage() {
  if (gone_) return;
  hideMessage();
  webkit_web_view_reload(view_);
}

void PageRecovery::showMessage(const std::string& headline, const std::string& detail) {
  gchar* markup = g_markup_printf_escaped("<span size='large' weight='bold'>%s</span>", headline.c_str());
  gtk_label_set_markup(GTK_LABEL(headline_), markup);
  g_free(markup);
  gtk_label_set_text(GTK_LABEL(detail_), detail.c_str());
  gtk_widget_show(panel_);
  // The dead view would take every key (the menu's Ctrl+R among them)
  // without answering: the button takes the focus.
  gtk_widget_grab_focus(button_);
  gtk_widget_grab_default(button_);
}

void PageRecovery::hideMessage() {
  if (!gtk_widget_get_visible(panel_)) return;
  const bool hadFocus = gtk_widget_has_focus(button_);
  gtk_widget_hide(panel_);
  if (hadFocus) gtk_widget_grab_focus(GTK_WIDGET(view_));
}

}  // namespace corvane
