// The tests' own drag source: a small window titled "DragSource" that a
// person (xdotool) drags from. The drag carries the URIs of the paths given
// on the command line ("text/uri-list"), as a file manager's would.
#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> uris;

void onDragDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
  std::vector<gchar*> list;
  for (auto& u : uris) list.push_back(u.data());
  list.push_back(nullptr);
  gtk_selection_data_set_uris(data, list.data());
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    gchar* uri = g_filename_to_uri(argv[i], nullptr, nullptr);
    uris.emplace_back(uri ? uri : argv[i]);
    g_free(uri);
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "DragSource");
  gtk_window_set_default_size(GTK_WINDOW(window), 160, 160);
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  GtkWidget* box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(box), gtk_label_new("drag me"));
  gtk_container_add(GTK_CONTAINER(window), box);
  GtkTargetEntry target{const_cast<gchar*>("text/uri-list"), 0, 0};
  gtk_drag_source_set(box, GDK_BUTTON1_MASK, &target, 1, GDK_ACTION_COPY);
  g_signal_connect(box, "drag-data-get", G_CALLBACK(onDragDataGet), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
