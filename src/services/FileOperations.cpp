#include "services/FileOperations.h"

#include "app/Log.h"
#include "app/Utils.h"

#include <gio/gio.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace corvane::fileops {
namespace {

constexpr GFileQueryInfoFlags kNoFollow = G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS;

struct GErrorHolder {
  GError* e = nullptr;
  ~GErrorHolder() {
    if (e) g_error_free(e);
  }
  GError** out() { return &e; }
};

void note(std::string* error, const GError* e) {
  if (error && e) *error = e->message;
}

// GIO reads a path up to its first U+0000 and would act on the file its
// prefix names; such a path names no file (Utils::fsPath), and the
// operation fails as GIO reports a missing file.
bool namesAFile(const std::string& path, std::string* error) {
  if (!Utils::namesNoFile(path)) return true;
  if (error) *error = "Error opening file \"" + path + "\": No such file or directory";
  return false;
}

GFileType typeOf(GFile* f) {
  return g_file_query_file_type(f, kNoFollow, nullptr);
}

// One item and everything below it; `dest` does not exist yet.
bool copyTree(GFile* src, GFile* dest, std::string* error) {
  GErrorHolder err;
  if (typeOf(src) != G_FILE_TYPE_DIRECTORY) {
    // Files, links (as links) and special files, with their attributes.
    const auto flags =
        static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_ALL_METADATA);
    if (g_file_copy(src, dest, flags, nullptr, nullptr, nullptr, err.out())) return true;
    // Some file systems refuse owners or times; the content still counts.
    GErrorHolder plain;
    if (g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED) &&
        !g_file_query_exists(dest, nullptr) &&
        g_file_copy(src, dest, G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr, nullptr, plain.out()))
      return true;
    note(error, err.e);
    return false;
  }
  if (!g_file_make_directory(dest, nullptr, err.out())) {
    note(error, err.e);
    return false;
  }
  GFileEnumerator* children = g_file_enumerate_children(src, G_FILE_ATTRIBUTE_STANDARD_NAME, kNoFollow,
                                                        nullptr, err.out());
  if (!children) {
    note(error, err.e);
    return false;
  }
  bool ok = true;
  for (;;) {
    GFileInfo* info = nullptr;
    GFile* child = nullptr;
    if (!g_file_enumerator_iterate(children, &info, &child, nullptr, err.out())) {
      note(error, err.e);
      ok = false;
      break;
    }
    if (!info) break;
    GFile* target = g_file_get_child(dest, g_file_info_get_name(info));
    ok = copyTree(child, target, error);
    g_object_unref(target);
    if (!ok) break;
  }
  g_object_unref(children);
  if (ok) {
    // The folder's own permissions and times, now that its content is in.
    g_file_copy_attributes(src, dest, G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr);
  }
  return ok;
}

}  // namespace

bool copyItem(const std::string& src, const std::string& dest, std::string* error) {
  if (!namesAFile(src, error) || !namesAFile(dest, error)) return false;
  GFile* s = g_file_new_for_path(src.c_str());
  GFile* d = g_file_new_for_path(dest.c_str());
  bool ok = false;
  if (g_file_query_exists(d, nullptr) || typeOf(d) != G_FILE_TYPE_UNKNOWN) {
    if (error) *error = "Error opening file \"" + dest + "\": File exists";
  } else {
    ok = copyTree(s, d, error);
    // Whatever arrived of a failed copy goes again; it did not exist before.
    if (!ok) Utils::removeDir(dest);
  }
  g_object_unref(s);
  g_object_unref(d);
  return ok;
}

bool moveItem(const std::string& src, const std::string& dest, std::string* error, bool forceCopy) {
  if (!namesAFile(src, error) || !namesAFile(dest, error)) return false;
  GFile* s = g_file_new_for_path(src.c_str());
  GFile* d = g_file_new_for_path(dest.c_str());
  bool ok = false;
  bool viaCopy = forceCopy;
  if (!forceCopy) {
    GErrorHolder err;
    const auto flags = static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_NO_FALLBACK_FOR_MOVE |
                                                   G_FILE_COPY_ALL_METADATA);
    ok = g_file_move(s, d, flags, nullptr, nullptr, nullptr, err.out());
    // Another file system: GIO will not rename, so copy and then remove.
    if (!ok && (g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED) ||
                g_error_matches(err.e, G_IO_ERROR, G_IO_ERROR_WOULD_RECURSE)))
      viaCopy = true;
    else if (!ok)
      note(error, err.e);
  }
  if (viaCopy) {
    ok = copyItem(src, dest, error);
    if (ok && !Utils::removeDir(src)) {
      // The copy is whole, so nothing is lost; the move still did not
      // finish as asked.
      if (error) *error = "could not remove \"" + src + "\" after copying it";
      ok = false;
    }
  }
  g_object_unref(s);
  g_object_unref(d);
  return ok;
}

std::vector<std::string> findFiles(const std::string& dir, const std::string& needle) {
  std::vector<std::string> out;
  std::error_code ec;
  fs::recursive_directory_iterator it(Utils::fsPath(dir), fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string rel = it->path().lexically_relative(dir).string();
    if (rel.find(needle) != std::string::npos) out.push_back(rel);
  }
  return out;
}

void runWhileDrawing(const std::function<void()>& work) {
  GMainContext* main = g_main_context_default();
  if (!g_main_context_is_owner(main)) {
    work();
    return;
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
    g_main_context_wakeup(main);
  });
  // Dialog-style: everything else on the main context goes on meanwhile.
  while (!done) g_main_context_iteration(main, TRUE);
  worker.join();
}

}  // namespace corvane::fileops
