#pragma once
// The page's web view. Dropped files and URLs from outside go to the drop
// delegate; drags that start inside the page stay WebKit's business.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <vector>

namespace corvane {

class MainWebView;

class MainWebViewDelegate {
 public:
  virtual ~MainWebViewDelegate() = default;
  virtual void dragDropViewFileList(const std::vector<std::string>& items, MainWebView* view) = 0;
};

class MainWebView {
 public:
  // A new view in the shared context, or one related to `related` (pages
  // opened by a page's script share its web process).
  explicit MainWebView(WebKitWebView* related = nullptr);
  ~MainWebView();

  WebKitWebView* view() const { return view_; }
  GtkWidget* widget() const { return GTK_WIDGET(view_); }
  static MainWebView* from(WebKitWebView* view);

  MainWebViewDelegate* exDelegate = nullptr;  // not owned

  // The drag rules, apart from GTK so they can be checked on their own.
  static GdkDragAction offeredAction(GdkDragAction sourceActions);

 private:
  static gboolean onDragMotion(GtkWidget*, GdkDragContext*, gint, gint, guint, gpointer);
  static void onDragLeave(GtkWidget*, GdkDragContext*, guint, gpointer);
  static gboolean onDragDrop(GtkWidget*, GdkDragContext*, gint, gint, guint, gpointer);
  static void onDragDataReceived(GtkWidget*, GdkDragContext*, gint, gint, GtkSelectionData*, guint, guint,
                                 gpointer);
  bool ours(GdkDragContext* context) const;

  WebKitWebView* view_;
  bool awaitingDrop_ = false;
  // GTK reports every pointer motion of a drag; the entry is the first one
  // after the drag came in (or since it left).
  bool dragInside_ = false;
};

}  // namespace corvane
