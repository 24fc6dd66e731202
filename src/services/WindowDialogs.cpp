// Open and save dialogs and the recent-documents list. The dialogs are the
// desktop's file chooser (GtkFileChooserNative: the desktop portal where
// one is in use, GTK's own dialog otherwise), run modally inside the
// script call, so the answer callback has run when the call returns. The
// format box is the chooser's list of file-type filters: entry i shows
// extension i only, entries without an extension show every file.
#include "services/Window.h"

#include "app/Log.h"
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
  std::vector<GtkFileFilter*> entries;
  FormatBox box;

  // Entry i of the format box, or one filter with the whole list.
  void install(GtkFileChooser* chooser, const std::vector<std::string>& allowed, bool formatBox) {
    if (formatBox) {
      for (size_t i = 0; i < box.descriptions.size(); ++i) {
        const auto ext = entryExtension(box, i);
        entries.push_back(filterFor(box.descriptions[i], ext ? std::vector<std::string>{*ext} : std::vector<std::string>{}));
      }
    } else if (!allowed.empty() && !hasAnyType(allowed)) {
      entries.push_back(filterFor("Files (" + joinedExtensions(allowed) + ")", allowed));
    }
    for (GtkFileFilter* f : entries) gtk_file_chooser_add_filter(chooser, f);
    if (!entries.empty()) gtk_file_chooser_set_filter(chooser, entries.front());
  }

  // The extensions the picked entry allows (empty: every file).
  std::vector<std::string> picked(GtkFileChooser* chooser, const std::vector<std::string>& allowed) const {
    if (entries.empty()) return {};
    GtkFileFilter* current = gtk_file_chooser_get_filter(chooser);
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i] == current) {
        if (box.descriptions.empty()) return hasAnyType(allowed) ? std::vector<std::string>{} : allowed;
        auto ext = entryExtension(box, i);
        return ext ? std::vector<std::string>{*ext} : std::vector<std::string>{};
      }
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
  const std::string exec = std::string(g_get_prgname() ? g_get_prgname() : "corvane") + " %u";
  data.mime_type = const_cast<char*>(mime.c_str());
  data.app_name = const_cast<char*>(app.c_str());
  data.app_exec = const_cast<char*>(exec.c_str());
  if (gtk_recent_manager_add_full(recent(), uri.c_str(), &data)) g_signal_emit_by_name(recent(), "changed");
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
    if (formatBox) {
      filters.box = openFormatBox(types, typeDescriptions(params));
      if (filters.box.countMismatch) runModalAlert("API Use Warning", kWarningText, "Confirm", hostWindow());
      curSaveOpenTypes_ = filters.box.extensions;
    }
    filters.install(chooser, types, formatBox);

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
    for (const auto& r : records)
      if (canAddToRecent && (r["isReadable"].get<bool>() || r["isWritable"].get<bool>()))
        autoAddToRecentDocuments(r["fileUrl"].get<std::string>(), false);

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
    if (formatBox) {
      filters.box = saveFormatBox(types, typeDescriptions(params));
      curSaveOpenTypes_ = filters.box.extensions;
    }
    filters.install(chooser, types, formatBox);

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
      const std::vector<std::string> allowed = formatBox ? filters.picked(chooser, concrete) : concrete;
      const std::string named = withAllowedExtension(path, allowed, allowOther);
      // The chooser asked about replacing the typed name only.
      bool agreed = !path.empty();
      if (agreed && named != path && Utils::checkPathisExists(named))
        agreed = runQuestion("\u201c" + Utils::getFileName(named) + "\u201d already exists. Do you want to replace it?",
                             "A file with the same name already exists. Replacing it will overwrite its contents.",
                             "Replace", "Cancel", hostWindow());
      if (agreed && !pageGone()) {
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
