#pragma once
// The file record: the dictionary that describes one file-system item to
// the page (dialog answers now, drops later). Platform-free.
#include <nlohmann/json.hpp>

#include <string>

namespace corvane {

struct FileRecordOptions {
  bool withParentDir = true;     // "parentDir" inside the record
  bool calculateDirSize = false;  // folders get the total size of their files
};

// "filePath", "fileUrl", "parentDir", "fileName", "fileNameWithoutExtension",
// "extension", the four access flags, "isFile", "isDir", "fileSize" and
// "fileSizeStr" (decimal base).
nlohmann::json fileRecord(const std::string& path, FileRecordOptions options = {});

// The absolute text of the item's file URL; folders end in "/".
std::string fileUrlForPath(const std::string& path);

// A path from a plain path or a file URL ("file:///a%20b" -> "/a b");
// empty for other URLs.
std::string pathFromPathOrFileUrl(const std::string& text);

}  // namespace corvane
