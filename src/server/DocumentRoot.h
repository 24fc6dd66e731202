#pragma once
// Maps request paths to files below the document root, refusing anything
// that could reach outside it.
#include "app/UniqueFd.h"
#include "server/HttpRanges.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::server {

// Decodes a request path (still percent-encoded, without query) exactly once
// and normalises it: runs of "/" become one and "." segments go, so that
// "//index.html" and "/./index.html" name what "/index.html" names.
// Refused (nullopt): a path not starting with "/", a malformed escape, NUL
// (raw or encoded), encoded slashes or backslashes ("%2F", "%5C"), and any
// ".." segment, whether written plainly or encoded.
std::optional<std::string> decodeRequestPath(std::string_view raw);

// A decoded path as the path of a URL of our own origin: it starts with
// exactly one "/" and everything but unreserved and path characters is
// percent-encoded (a backslash too, which browsers read as "/").
std::string encodeRequestPath(const std::string& decoded);

// True when `path` equals `root` or lies below it, compared component by
// component (so "/srv/www-evil" is not inside "/srv/www"). Both must be
// absolute and canonical.
bool isInsideRoot(const std::string& root, const std::string& path);

using FileHandle = UniqueFd;

struct ResolvedFile {
  std::string filePath;  // the mapped path, below the root as configured
  std::string relative;  // filePath without the root prefix, e.g. "/index.html"
  std::string realPath;  // the file opened (links resolved when one was followed)
  FileHandle file;       // the regular file at realPath, open for reading
  FileStamp stamp;       // as found when opened
  // The request named a folder without the final "/": the page belongs at
  // the folder's URL, or its relative links would resolve one level up.
  bool folderWithoutSlash = false;
  // Opened by its name below the root without a link that leaves it: the
  // name the request used leads to this file for as long as nothing on the
  // way changes.
  bool beneath = false;
};

class DocumentRoot {
 public:
  explicit DocumentRoot(std::string root);

  const std::string& path() const { return root_; }

  // The lexical mapping of an already decoded path: root + path, with a
  // folder request ending in "/" mapped to its "index.html". Answers the
  // relative part ("/index.html" for "/").
  static std::string relativeFor(const std::string& decoded);

  // Opens the regular file a decoded request path names, provided the real
  // path of what was opened lies inside the real document root (checking
  // the open file, not the name, leaves no gap for a link swapped in between).
  // Folders map to their "index.html". The root is resolved on every call:
  // it may appear after the start, or be a link that is repointed.
  // `outOfDescriptors` (when given) tells a failure for want of a file
  // descriptor apart from a file that is not there.
  std::optional<ResolvedFile> resolve(const std::string& decoded,
                                      bool* outOfDescriptors = nullptr) const;

 private:
  std::string root_;
};

}  // namespace corvane::server
