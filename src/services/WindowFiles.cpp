// File operations for the page. Source paths are expanded (placeholders,
// then a location prefix such as "file://"); destinations are used as
// given. Tree walks run on a worker thread while the window keeps drawing
// (fileops::runWhileDrawing); the call answers when they are done.
#include "services/Window.h"

#include "app/ErrorText.h"
#include "app/Log.h"
#include "ui/DesktopOpen.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/FileOperations.h"
#include "services/FileRecord.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cerrno>
#include <set>
#include <stdexcept>

namespace corvane {
namespace {

std::string expand(const std::string& path) {
  return Utils::update_spec_fix_string(Utils::sharedInstance().update_env_string(path));
}

std::string notExists(const std::string& path) { return path + " is not exists."; }

void logResult(const nlohmann::json& result, const char* method, int line) {
  log().info("{}{} [Line {}] ", result.dump(), method, line);
}

// Answers whether the desktop's file manager took the request.
bool showItemsInFileManager(const std::vector<std::string>& uris) {
  bool shown = false;
  fileops::runWhileDrawing([&] {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
      log().info("no session bus for the file manager: {}", error ? error->message : "");
      if (error) g_error_free(error);
      return;
    }
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
    for (const auto& u : uris) g_variant_builder_add(&list, "s", u.c_str());
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
        "ShowItems", g_variant_new("(ass)", &list, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
    if (reply) {
      shown = true;
      g_variant_unref(reply);
    } else {
      log().info("file manager did not answer: {}", error ? error->message : "");
      if (error) g_error_free(error);
    }
    g_object_unref(bus);
  });
  return shown;
}

void openWithDefaultApplication(const std::string& uri) {
  std::string why;
  if (!openOnDesktop(uri, nullptr, &why)) log().info("cannot open {}: {}", uri, why);
}

std::string uriOf(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : fileUrlForPath(path);
  g_free(uri);
  return out;
}

}  // namespace

// ---- copy, move, remove ---------------------------------------------------------

bool Window::processItem(const nlohmann::json& argument, Verb verb, bool dir, const char* method) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string callback = UtilTool::callbackName(params);
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string src = UtilTool::stringValue(params, verb == Verb::Remove ? "path" : "src");
  if (src.empty()) return false;
  try {
    const std::string path = expand(src);
    const bool exists = Utils::checkPathisExists(path);
    const bool isDir = Utils::checkPathIsDir(path);
    if (!exists) {
      result["error"] = notExists(path);
    } else if (isDir == dir) {
      bool ok = false;
      fileops::Failure why;
      if (verb == Verb::Remove) {
        fileops::runWhileDrawing([&] { ok = dir ? Utils::removeDir(path) : Utils::removeFile(path); });
      } else {
        const std::string dest = UtilTool::stringValue(params, "dest");
        if (dest.empty()) throw std::invalid_argument("\"dest\" must name the destination path");
        fileops::runWhileDrawing([&] {
          ok = verb == Verb::Copy ? fileops::copyItem(path, dest, &why) : fileops::moveItem(path, dest, &why);
        });
      }
      if (!ok && !why.text.empty()) {
        log().info("{}: {}", method, why.text);
        // The page learns why, except for a destination that exists, which
        // pages tell by "success" alone.
        if (why.code != EEXIST) result["error"] = why.text;
      }
      result["success"] = ok;
    } else {
      result["error"] = "call method error: " + path + " " + (isDir ? "is dirctory" : "is file");
    }
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  logResult(result, method, __LINE__);
  EvalJsWithWebView(page_, callback, result);
  return result["success"].get<bool>();
}

void Window::copyFile(const nlohmann::json& a) { processItem(a, Verb::Copy, false, "-[Window copyFile:]"); }
void Window::copyDir(const nlohmann::json& a) { processItem(a, Verb::Copy, true, "-[Window copyDir:]"); }
void Window::moveFile(const nlohmann::json& a) { processItem(a, Verb::Move, false, "-[Window moveFile:]"); }
void Window::moveDir(const nlohmann::json& a) { processItem(a, Verb::Move, true, "-[Window moveDir:]"); }

bool Window::removeFile(const nlohmann::json& a) {
  return processItem(a, Verb::Remove, false, "-[Window removeFile:]");
}
bool Window::removeDir(const nlohmann::json& a) { return processItem(a, Verb::Remove, true, "-[Window removeDir:]"); }

// ---- create -------------------------------------------------------------------------

bool Window::createItem(const nlohmann::json& argument, bool dir, const char* method) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string callback = UtilTool::callbackName(params);
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string raw = UtilTool::stringValue(params, "path");
  if (raw.empty()) return false;
  try {
    const std::string path = expand(raw);
    if (dir) {
      // Of the attribute dictionary only the permissions mean something here.
      std::optional<unsigned> mode;
      if (auto atts = params.find("atts"); atts != params.end() && atts->is_object()) {
        auto perms = atts->find("NSFilePosixPermissions");
        if (perms != atts->end() && perms->is_number()) mode = perms->get<unsigned>() & 07777;
      }
      result["success"] = Utils::createDirWithPathEx(path, mode);
    } else {
      result["success"] = Utils::createEmptyFileWithPath(path);
    }
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  logResult(result, method, __LINE__);
  EvalJsWithWebView(page_, callback, result);
  return result["success"].get<bool>();
}

bool Window::createDir(const nlohmann::json& a) { return createItem(a, true, "-[Window createDir:]"); }
bool Window::createEmptyFile(const nlohmann::json& a) { return createItem(a, false, "-[Window createEmptyFile:]"); }

// ---- find, info ----------------------------------------------------------------------

std::string Window::findFile(const nlohmann::json& argument) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    const std::string callback = UtilTool::callbackName(params);
    nlohmann::json result = UtilTool::resultDictionary();
    std::string dir = UtilTool::stringValue(params, "dir");
    if (dir.empty()) dir = Utils::sharedInstance().bundle().bundlePath();
    const std::string needle = UtilTool::stringValue(params, "fileName");
    if (!needle.empty()) {
      std::vector<std::string> found;
      fileops::runWhileDrawing([&] { found = fileops::findFiles(dir, needle); });
      result["files"] = found;
      result["success"] = !found.empty();
    }
    EvalJsWithWebView(page_, callback, result);
    return Utils::convertDictionaryToJSON(result);
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", "-[Window findFile:]", __LINE__, e.what());
    return "";
  }
}

void Window::getFileInfo(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string callback = UtilTool::callbackName(params);
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string path = UtilTool::stringValue(params, "filePath");
  try {
    struct stat st{};
    if (!Utils::checkPathisExists(path) || ::lstat(Utils::fsPath(path), &st) != 0) {
      result["error"] = "file is not exists.";
    } else {
      // The item's own size attribute (a link is not followed).
      result["result"] = {{"fileSize", static_cast<uint64_t>(st.st_size)}};
      result["isReadable"] = Utils::checkPathIsReadable(path);
      result["isWritable"] = ::access(Utils::fsPath(path), W_OK) == 0;
      result["isExecutable"] = Utils::checkPathIsExecutable(path);
      result["isDeletable"] = Utils::checkPathIsDeletable(path);
      result["success"] = true;
    }
  } catch (const std::exception& e) {
    result["error"] = pageErrorText(e);
  }
  EvalJsWithWebView(page_, callback, result);
}

// ---- reveal, preview ---------------------------------------------------------------

void Window::revealInFinder(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string callback = UtilTool::callbackName(params);
  nlohmann::json result = UtilTool::resultDictionary();
  nlohmann::json list = nlohmann::json::array();
  if (auto it = params.find("filePath"); it != params.end()) list = it->is_array() ? *it : nlohmann::json::array({*it});
  auto addError = [&result](const std::string& message) {
    if (result.contains("error"))
      result["error"] = message + ";" + result["error"].get<std::string>();
    else
      result["error"] = message;
  };
  std::vector<std::string> paths;
  for (const auto& element : list) {
    if (!element.is_string() || element.get_ref<const std::string&>().empty()) continue;
    const std::string raw = element.get<std::string>();
    try {
      const std::string path = expand(raw);
      if (Utils::checkPathisExists(path))
        paths.push_back(path);
      else if (Utils::checkPathisExists(raw))
        paths.push_back(raw);
      else
        addError(notExists(path));
    } catch (const std::exception& e) {
      addError(pageErrorText(e));
    }
  }
  if (!paths.empty()) {
    std::vector<std::string> uris;
    for (const auto& p : paths) uris.push_back(uriOf(p));
    if (!showItemsInFileManager(uris)) {
      // No file manager on the bus: open the folders that hold the items.
      std::set<std::string> folders;
      for (const auto& p : paths)
        if (folders.insert(Utils::getPathParentPath(p)).second) openWithDefaultApplication(uriOf(Utils::getPathParentPath(p)));
    }
    result["success"] = true;
    logResult(result, "-[Window revealInFinder:]", __LINE__);
  }
  EvalJsWithWebView(page_, callback, result);
}

void Window::preveiwFile(const nlohmann::json& argument) {
  const nlohmann::json params = UtilTool::paramsDictionary(argument);
  const std::string callback = UtilTool::callbackName(params);
  nlohmann::json result = UtilTool::resultDictionary();
  const std::string raw = UtilTool::stringValue(params, "filePath");
  if (raw.empty()) return;
  const std::string path = expand(raw);
  if (Utils::checkPathisExists(path)) {
    result["success"] = true;
    openWithDefaultApplication(uriOf(path));
  } else {
    result["error"] = notExists(path);
  }
  logResult(result, "-[Window preveiwFile:]", __LINE__);
  EvalJsWithWebView(page_, callback, result);
}

}  // namespace corvane
