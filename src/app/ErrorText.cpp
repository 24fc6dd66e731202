#include "app/ErrorText.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ios>
#include <new>
#include <stdexcept>
#include <system_error>

namespace corvane {

std::string reasonForErrno(int error) {
  switch (error) {
    case ENOSPC: return "there is not enough space on the disk";
    case EDQUOT: return "the disk quota is used up";
    case EROFS: return "the disk is read-only";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOENT: return "no such file or folder";
    case ENAMETOOLONG: return "the name is too long";
    case EISDIR: return "it is a folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case EEXIST: return "it already exists";
    case ENOTEMPTY: return "the folder is not empty";
    case EXDEV: return "it is on another disk";
    case ELOOP: return "there are too many symbolic links on the way";
    case EFBIG: return "the file would be too large";
    case ETXTBSY:
    case EBUSY: return "it is in use";
    case EMFILE:
    case ENFILE: return "too many files are open";
    case EIO: return "the disk reported an input/output error";
    case ENXIO: return "nothing is reading at the other end";
    case EINVAL: return "the name or the value is not valid";
    case ENOMEM: return "there is not enough memory";
    case 0: return "the reason is unknown";
    default: {
      std::string text = std::strerror(error);
      if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
      return text;
    }
  }
}

std::string failureText(const std::string& action, const std::string& path, int error) {
  return action + " " + path + ": " + reasonForErrno(error);
}

int errnoForGError(const GError* error) {
  if (!error || error->domain != G_IO_ERROR) return 0;
  switch (error->code) {
    case G_IO_ERROR_NO_SPACE: return ENOSPC;
    case G_IO_ERROR_READ_ONLY: return EROFS;
    case G_IO_ERROR_PERMISSION_DENIED: return EACCES;
    case G_IO_ERROR_NOT_FOUND: return ENOENT;
    case G_IO_ERROR_FILENAME_TOO_LONG: return ENAMETOOLONG;
    case G_IO_ERROR_IS_DIRECTORY: return EISDIR;
    case G_IO_ERROR_NOT_DIRECTORY: return ENOTDIR;
    case G_IO_ERROR_EXISTS: return EEXIST;
    case G_IO_ERROR_NOT_EMPTY: return ENOTEMPTY;
    case G_IO_ERROR_TOO_MANY_LINKS: return ELOOP;
    case G_IO_ERROR_BUSY: return EBUSY;
    case G_IO_ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case G_IO_ERROR_INVALID_FILENAME: return EINVAL;
    default: return 0;
  }
}

std::string reasonForGError(const GError* error) {
  if (!error) return reasonForErrno(0);
  if (const int code = errnoForGError(error)) return reasonForErrno(code);
  return error->message;
}

namespace {

// nlohmann's texts begin with their identifier: "[json.exception.type_error.302] ".
std::string withoutJsonId(const char* what) {
  std::string text = what;
  if (!text.empty() && text[0] == '[')
    if (const auto end = text.find("] "); end != std::string::npos) text.erase(0, end + 2);
  return text;
}

// The message a std::system_error appends to its own text.
std::string withoutSystemMessage(const std::system_error& e) {
  std::string text = e.what();
  const std::string tail = ": " + e.code().message();
  if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
    text.erase(text.size() - tail.size());
  return text;
}

bool isSystemCode(const std::error_code& code) {
  return code.category() == std::generic_category() || code.category() == std::system_category();
}

}  // namespace

std::string pageErrorText(const std::exception& e) {
  if (const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
    const std::string path = fsError->path1().string();
    const std::string reason = isSystemCode(fsError->code()) ? reasonForErrno(fsError->code().value()) : fsError->code().message();
    return path.empty() ? reason : path + ": " + reason;
  }
  // Before system_error, which a stream failure also is: its code names
  // no cause, only "a stream failed".
  if (dynamic_cast<const std::ios_base::failure*>(&e)) return "a file could not be read or written";
  if (const auto* sysError = dynamic_cast<const std::system_error*>(&e)) {
    if (!isSystemCode(sysError->code())) return withoutSystemMessage(*sysError);
    const std::string head = withoutSystemMessage(*sysError);
    const std::string reason = reasonForErrno(sysError->code().value());
    return head.empty() ? reason : head + ": " + reason;
  }
  if (const auto* jsonError = dynamic_cast<const nlohmann::json::exception*>(&e)) {
    const std::string detail = withoutJsonId(jsonError->what());
    if (dynamic_cast<const nlohmann::json::parse_error*>(&e)) return "the text is not valid JSON (" + detail + ")";
    if (dynamic_cast<const nlohmann::json::type_error*>(&e)) return "a value is of the wrong kind (" + detail + ")";
    return "a value could not be used (" + detail + ")";
  }
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "there is not enough memory";
  if (dynamic_cast<const std::length_error*>(&e)) return "the data is too large";
  // The library's own throws name a function ("stoul", "vector::_M_range_check:
  // __n (which is 5) >= ...", "basic_string::substr"); ours are sentences.
  const std::string text = e.what();
  if (text.empty() || text.find(' ') == std::string::npos || text.find("_M_") != std::string::npos ||
      text.rfind("basic_", 0) == 0 || text.rfind("std::", 0) == 0)
    return "a value could not be handled";
  return text;
}

}  // namespace corvane
