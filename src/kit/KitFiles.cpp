#include "kit/KitFiles.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace corvane::kit {

StagingFolder::StagingFolder(const std::string& prefix) {
  if (prefix.find('/') != std::string::npos) {
    std::string tmpl = prefix + "-XXXXXX";
    if (!g_mkdtemp_full(tmpl.data(), 0700)) throw std::runtime_error("cannot make the folder " + tmpl);
    path_ = tmpl;
    return;
  }
  GError* error = nullptr;
  gchar* made = g_dir_make_tmp((prefix + "-XXXXXX").c_str(), &error);
  if (!made) {
    std::string why = error ? error->message : "cannot make a temporary folder";
    if (error) g_error_free(error);
    throw std::runtime_error(why);
  }
  path_ = made;
  g_free(made);
}

StagingFolder::~StagingFolder() {
  std::error_code ec;
  // Staged trees may hold read-only folders (a copy keeps nothing of the
  // source's modes, but tools may make some).
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& text, unsigned mode) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  if (::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot set the mode of " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void copyTree(const std::string& from, const std::string& to, bool (*skip)(const std::string&)) {
  fs::create_directories(to);
  for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path relative = it->path().lexically_relative(from);
    if (skip && skip(relative.generic_string())) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    const fs::path target = fs::path(to) / relative;
    const auto status = it->symlink_status();
    if (fs::is_symlink(status)) {
      // A link must stay inside the tree: anywhere else it names a file of
      // this machine, which the copy's reader does not have.
      const fs::path link = fs::read_symlink(it->path());
      const fs::path resolved = (it->path().parent_path() / link).lexically_normal();
      const std::string inside = resolved.lexically_relative(fs::path(from).lexically_normal()).generic_string();
      if (link.is_absolute() || inside.empty() || inside == ".." || inside.rfind("../", 0) == 0)
        throw std::runtime_error(relative.generic_string() + " is a link to " + link.string() +
                                 ", outside the bundle: copy the file in instead");
      fs::copy_symlink(it->path(), target);
    } else if (fs::is_directory(status)) {
      fs::create_directories(target);
    } else if (fs::is_regular_file(status)) {
      fs::copy_file(it->path(), target);
      fs::permissions(target, status.permissions());
    } else {
      throw std::runtime_error(it->path().string() + " is neither a file, a folder nor a link");
    }
  }
}

void normalizeModes(const std::string& root) {
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto status = entry.symlink_status();
    if (fs::is_symlink(status)) continue;
    const bool executable = fs::is_directory(status) ||
                            (status.permissions() & (fs::perms::owner_exec | fs::perms::group_exec |
                                                     fs::perms::others_exec)) != fs::perms::none;
    ::chmod(entry.path().c_str(), executable ? 0755 : 0644);
  }
  ::chmod(root.c_str(), 0755);
}

std::vector<std::string> elfFiles(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    char magic[4] = {};
    if (in.read(magic, 4) && magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
      out.push_back(entry.path().string());
  }
  return out;
}

unsigned long long installedSizeKiB(const std::string& root) {
  // dpkg-gencontrol's rule: every file rounded up to whole KiB, one KiB per
  // folder and link.
  unsigned long long kib = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink())
      kib += (entry.file_size() + 1023) / 1024;
    else
      kib += 1;
  }
  return kib;
}

int runTool(const std::vector<std::string>& argv, std::string* out, std::string* err,
            const std::string& workingFolder) {
  std::vector<gchar*> args;
  for (const auto& a : argv) args.push_back(const_cast<gchar*>(a.c_str()));
  args.push_back(nullptr);
  gchar* stdoutText = nullptr;
  gchar* stderrText = nullptr;
  gint status = 0;
  GError* error = nullptr;
  const gboolean started = g_spawn_sync(workingFolder.empty() ? nullptr : workingFolder.c_str(), args.data(), nullptr,
                                        G_SPAWN_SEARCH_PATH, nullptr, nullptr, &stdoutText, &stderrText, &status, &error);
  if (!started) {
    if (err) *err = error ? error->message : "cannot start " + argv.front();
    if (error) g_error_free(error);
    return -1;
  }
  if (out) *out = stdoutText ? stdoutText : "";
  if (err) *err = stderrText ? stderrText : "";
  g_free(stdoutText);
  g_free(stderrText);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

bool leftOutOfPackage(const std::string& relative) {
  if (relative == "Contents/MacOS") return true;
  const std::string name = std::filesystem::path(relative).filename().string();
  return name == ".git" || name == ".gitignore" || name == ".gitattributes" || name == ".svn" || name == ".hg" ||
         name == ".DS_Store";
}

}  // namespace corvane::kit
