#include "kit/NewApp.h"

#include "app/CommandLine.h"
#include "kit/KitPaths.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <stdio.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>

namespace fs = std::filesystem;

namespace corvane::kit {

std::optional<std::string> invalidAppName(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > 100) return "the name is longer than 100 bytes";
  if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) return "the name is not UTF-8 text";
  if (name.find('/') != std::string::npos) return "the name holds a \"/\"; give the folder as DIR";
  if (name.front() == '.' || name.front() == '-') return "the name starts with \"" + name.substr(0, 1) + "\"";
  if (name.front() == ' ' || name.back() == ' ') return "the name starts or ends with a space";
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return "the name holds a control character";
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0)
    return "give the name without \".app\" (" + name.substr(0, name.size() - 4) + ")";
  return std::nullopt;
}

std::string defaultIdentifier(const std::string& name) {
  std::string part;
  for (unsigned char c : name)
    if (g_ascii_isalnum(c)) part += static_cast<char>(g_ascii_tolower(c));
  if (part.empty()) return "";
  if (g_ascii_isdigit(part.front())) part = "app" + part;
  return "com.example." + part;
}

namespace {

std::string jsonText(const std::string& s) { return nlohmann::json(s).dump(); }

std::string markup(const std::string& s) {
  gchar* escaped = g_markup_escape_text(s.c_str(), static_cast<gssize>(s.size()));
  std::string out = escaped;
  g_free(escaped);
  return out;
}

// A word for sh: single quotes, with each ' written as '\''.
std::string shellWord(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string fileUri(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : path;
  g_free(uri);
  return out;
}

std::string replaceAll(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
      text.replace(at, key.size(), value);
  }
  return text;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

// The folder DIR/.Name.app.new-XXXXXX, made empty.
fs::path scratchFolder(const fs::path& folder, const std::string& name) {
  std::string pattern = (folder / ("." + name + ".app.new-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder in " + folder.string() + ": " + std::strerror(errno));
  return pattern;
}

}  // namespace

std::optional<std::string> makeApplication(const NewAppOptions& o, std::string* error) {
  auto fail = [error](const std::string& why) -> std::optional<std::string> {
    if (error) *error = why;
    return std::nullopt;
  };
  const fs::path templates = fs::path(o.dataDirectory) / "templates" / "app";
  std::error_code ec;
  if (!fs::is_directory(templates, ec)) return fail("the shell's template is missing: " + templates.string());
  const fs::path target = fs::path(o.folder) / (o.name + ".app");
  if (fs::symlink_status(target, ec).type() != fs::file_type::not_found)
    return fail(target.string() + " already exists; nothing was changed");

  const std::string types = (fs::path(o.dataDirectory) / "types" / "corvane.d.ts").string();
  const std::string schema = (fs::path(o.dataDirectory) / "schema" / "project.schema.json").string();
  const std::map<std::string, std::string> values = {
      {"@NAME_XML@", markup(o.name)},
      {"@NAME_HTML@", markup(o.name)},
      {"@ID@", o.identifier},
      {"@SHELL_SH@", shellWord(o.shell)},
      {"@TYPES_PATH_JSON@", jsonText(types)},
      {"@SCHEMA_URI_JSON@", jsonText(fileUri(schema))},
  };

  fs::path scratch;
  try {
    fs::create_directories(o.folder);
    scratch = scratchFolder(o.folder, o.name);
    for (const auto& entry : fs::recursive_directory_iterator(templates)) {
      if (!entry.is_regular_file()) continue;
      std::string relative = fs::relative(entry.path(), templates).string();
      relative = replaceAll(relative, {{"@NAME@", o.name}});
      writeFile(scratch / relative, replaceAll(readFile(entry.path()), values));
    }
    // The promise module and its types, for the page to import.
    for (const char* file : {"corvane-async.js", "corvane-async.d.ts"})
      writeFile(scratch / "Contents/Resources/public" / file, readFile(fs::path(o.dataDirectory) / "js" / file));
    for (const auto& entry : fs::directory_iterator(scratch / "Contents/MacOS"))
      fs::permissions(entry.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(scratch, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    // Only into a free place: a folder made meanwhile stays as it is.
    if (renameat2(AT_FDCWD, scratch.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
      const int why = errno;
      throw std::runtime_error(why == EEXIST ? target.string() + " already exists; nothing was changed"
                                             : "cannot move the new bundle to " + target.string() + ": " +
                                                   std::strerror(why));
    }
  } catch (const std::exception& e) {
    if (!scratch.empty()) fs::remove_all(scratch, ec);
    return fail(e.what());
  }
  return target.string();
}

namespace {

// How the person runs this kit: its name when PATH finds this very program.
std::string kitCommand() {
  const std::string self = currentExecutablePath();
  gchar* found = g_find_program_in_path("corvane-kit");
  std::string onPath = found ? found : "";
  g_free(found);
  std::error_code ec;
  if (!onPath.empty() && fs::equivalent(onPath, self, ec)) return "corvane-kit";
  return self;
}

std::string argumentFor(const std::string& path) {
  for (char c : path)
    if (!g_ascii_isalnum(c) && !std::strchr("/._-+,:@%", c)) return shellWord(path);
  return path;
}

}  // namespace

int runNew(const KitInvocation& call) {
  NewAppOptions o;
  std::vector<std::string> positional;
  bool idGiven = false;
  for (size_t i = 0; i < call.args.size(); ++i) {
    const std::string& a = call.args[i];
    if (a == "--id" && i + 1 < call.args.size()) {
      o.identifier = call.args[++i];
      idGiven = true;
    } else if (a.rfind("--id=", 0) == 0) {
      o.identifier = a.substr(5);
      idGiven = true;
    } else if (!a.empty() && a[0] == '-') {
      call.err << "corvane-kit new: unknown option " << a << "\nUsage: corvane-kit new Name [--id reverse.dns.id] [DIR]\n";
      return kUsage;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.empty() || positional.size() > 2) {
    call.err << "Usage: corvane-kit new Name [--id reverse.dns.id] [DIR]\n";
    return kUsage;
  }
  o.name = positional[0];
  if (positional.size() == 2) o.folder = positional[1];
  if (auto why = invalidAppName(o.name)) {
    call.err << "corvane-kit new: \"" << o.name << "\" cannot name an application: " << *why << "\n";
    return kUsage;
  }
  if (!idGiven) o.identifier = defaultIdentifier(o.name);
  if (o.identifier.empty()) {
    call.err << "corvane-kit new: no identifier can be made from \"" << o.name
             << "\": give one with --id (reverse DNS, such as org.example.notes)\n";
    return kUsage;
  }
  if (!g_application_id_is_valid(o.identifier.c_str())) {
    call.err << "corvane-kit new: \"" << o.identifier
             << "\" is no valid identifier: write it in reverse DNS, two or more parts of letters, digits, _ and -, "
                "separated by dots, none starting with a digit (such as org.example.notes)\n";
    return kUsage;
  }
  const auto data = dataDirectory();
  if (!data) {
    call.err << "corvane-kit new: the shell's data folder (share/corvane) is not beside this kit\n";
    return kFailed;
  }
  o.dataDirectory = *data;
  o.shell = shellExecutable().value_or("corvane");

  std::string error;
  const auto made = makeApplication(o, &error);
  if (!made) {
    call.err << "corvane-kit new: " << error << "\n";
    return kFailed;
  }
  const std::string kit = argumentFor(kitCommand());
  const std::string bundle = argumentFor(*made);
  call.out << "Made " << *made << " (" << o.identifier << ").\n"
           << "  Run it:    " << kit << " dev " << bundle << "\n"
           << "  Check it:  " << kit << " check " << bundle << "\n"
           << "  The page:  " << *made << "/Contents/Resources/public/ (index.html, app.js)\n";
  if (!idGiven)
    call.out << "The identifier " << o.identifier
             << " keeps the application's settings and stored data apart from other applications':\n"
                "make it your own (CFBundleIdentifier in Info.plist) before the first release.\n";
  return kOk;
}

}  // namespace corvane::kit
