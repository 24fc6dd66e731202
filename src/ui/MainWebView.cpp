#include "ui/MainWebView.h"

#include "app/LaunchTrace.h"
#include "app/Log.h"
#include "ui/WebContext.h"

namespace corvane {

namespace {
constexpr const char* kSelf = "corvane-main-web-view";

bool offersUris(GdkDragContext* context) {
  for (GList* l = gdk_drag_context_list_targets(context); l; l = l->next) {
    gchar* name = gdk_atom_name(GDK_POINTER_TO_ATOM(l->data));
    bool uri = g_strcmp0(name, "text/uri-list") == 0;
    g_free(name);
    if (uri) return true;
  }
  return false;
}
}  // namespace

MainWebView::MainWebView(WebKitWebView* related) {
  if (related) {
    view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(related));
  } else {
    WebKitWebContext* context = WebContext::shared();
    WebKitSettings* settings = WebContext::settings();
    launchStep("web context and settings made");
    view_ = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings", settings, nullptr));
    launchStep("web view made");
  }
  webkit_web_view_set_settings(view_, WebContext::settings());
  g_object_ref_sink(view_);
  g_object_set_data(G_OBJECT(view_), kSelf, this);
  g_signal_connect(view_, "drag-motion", G_CALLBACK(onDragMotion), this);
  g_signal_connect(view_, "drag-leave", G_CALLBACK(onDragLeave), this);
  g_signal_connect(view_, "drag-drop", G_CALLBACK(onDragDrop), this);
  g_signal_connect(view_, "drag-data-received", G_CALLBACK(onDragDataReceived), this);
}

MainWebView::~MainWebView() {
  g_signal_handlers_disconnect_by_data(view_, this);
  g_object_set_data(G_OBJECT(view_), kSelf, nullptr);
  g_object_unref(view_);
}

MainWebView* MainWebView::from(WebKitWebView* view) {
  return static_cast<MainWebView*>(g_object_get_data(G_OBJECT(view), kSelf));
}

GdkDragAction MainWebView::offeredAction(GdkDragAction sourceActions) {
  return sourceActions == GDK_ACTION_LINK ? GDK_ACTION_LINK : GDK_ACTION_COPY;
}

bool MainWebView::ours(GdkDragContext* context) const {
  return gtk_drag_get_source_widget(context) == GTK_WIDGET(view_);
}

gboolean MainWebView::onDragMotion(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer self) {
  auto* v = static_cast<MainWebView*>(self);
  if (!v->dragInside_) {
    v->dragInside_ = true;
    log().info("[MainWebView draggingEntered:]");
  }
  if (v->ours(context) || !offersUris(context)) return FALSE;  // WebKit handles the rest
  gdk_drag_status(context, offeredAction(gdk_drag_context_get_actions(context)), time);
  return TRUE;
}

void MainWebView::onDragLeave(GtkWidget*, GdkDragContext*, guint, gpointer self) {
  // Also sent just before a drop: the next drag is a new entry either way.
  static_cast<MainWebView*>(self)->dragInside_ = false;
}

gboolean MainWebView::onDragDrop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                                 gpointer self) {
  auto* v = static_cast<MainWebView*>(self);
  if (v->ours(context) || !offersUris(context)) return FALSE;
  v->awaitingDrop_ = true;
  gtk_drag_get_data(widget, context, gdk_atom_intern_static_string("text/uri-list"), time);
  return TRUE;
}

void MainWebView::onDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint, gint,
                                     GtkSelectionData* data, guint, guint time, gpointer self) {
  auto* v = static_cast<MainWebView*>(self);
  if (!v->awaitingDrop_) return;
  v->awaitingDrop_ = false;
  g_signal_stop_emission_by_name(widget, "drag-data-received");
  gchar** uris = gtk_selection_data_get_uris(data);
  std::vector<std::string> files, urls;
  for (gchar** u = uris; u && *u; ++u) {
    if (gchar* file = g_filename_from_uri(*u, nullptr, nullptr)) {
      files.emplace_back(file);
      g_free(file);
    } else {
      urls.emplace_back(*u);
    }
  }
  g_strfreev(uris);
  // File names when there are any, otherwise the URL list as it came.
  const auto& items = files.empty() ? urls : files;
  // The drag ends before the delegate runs: it may show a modal alert,
  // which the drag source must not wait for.
  const bool delivered = !items.empty() && v->exDelegate;
  gtk_drag_finish(context, delivered, FALSE, time);
  if (delivered) v->exDelegate->dragDropViewFileList(items, v);
  gtk_widget_queue_draw(widget);
}

}  // namespace corvane
