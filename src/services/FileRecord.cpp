#include "services/FileRecord.h"

#include "app/Utils.h"
#include "bridge/UtilTool.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

std::string fileUrlForPath(const std::string& path) {
  std::string absolute = path;
  if (!g_path_is_absolute(path.c_str())) {
    gchar* cwd = g_get_current_dir();
    gchar* joined = g_build_filename(cwd, path.c_str(), nullptr);
    absolute = joined;
    g_free(joined);
    g_free(cwd);
  }
  gchar* uri = g_filename_to_uri(absolute.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "";
  g_free(uri);
  if (!out.empty() && out.back() != '/' && Utils::checkPathIsDir(path)) out += '/';
  return out;
}

std::string pathFromPathOrFileUrl(const std::string& text) {
  if (text.rfind("file:", 0) == 0) {
    gchar* file = g_filename_from_uri(text.c_str(), nullptr, nullptr);
    std::string out = file ? file : "";
    g_free(file);
    return out;
  }
  gchar* scheme = g_uri_parse_scheme(text.c_str());
  const bool otherUrl = scheme != nullptr;
  g_free(scheme);
  return otherUrl ? std::string() : text;
}

nlohmann::json fileRecord(const std::string& path, FileRecordOptions options) {
  nlohmann::json r = nlohmann::json::object();
  r["filePath"] = path;
  r["fileUrl"] = fileUrlForPath(path);
  if (options.withParentDir) r["parentDir"] = Utils::getPathParentPath(path);
  r["fileName"] = Utils::getFileName(path);
  r["fileNameWithoutExtension"] = Utils::getFileNameWithoutExt(path);
  r["extension"] = Utils::getFileExt(path);
  r["isReadable"] = Utils::checkPathIsReadable(path);
  r["isWritable"] = ::access(Utils::fsPath(path), W_OK) == 0;
  r["isExecutable"] = Utils::checkPathIsExecutable(path);
  r["isDeletable"] = Utils::checkPathIsDeletable(path);
  const bool isFile = Utils::checkPathIsFile(path);
  r["isFile"] = isFile;
  r["isDir"] = !isFile;
  uint64_t size = 0;
  struct stat st{};
  if (isFile && ::stat(Utils::fsPath(path), &st) == 0)
    size = static_cast<uint64_t>(st.st_size);  // a link counts as what it names
  else if (options.calculateDirSize)
    size = Utils::fileSizeAtPath(path);
  r["fileSize"] = size;
  r["fileSizeStr"] = UtilTool::getFileSizeString(size, true);
  return r;
}

}  // namespace corvane
