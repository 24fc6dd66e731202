#include "app/CommandLine.h"

#include "app/Bundle.h"

#include <gio/gio.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

namespace corvane {

CommandLine CommandLine::parse(int argc, char** argv) {
  CommandLine cli;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      cli.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      cli.action = Action::Help;
      return cli;
    } else if (arg == "-V" || arg == "--version") {
      cli.action = Action::Version;
      return cli;
    } else if (arg == "--bundle" || arg == "-b") {
      if (i + 1 >= argc) {
        cli.action = Action::Error;
        cli.error = "option " + arg + " needs a bundle path";
        return cli;
      }
      cli.bundlePath = argv[++i];
    } else if (arg.rfind("--bundle=", 0) == 0) {
      cli.bundlePath = arg.substr(9);
    } else if (arg == "--dev") {
      cli.dev = true;
    } else if (arg == "--dev-url" || arg.rfind("--dev-url=", 0) == 0) {
      if (arg == "--dev-url" && i + 1 >= argc) {
        cli.action = Action::Error;
        cli.error = "option --dev-url needs a URL";
        return cli;
      }
      cli.devUrl = arg == "--dev-url" ? argv[++i] : arg.substr(10);
      cli.dev = true;
      std::string why;
      if (!isLocalDevelopmentUrl(cli.devUrl, &why)) {
        cli.action = Action::Error;
        cli.error = "--dev-url " + cli.devUrl + ": " + why;
        return cli;
      }
    } else {
      cli.action = Action::Error;
      cli.error = "unknown option " + arg;
      return cli;
    }
  }
  return cli;
}

std::string CommandLine::usage(const std::string& program) {
  return "Usage: " + program + " [--bundle PATH] [--dev [--dev-url URL]] [--] [FILE...]\n"
         "Run the application in an application bundle (<Name>.app).\n"
         "\n"
         "  -b, --bundle PATH  the bundle to run; without it, the bundle whose\n"
         "                     Contents/MacOS folder holds this executable\n"
         "  --dev              development mode: developer tools on, the page's\n"
         "                     console on stdout, reload when its files change\n"
         "  --dev-url URL      development mode with the page from a development\n"
         "                     server on this computer; its origin gets the bridge.\n"
         "                     For development only: any program serving that\n"
         "                     address reaches the user's files through the page\n"
         "  -h, --help         show this help and exit\n"
         "  -V, --version      show the version and exit\n"
         "\n"
         "FILEs are handed to the application to open; every argument after --\n"
         "is a file, even one that starts with a dash.\n"
         "Exit status: 0 on success, 2 for a bad command line or bundle,\n"
         "72 when the bundle has no main configuration (or none that can be read),\n"
         "78 when a key of the main configuration has the wrong type (an alert\n"
         "names it first).\n";
}

bool isLocalDevelopmentUrl(const std::string& url, std::string* why) {
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return false;
  };
  GUri* uri = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return fail("not a URL");
  const std::string scheme = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
  const std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  const bool userInfo = g_uri_get_userinfo(uri) != nullptr;
  g_uri_unref(uri);
  if (scheme != "http" && scheme != "https") return fail("only http and https addresses serve pages in development");
  if (userInfo) return fail("the address must not hold a user name or password");
  GInetAddress* address = g_inet_address_new_from_string(host.c_str());
  const bool loopback = address && g_inet_address_get_is_loopback(address);
  if (address) g_object_unref(address);
  if (g_ascii_strcasecmp(host.c_str(), "localhost") != 0 && !loopback)
    return fail("the development server must run on this computer (localhost, 127.0.0.1 or [::1])");
  return true;
}

std::string CommandLine::version() { return std::string("corvane ") + CORVANE_VERSION + "\n"; }

std::string currentExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::vector<std::string> filesBesideExecutable(const std::vector<std::string>& folders, const std::string& file) {
  namespace fs = std::filesystem;
  const fs::path exeDir = fs::path(currentExecutablePath()).parent_path();
  std::vector<std::string> found;
  for (const std::string& folder : folders) {
    std::error_code ec;
    const fs::path path = fs::weakly_canonical(exeDir / folder / file, ec);
    if (!ec && fs::exists(path, ec)) found.push_back(path.string());
  }
  return found;
}

namespace {

std::string absolutePath(const std::string& path, const std::string& cwd) {
  gchar* canonical = g_canonicalize_filename(path.c_str(), cwd.c_str());
  std::string out = canonical;
  g_free(canonical);
  return out;
}

// The local path of a URI argument, or nullopt with the reason.
std::optional<std::string> localPathOfUri(const std::string& uri, std::string& why) {
  GFile* file = g_file_new_for_uri(uri.c_str());
  gchar* path = g_file_get_path(file);
  g_object_unref(file);
  if (!path) {
    why = "not opening " + uri + ": it is not a local file, and the page receives file paths only";
    return std::nullopt;
  }
  std::string out = path;
  g_free(path);
  return out;
}

}  // namespace

FilesToOpen filesToOpen(const std::vector<std::string>& arguments, const std::string& cwd) {
  FilesToOpen out;
  for (const auto& arg : arguments) {
    if (arg.empty()) {
      out.skipped.push_back("not opening an empty file argument: it names no file");
      continue;
    }
    const std::string asPath = absolutePath(arg, cwd);
    const char* scheme = g_uri_peek_scheme(arg.c_str());  // interned, lower case
    const bool uriLike = scheme && (arg.find("://") != std::string::npos || std::string(scheme) == "file");
    if (!uriLike || g_file_test(asPath.c_str(), G_FILE_TEST_EXISTS)) {
      out.paths.push_back(asPath);
      continue;
    }
    std::string why;
    if (auto local = localPathOfUri(arg, why))
      out.paths.push_back(*local);
    else
      out.skipped.push_back(why);
  }
  return out;
}

std::optional<std::string> resolveBundlePath(const CommandLine& cli, const std::string& executable) {
  if (!cli.bundlePath.empty()) return cli.bundlePath;
  return Bundle::containingBundle(executable);
}

}  // namespace corvane
