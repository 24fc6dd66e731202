// Open and save dialogs and the recent-documents list. The dialogs are the
// desktop's file chooser (GtkFileChooserNative: the desktop portal where
// one is in use, GTK's own dialog otherwise), run modally inside the
// script call, so the answer callback has run when the call returns. The
// format box is the chooser's list of file-type filters: entry i shows
// extension i only, entries without an extension show every file.
#include "services/Window.h"

#include "app/Log.h"
#include "app/LoginItem.h"
#include "app/Relaunch.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/FileOperations.h"
#include "services/FileRecord.h"
#include "services/FormatBox.h"
#include "ui/Alert.h"

#include <gio/gio.h>

#include <cctype>

namespace corvane {
namespace {

constexpr const char* kWarningText =
    "Your call params types(Allow Files Ext) and typesDescript(Allow Files Ext description) array count must is "
    "edqual...";

bool flag(const nlohmann::json& params, const char* key, bool fallback) {
  auto it = params.find(key);
  return it == params.end() ? fallback : jsonBoolValue(*it, fallback);
}

// "directory": a plain path or a file URL, used only when it names a folder.
std::string startFolder(const nlohmann::json& params) {
  auto it = params.find("directory");
  if (it == params.end()) return "";
  const std::string text = it->is_string() ? it->get<std::string>() : it->dump();
  const std::string path = pathFromPathOrFileUrl(text);
  return Utils::checkPathIsDir(path) ? path : "";
}

// A glob that matches the extension in any letter case ("png" ->
// "*.[pP][nN][gG]"); plain globs also work through the desktop portal.
std::string extensionPattern(const std::string& ext) {
  std::string p = "*.";
  for (unsigned char c : ext) {
    if (std::isalpha(c)) {
      p += '[';
      p += static_cast<char>(std::tolower(c));
      p += static_cast<char>(std::toupper(c));
      p += ']';
    } else if (c == '[' || c == ']' || c == '*' || c == '?') {
      p += '[';
      p += static_cast<char>(c);
      p += ']';
    } else {
      p += static_cast<char>(c);
    }
  }
  return p;
}

GtkFileFilter* filterFor(const std::string& name, const std::vector<std::string>& extensions) {
  GtkFileFilter* f = gtk_file_filter_new();
  gtk_file_filter_set_name(f, name.c_str());
  if (extensions.empty() || hasAnyType(extensions))
    gtk_file_filter_add_pattern(f, "*");
  else
    for (const auto& e : extensions) gtk_file_filter_add_pattern(f, extensionPattern(e).c_str());
  return f;
}

std::string joinedExtensions(const std::vector<std::string>& extensions) {
  std::string out;
  for (const auto& e : extensions) out += (out.empty() ? "." : ",.") + e;
  return out;
}

// The dialog's title line: the title, with the message after it (the
// desktop's chooser has no message line of its own).
std::string titleLine(const std::string& title, const std::string& message, const char* fallback) {
  const std::string t = title.empty() ? fallback : title;
  return message.empty() ? t : t + " \u2014 " + message;
}

// The filters of one dialog and which entry the person picked.
struct Filters {
  std::vector<GtkFileFilter*> filters;
  std::vector<FormatEntry> entries;

  // The format box's entries, or one filter with the whole list.
  void install(GtkFileChooser* chooser, const std::vector<std::string>& allowed, const FormatBox* box) {
    if (box)
      entries = chooserEntries(*box);
    else if (!allowed.empty() && !hasAnyType(allowed))
      entries.push_back({"Files (" + joinedExtensions(allowed) + ")", allowed});
    for (const auto& e : entries) {
      filters.push_back(filterFor(e.name, e.extensions));
      gtk_file_chooser_add_filter(chooser, filters.back());
    }
    if (!filters.empty()) gtk_file_chooser_set_filter(chooser, filters.front());
  }

  // The extensions the picked entry allows (empty: every file).
  std::vector<std::string> picked(GtkFileChooser* chooser) const {
    GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
    for (size_t i = 0; i < filters.size(); ++i)
      if (filters[i] == current) return hasAnyType(entries[i].extensions) ? std::vector<std::string>{} : entries[i].extensions;
    return {};
  }
};

GtkFileChooserNative* newChooser(const std::string& title, GtkWindow* parent, GtkFileChooserAction action,
                                 const std::string& accept) {
  GtkFileChooserNative* c =
      gtk_file_chooser_native_new(title.c_str(), parent, action, accept.empty() ? nullptr : accept.c_str(), nullptr);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(c), TRUE);
  return c;
}

std::vector<std::string> chosenPaths(GtkFileChooser* chooser) {
  std::vector<std::string> out;
  GSList* files = gtk_file_chooser_get_filenames(chooser);
  for (GSList* l = files; l; l = l->next) out.emplace_back(static_cast<char*>(l->data));
  g_slist_free_full(files, g_free);
  return out;
}

bool sameExtension(const std::string& a, const std::string& b) { return g_ascii_strcasecmp(a.c_str(), b.c_str()) == 0; }

// The saved name gets an allowed extension unless it has one (or, where the
// page allows other types, any extension at all).
std::string withAllowedExtension(const std::string& path, const std::vector<std::string>& allowed, bool allowOther) {
  if (allowed.empty()) return path;
  const std::string ext = Utils::getFileExt(path);
  for (const auto& a : allowed)
    if (sameExtension(a, ext)) return path;
  if (!ext.empty() && allowOther) return path;
  return path + "." + allowed.front();
}

GtkRecentManager* recent() { return gtk_recent_manager_get_default(); }

// The application's registration on its entries: its own name (GTK's own
// registrations carry it too: the launch sets it as the program's
// application name) and the command that opens a file with this bundle,
// as its desktop entry <identifier>.desktop and its login item run it.
std::string recentExec() {
  Utils& u = Utils::sharedInstance();
  return LoginItem(u.bundle().identifier(), u.bundle().bundlePath(), u.getAppName(), startExecutablePath()).execLine() +
         " %u";
}

// Adds the URL with what the list needs to know, and writes the list at
// once, so an entry survives a quit right after.
void addToRecent(const std::string& uri) {
  GtkRecentData data{};
  std::string mime = "application/octet-stream";
  GFile* file = g_file_new_for_uri(uri.c_str());
  if (GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE,
                                          nullptr, nullptr)) {
    if (const char* type = g_file_info_get_content_type(info)) {
      gchar* m = g_content_type_get_mime_type(type);
      if (m) mime = m;
      g_free(m);
    }
    g_object_unref(info);
  }
  g_object_unref(file);
  const std::string app = Utils::sharedInstance().getAppName();
  const std::string exec = recentExec();
  data.mime_type = const_cast<char*>(mime.c_str());
  data.app_name = const_cast<char*>(app.c_str());
  data.app_exec = const_cast<char*>(exec.c_str());
  if (gtk_recent_manager_add_full(recent(), uri.c_str(), &data)) g_signal_emit_by_name(recent(), "changed");
}

// GTK's chooser registers what it hands back (a save's name as the person
// typed it) a moment after it closes, from an asynchronous look at the
// file, under the program's name and command. When that registration
// arrives (within a few seconds), the application's own takes its place;
// a typed name the shell saved under another name (the extension added)
// names no file and leaves the list instead.
struct ChooserRegistration {
  std::string uri, path;
  bool keep = true;
  std::string ownExec;  // the command of the application's registration as stored
  gulong handler = 0;
  guint timeout = 0;
};

void endWatch(ChooserRegistration* w) {
  if (w->handler) g_signal_handler_disconnect(recent(), w->handler);
  if (w->timeout) g_source_remove(w->timeout);
  delete w;
}

// The command stored with the application's registration of `uri` ("" for none).
std::string storedExec(const std::string& uri) {
  std::string out;
  if (GtkRecentInfo* info = gtk_recent_manager_lookup_item(recent(), uri.c_str(), nullptr)) {
    const char* exec = nullptr;
    guint count = 0;
    time_t stamp = 0;
    const std::string app = Utils::sharedInstance().getAppName();
    if (gtk_recent_info_get_application_info(info, app.c_str(), &exec, &count, &stamp) && exec) out = exec;
    gtk_recent_info_unref(info);
  }
  return out;
}

void onChooserRegistration(ChooserRegistration* w) {
  if (!gtk_recent_manager_has_item(recent(), w->uri.c_str())) return;
  // Our own registration, not yet GTK's.
  if (w->keep && storedExec(w->uri) == w->ownExec) return;
  const std::string uri = w->uri;
  const std::string path = w->path;
  const bool keep = w->keep;
  endWatch(w);
  if (keep)
    addToRecent(uri);
  else if (!Utils::checkPathisExists(path))
    gtk_recent_manager_remove_item(recent(), uri.c_str(), nullptr);
}

void settleChooserRegistration(const std::string& path, bool keep) {
  auto* w = new ChooserRegistration{fileUrlForPath(path), path, keep, "", 0, 0};
  if (keep) w->ownExec = storedExec(w->uri);
  w->handler = g_signal_connect_swapped(recent(), "changed", G_CALLBACK(onChooserRegistration), w);
  w->timeout = g_timeout_add_seconds(10, +[](gpointer p) -> gboolean {
    auto* w = static_cast<ChooserRegistration*>(p);
    w->timeout = 0;
    endWatch(w);
    return G_SOURCE_REMOVE;
  }, w);
}

}  // namespace

// ---- openFile --------------------------------------------------------------------

void Window::openFile(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[Window openFile:]";
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    log().info("properties = {}{} [Line {}] ", params.dump(), kMethod, __LINE__);
    const std::string callback = UtilTool::callbackName(params);
    const std::string prompt = UtilTool::stringValue(params, "prompt");
    std::vector<std::string> types = allowedTypes(params);
    const bool calculateDirSize = flag(params, "calculateDirSize", false);
    const bool canChooseFiles = flag(params, "canChooseFiles", true);
    const bool canChooseDir = flag(params, "canChooseDir", false);
    const bool multiple = flag(params, "allowMulSelection", false);
    const bool canCreateDir = flag(params, "canCreateDir", false);
    const std::string folder = startFolder(params);
    const std::string message = UtilTool::stringValue(params, "panelMessage");
    const std::string title = UtilTool::stringValue(params, "title");
    const bool formatBox = flag(params, "enableFileFormatCombox", false) && !types.empty();
    const bool compatible = flag(params, "compatible", false);
    const bool canAddToRecent = flag(params, "canAddToRecent", true);

    // Folders only when files may not be chosen: the desktop's chooser picks
    // either files or folders.
    const auto action = canChooseDir && !canChooseFiles ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                                         : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* native = newChooser(titleLine(title, message, "Open"), hostWindow(), action, prompt);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    if (curSaveOpenPanel_) g_object_unref(curSaveOpenPanel_);
    curSaveOpenPanel_ = chooser;
    gtk_file_chooser_set_select_multiple(chooser, multiple);
    gtk_file_chooser_set_create_folders(chooser, canCreateDir);
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());

    Filters filters;
    std::optional<FormatBox> box;
    if (formatBox) {
      box = openFormatBox(types, typeDescriptions(params));
      if (box->countMismatch) runModalAlert("API Use Warning", kWarningText, "Confirm", hostWindow());
      curSaveOpenTypes_ = box->extensions;
    }
    filters.install(chooser, types, box ? &*box : nullptr);

    nlohmann::json result = UtilTool::resultDictionary();
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(native)) != GTK_RESPONSE_ACCEPT) {
      EvalJsWithWebView(page_, callback, result);
      return;
    }
    const std::vector<std::string> paths = chosenPaths(chooser);
    std::vector<nlohmann::json> records;
    fileops::runWhileDrawing([&] {
      for (const auto& p : paths) records.push_back(fileRecord(p, {true, calculateDirSize}));
    });
    std::vector<std::string> added;
    for (const auto& r : records)
      if (canAddToRecent && (r["isReadable"].get<bool>() || r["isWritable"].get<bool>())) {
        autoAddToRecentDocuments(r["fileUrl"].get<std::string>(), false);
        added.push_back(r["filePath"].get<std::string>());
      }
    for (const auto& p : added) settleChooserRegistration(p, true);

    result["success"] = true;
    if (!multiple && compatible && !records.empty()) {
      result.update(records.front());
    } else {
      nlohmann::json list = nlohmann::json::array();
      for (auto r : records) {
        result["parentDir"] = r["parentDir"];
        r.erase("parentDir");
        list.push_back(std::move(r));
      }
      result["filesArray"] = std::move(list);
      result["filesCount"] = records.size();
    }
    EvalJsWithWebView(page_, callback, result);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
}

// ---- saveFile ----------------------------------------------------------------------

void Window::saveFile(const nlohmann::json& argument) {
  constexpr const char* kMethod = "-[Window saveFile:]";
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    const std::string prompt = UtilTool::stringValue(params, "prompt");
    const std::vector<std::string> types = allowedTypes(params);
    const bool canCreateDir = flag(params, "canCreateDir", true);
    const bool allowOther = flag(params, "allowOtherFileTypes", false);
    const std::string folder = startFolder(params);
    const std::string fileName = UtilTool::stringValue(params, "fileName", "Undefined");
    const bool extensionHidden = flag(params, "extensionHidden", true);
    const std::string message = UtilTool::stringValue(params, "panelMessage");
    const std::string title = UtilTool::stringValue(params, "title");
    const bool formatBox = flag(params, "enableFileFormatCombox", true) && !types.empty();
    // "*" allows every type; it is never appended to a name.
    std::vector<std::string> concrete;
    for (const auto& t : types)
      if (!isAnyType(t)) concrete.push_back(t);

    GtkFileChooserNative* native =
        newChooser(titleLine(title, message, "Save"), hostWindow(), GTK_FILE_CHOOSER_ACTION_SAVE, prompt);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    if (curSaveOpenPanel_) g_object_unref(curSaveOpenPanel_);
    curSaveOpenPanel_ = chooser;
    gtk_file_chooser_set_create_folders(chooser, canCreateDir);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    // With the extension shown, the name field carries it from the start.
    const bool showExtension = !extensionHidden && !concrete.empty() && !hasAnyType(types);
    gtk_file_chooser_set_current_name(chooser, (showExtension ? fileName + "." + concrete.front() : fileName).c_str());
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());

    Filters filters;
    std::optional<FormatBox> box;
    if (formatBox) {
      box = saveFormatBox(types, typeDescriptions(params));
      curSaveOpenTypes_ = box->extensions;
    }
    filters.install(chooser, types, box ? &*box : nullptr);

    nlohmann::json result = UtilTool::resultDictionary();
    const bool accepted = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native)) == GTK_RESPONSE_ACCEPT;
    // The page that asked went away while the dialog was open: nobody will
    // write the chosen file, so what stands there is left alone.
    const auto pageGone = [this, kMethod] {
      if (!page_->callerGone()) return false;
      log().info("{}: the page that asked is gone; nothing is replaced", kMethod);
      return true;
    };
    if (accepted && !pageGone()) {
      const auto chosen = chosenPaths(chooser);
      std::string path = chosen.empty() ? "" : chosen.front();
      const std::vector<std::string> allowed = formatBox ? filters.picked(chooser) : concrete;
      const std::string named = withAllowedExtension(path, allowed, allowOther);
      // The chooser asked about replacing the typed name only.
      bool agreed = !path.empty();
      if (agreed && named != path && Utils::checkPathisExists(named))
        agreed = runQuestion("\u201c" + Utils::getFileName(named) + "\u201d already exists. Do you want to replace it?",
                             "A file with the same name already exists. Replacing it will overwrite its contents.",
                             "Replace", "Cancel", hostWindow());
      if (agreed && !pageGone()) {
        if (named != path) settleChooserRegistration(path, false);
        path = named;
        // The person agreed to replace it: what stands there goes now
        // (a link goes, not what it names); a folder stays.
        if (Utils::checkPathisExists(path) && !Utils::checkPathIsDir(path)) Utils::removeFile(path);
        result["success"] = true;
        result["filePath"] = path;
        result["fileUrl"] = fileUrlForPath(path);
        result["fileName"] = Utils::getFileName(path);
        result["fileNameWithoutExtension"] = Utils::getFileNameWithoutExt(path);
        result["extension"] = Utils::getFileExt(path);
        // The document about to be written is the recent one.
        addToRecent(fileUrlForPath(path));
        settleChooserRegistration(path, true);
      }
    }
    EvalJsWithWebView(page_, callback, result);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", kMethod, __LINE__, e.what());
  }
}

// ---- recent documents ----------------------------------------------------------------

void Window::autoAddToRecentDocuments(const std::string& fileUrl, bool mustWritable) {
  if (gtk_recent_manager_has_item(recent(), fileUrl.c_str())) return;
  const std::string path = pathFromPathOrFileUrl(fileUrl);
  if (path.empty() || !Utils::checkPathisExists(path)) return;
  const bool isDir = Utils::checkPathIsDir(path);
  if (!mustWritable || Utils::checkPathIsWritable(Utils::getPathParentPath(path))) {
    addToRecent(fileUrl);
    return;
  }
  // Asking for access: with the desktop portal the person's choice is what
  // grants it.
  GtkFileChooserNative* native = newChooser(titleLine("Authorize Confirm?", "Authorize Access (Only Read and Write)", ""),
                                            hostWindow(),
                                            isDir ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN,
                                            "Authorize");
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
  gtk_file_chooser_set_select_multiple(chooser, FALSE);
  gtk_file_chooser_set_create_folders(chooser, FALSE);
  if (isDir)
    gtk_file_chooser_set_current_folder(chooser, path.c_str());
  else
    gtk_file_chooser_set_filename(chooser, path.c_str());
  const bool confirmed = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native)) == GTK_RESPONSE_ACCEPT;
  g_object_unref(native);
  if (confirmed) addToRecent(fileUrl);
}

void Window::addRecentDocument(const nlohmann::json& argument) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string path = UtilTool::stringValue(params, "url");
    if (path.empty()) return;
    autoAddToRecentDocuments(fileUrlForPath(path), flag(params, "mustWritable", false));
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", "-[Window addRecentDocument:]", __LINE__, e.what());
  }
}

void Window::clearAllRecentDocuments() {
  gtk_recent_manager_purge_items(recent(), nullptr);
  g_signal_emit_by_name(recent(), "changed");
}

int64_t Window::maxRecentDocumentCount() {
  gint limit = 50;
  if (GtkSettings* s = gtk_settings_get_default())
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(s), "gtk-recent-files-limit"))
      g_object_get(s, "gtk-recent-files-limit", &limit, nullptr);
  return limit;
}

}  // namespace corvane
