// Drag and drop: the settings pages make, and the files dropped on the web
// view or handed to the application by the desktop. A page hears of them
// through two hooks, each called only when the page defines it:
// ZVRLabJs.handleDropFiles gets every item as it was delivered, first; the
// function named by dragDropJSCallback then gets the file records of the
// items the settings accept, or the "Prompt" alert says that none was.
#include "services/Window.h"

#include "app/Log.h"
#include "app/Utils.h"
#include "bridge/UtilTool.h"
#include "services/FileRecord.h"
#include "ui/Alert.h"

#include <algorithm>
#include <stdexcept>

namespace corvane {
namespace {

// The page host's own hook, on the bridge object under its third name.
constexpr const char* kDropFilesHook = "ZVRLabJs.handleDropFiles";

bool booleanSetting(const nlohmann::json& v, const char* key) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>() != 0;
  throw std::invalid_argument(std::string("\"") + key + "\" is not a boolean");
}

nlohmann::json typeList(const nlohmann::json& v) {
  if (!v.is_array()) throw std::invalid_argument("\"fileTypes\" is not an array");
  for (const auto& t : v)
    if (!t.is_string()) throw std::invalid_argument("\"fileTypes\" holds a value that is not a text");
  return v;
}

// The extension of a path's last component as the URL has it: "" for none
// (a trailing "/" of a folder URL does not count).
std::string urlExtension(const std::string& path) {
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  return Utils::getFileExt(name);
}

}  // namespace

// ---- settings ----------------------------------------------------------------------

void Window::applyDragDropSettings(const nlohmann::json& argument, unsigned which, const char* method) {
  try {
    const nlohmann::json params = UtilTool::paramsDictionary(argument);
    if ((which & kDropFile) && params.contains("enableFile"))
      allowDragDropFile_ = booleanSetting(params["enableFile"], "enableFile");
    if ((which & kDropDir) && params.contains("enableDir"))
      allowDragDropDirectory_ = booleanSetting(params["enableDir"], "enableDir");
    if ((which & kDropTypes) && params.contains("fileTypes")) dragDropAllowFileTypes_ = typeList(params["fileTypes"]);
    if ((which & kDropCallback) && params.contains("callback")) {
      if (!params["callback"].is_string()) throw std::invalid_argument("\"callback\" is not a text");
      dragDropJSCallback_ = params["callback"].get<std::string>();
    }
    if ((which & kDropFolderSize) && params.contains("enableCalculateFolderSize"))
      allowDragDropCalculateFolderSize_ = booleanSetting(params["enableCalculateFolderSize"], "enableCalculateFolderSize");
  } catch (const std::exception& e) {
    log().info("{} [Line {}] error = {}", method, __LINE__, e.what());
  }
}

void Window::set_DragDropAllowFile(const nlohmann::json& a) {
  applyDragDropSettings(a, kDropFile, "-[Window set_DragDropAllowFile:]");
}
void Window::set_DragDropAllowDir(const nlohmann::json& a) {
  applyDragDropSettings(a, kDropDir, "-[Window set_DragDropAllowDir:]");
}
void Window::set_DragDropAllowFileTypes(const nlohmann::json& a) {
  applyDragDropSettings(a, kDropTypes, "-[Window set_DragDropAllowFileTypes:]");
}
void Window::set_DragDropCallback(const nlohmann::json& a) {
  applyDragDropSettings(a, kDropCallback, "-[Window set_DragDropCallback:]");
}
void Window::set_DragDropCommonInterface(const nlohmann::json& a) {
  applyDragDropSettings(a, kDropFile | kDropDir | kDropTypes | kDropCallback | kDropFolderSize,
                        "-[Window set_DragDropCommonInterface:]");
}

// ---- delivery ------------------------------------------------------------------------

nlohmann::json Window::dropRecords(const std::vector<std::string>& items) {
  nlohmann::json records = nlohmann::json::array();
  const bool anyType = dragDropAllowFileTypes_.empty() ||
                       std::find(dragDropAllowFileTypes_.begin(), dragDropAllowFileTypes_.end(), "*") !=
                           dragDropAllowFileTypes_.end();
  for (const auto& item : items) {
    const std::string path = pathFromPathOrFileUrl(item);
    if (path.empty() || !Utils::checkPathisExists(path)) continue;
    const bool isDir = Utils::checkPathIsDir(path);
    if (isDir ? !allowDragDropDirectory_ : !allowDragDropFile_) continue;
    if (!anyType) {
      const std::string ext = urlExtension(path);
      if (std::find(dragDropAllowFileTypes_.begin(), dragDropAllowFileTypes_.end(), ext) ==
          dragDropAllowFileTypes_.end())
        continue;
    }
    nlohmann::json record = fileRecord(path, {false, isDir && allowDragDropCalculateFolderSize_});
    record["filePath"] = item;  // exactly as it was delivered
    if (record["isReadable"].get<bool>() || record["isWritable"].get<bool>())
      autoAddToRecentDocuments(record["fileUrl"].get<std::string>(), false);
    records.push_back(std::move(record));
  }
  return records;
}

void Window::dragDropViewFileList(const std::vector<std::string>& items, MainWebView*) {
  constexpr const char* kMethod = "-[Window dragDropViewFileList:withView:]";
  if (items.empty()) return;
  try {
    for (const auto& p : items) log().info(">>> {}{} [Line {}] ", p, kMethod, __LINE__);
    if (page_) page_->evaluate(UtilTool::hookScript(kDropFilesHook, items));
    nlohmann::json records = dropRecords(items);
    if (!records.empty()) {
      const size_t count = records.size();
      if (page_ && !dragDropJSCallback_.empty())
        page_->evaluate(UtilTool::hookScript(
            dragDropJSCallback_, {{"success", true}, {"filesArray", std::move(records)}, {"filesCount", count}}));
      return;
    }
    const char* text = !allowDragDropDirectory_ && !allowDragDropFile_ ? "Does not support drag and drop files or directories"
                       : !dragDropAllowFileTypes_.empty()            ? "Dragging content, the system does not accept"
                                                                     : "Does not support drag and drop files";
    log().info("Prompt: {}", text);
    runModalAlert("Prompt", text, "OK", hostWindow());
  } catch (const std::exception& e) {
    log().info("found error = {}{} [Line {}] ", e.what(), kMethod, __LINE__);
  }
}

}  // namespace corvane
