#include "kit/PackageDeb.h"

#include "kit/AppMetadata.h"
#include "kit/DebianFiles.h"
#include "kit/DesktopEntry.h"
#include "kit/IconTheme.h"
#include "kit/KitFiles.h"
#include "kit/KitPaths.h"
#include "kit/Metainfo.h"
#include "kit/PackageSource.h"

#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <stdexcept>

#ifndef CORVANE_RUNTIME_DEPENDS
#define CORVANE_RUNTIME_DEPENDS "librsvg2-common, libmicrohttpd12"
#define CORVANE_RUNTIME_RECOMMENDS ""
#endif

namespace fs = std::filesystem;

namespace corvane::kit {
namespace {

// The agent helper's service name: one helper serves every application.
constexpr const char* kAgentName = "com.zavrelon.app.mac.xpc.AgentHelper";

std::string serviceFile(const std::string& name, const std::string& exec) {
  return "[D-BUS Service]\nName=" + name + "\nExec=" + exec + "\n";
}

// The shell and its parts, beside the kit, placed in the bundle as they
// lie beside the shell: Contents/MacOS/<executable>, and the private
// libraries and programs at the same relative places.
std::string copyShell(const std::string& contents, const std::string& executable) {
  const auto shell = shellExecutable();
  const auto lib = privateLibraryDirectory();
  const auto libexec = privateExecutableDirectory();
  if (!shell || !lib || !libexec)
    throw std::runtime_error("the shell's files beside corvane-kit are missing (a standalone package copies them)");
  const fs::path bin = fs::path(*shell).parent_path();
  const fs::path macos = fs::path(contents) / "MacOS";
  fs::create_directories(macos);
  fs::copy_file(*shell, macos / executable);
  const fs::path libTarget = (macos / fs::path(*lib).lexically_relative(bin)).lexically_normal();
  const fs::path libexecTarget = (macos / fs::path(*libexec).lexically_relative(bin)).lexically_normal();
  for (const char* part : {"web-extensions", "modules"}) copyTree((fs::path(*lib) / part).string(), (libTarget / part).string());
  fs::create_directories(libexecTarget);
  fs::copy_file(fs::path(*libexec) / "corvane-agent-helper", libexecTarget / "corvane-agent-helper");
  return (libexecTarget / "corvane-agent-helper").lexically_relative(contents).generic_string();
}

// Strips every ELF file as Debian's own packaging does.
void stripBinaries(const std::vector<std::string>& files) {
  for (const auto& file : files) {
    std::string out, err;
    const int status = runTool({"strip", "--remove-section=.comment", "--remove-section=.note", "--strip-unneeded", file},
                               &out, &err);
    if (status != 0)
      throw std::runtime_error("strip " + file + " failed" + (status < 0 ? " (is binutils installed?)" : "") + ": " + err);
  }
}

// dpkg-shlibdeps on the package's binaries: the system libraries they need.
std::string libraryDepends(const std::string& stage, const std::vector<std::string>& files) {
  writeFile(stage + "/debian/control", "");
  std::vector<std::string> argv{"dpkg-shlibdeps", "-O"};
  for (const auto& f : files) argv.push_back("-e" + f);
  std::string out, err;
  const int status = runTool(argv, &out, &err, stage);
  if (status != 0)
    throw std::runtime_error("dpkg-shlibdeps failed" + std::string(status < 0 ? " (is dpkg-dev installed?)" : "") +
                             ": " + err);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("shlibs:Depends=", 0) == 0) return line.substr(15);
  return "";
}

std::string hostArchitecture() {
  std::string out, err;
  if (runTool({"dpkg", "--print-architecture"}, &out, &err) != 0) throw std::runtime_error("dpkg --print-architecture failed: " + err);
  out.erase(out.find_last_not_of("\n") + 1);
  return out;
}

std::string md5sums(const std::string& root) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const std::string relative = entry.path().lexically_relative(root).generic_string();
    if (relative.rfind("DEBIAN/", 0) == 0) continue;
    const std::string data = readFile(entry.path().string());
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(data.data()), data.size());
    lines.push_back(std::string(sum) + "  " + relative + "\n");
    g_free(sum);
  }
  std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) { return a.substr(34) < b.substr(34); });
  std::string out;
  for (const auto& l : lines) out += l;
  return out;
}

}  // namespace

int packageDeb(const DebRequest& request, std::ostream& out, std::ostream& err) {
  int status = kFailed;
  auto source = readPackageSource(request.bundle, true, err, &status);
  if (!source) return status;
  const Bundle* bundle = &source->bundle;
  const AppMetadata* app = &source->app;
  const std::optional<icons::IconImage>& icon = source->icon;

  try {
    StagingFolder stage("corvane-kit-deb");
    const std::string root = stage.path() + "/root";
    const std::string installedBundle = "/usr/lib/" + app->package + "/" + app->bundleFolder;
    const std::string contents = root + installedBundle + "/Contents";
    copyTree(bundle->bundlePath(), root + installedBundle, leftOutOfPackage);

    std::vector<std::string> services;  // (file name, text)
    if (request.standalone) {
      const std::string agent = copyShell(contents, app->executable);
      services.push_back(app->identifier + ".AgentHelper.service");
      writeFile(root + "/usr/share/dbus-1/services/" + services.back(),
                serviceFile(kAgentName, installedBundle + "/Contents/" + agent));
    } else {
      writeFile(contents + "/MacOS/" + app->executable, sharedLauncherScript(installedBundle), 0755);
    }
    for (const auto& helper : app->helpers)
      writeFile(root + "/usr/share/dbus-1/services/" + helper.name + ".service",
                serviceFile(helper.name, installedBundle + "/" + helper.executable));

    fs::create_directories(root + "/usr/bin");
    fs::create_symlink("../lib/" + app->package + "/" + app->bundleFolder + "/Contents/MacOS/" + app->executable,
                       root + "/usr/bin/" + app->package);

    writeFile(root + "/usr/share/applications/" + app->identifier + ".desktop",
              desktopEntryText(*app, app->package, icon.has_value()));
    writeFile(root + "/usr/share/metainfo/" + app->identifier + ".metainfo.xml", metainfoXml(*app, app->package));
    if (const std::string mime = mimeInfoXml(*app); !mime.empty())
      writeFile(root + "/usr/share/mime/packages/" + app->identifier + ".xml", mime);
    if (icon) writeThemeIcons(*icon, root + "/usr/share/icons/hicolor", app->identifier);
    const std::string doc = root + "/usr/share/doc/" + app->package;
    writeFile(doc + "/copyright", copyrightText(*app));
    writeFile(doc + "/changelog.gz", gzipped(changelogText(*app, packageDate())));
    writeFile(root + "/usr/share/man/man1/" + app->package + ".1.gz", gzipped(manPageText(*app, !request.standalone)));

    const auto binaries = elfFiles(root);
    stripBinaries(binaries);
    normalizeModes(root);

    ControlFields fields;
    fields.architecture = binaries.empty() ? "all" : hostArchitecture();
    std::vector<std::string> depends;
    if (request.standalone) {
      // What the shell loads at run time, which dpkg-shlibdeps cannot see.
      if (std::string d = CORVANE_RUNTIME_DEPENDS; !d.empty()) depends.push_back(d);
      fields.recommends = CORVANE_RUNTIME_RECOMMENDS;
    } else {
      depends.push_back(std::string("corvane (>= ") + CORVANE_VERSION + ")");
    }
    if (!binaries.empty())
      if (std::string libs = libraryDepends(stage.path(), binaries); !libs.empty()) depends.push_back(libs);
    for (const auto& d : depends) fields.depends += (fields.depends.empty() ? "" : ", ") + d;
    fields.installedSizeKiB = installedSizeKiB(root);
    writeFile(root + "/DEBIAN/control", controlText(*app, fields));
    writeFile(root + "/DEBIAN/md5sums", md5sums(root));

    fs::create_directories(request.outputFolder);
    const std::string name = app->package + "_" + app->version + "_" + fields.architecture + ".deb";
    const std::string target = (fs::path(request.outputFolder) / name).string();
    // Built beside the target and renamed over it: an interrupted build
    // never leaves a torn package under the package's name.
    const std::string partial = (fs::path(request.outputFolder) / ("." + name + ".part")).string();
    std::string toolOut, toolErr;
    const int status = runTool({"dpkg-deb", "--build", "--root-owner-group", root, partial}, &toolOut, &toolErr);
    if (status != 0) {
      std::error_code ec;
      fs::remove(partial, ec);
      throw std::runtime_error("dpkg-deb failed: " + toolErr);
    }
    fs::rename(partial, target);
    out << target << "\n";
    return kOk;
  } catch (const std::exception& e) {
    err << "corvane-kit: " << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace corvane::kit
