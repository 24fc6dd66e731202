#include "kit/PackageFlatpak.h"

#include "app/AtomicFile.h"
#include "app/JsonText.h"
#include "kit/AppMetadata.h"
#include "kit/DesktopEntry.h"
#include "kit/IconTheme.h"
#include "kit/KitFiles.h"
#include "kit/KitPaths.h"
#include "kit/Metainfo.h"
#include "kit/PackageSource.h"

#include <glib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <ostream>
#include <stdexcept>

#ifndef CORVANE_SOURCE_URL
#define CORVANE_SOURCE_URL ""
#endif

namespace fs = std::filesystem;

namespace corvane::kit {
namespace {

// What the sandbox opens to the shell: its display (Wayland, or X11 where
// there is no Wayland), the GPU for WebKit, sound, the network (pages load
// from the shell's own server and the web), and the notification service.
// Files reach the application through the desktop portal's dialogs;
// "CorvaneFlatpakFinishArgs" adds more (--filesystem=...).
const std::vector<std::string> kFinishArgs = {
    "--share=ipc",     "--socket=wayland",    "--socket=fallback-x11",
    "--device=dri",    "--socket=pulseaudio", "--share=network",
    "--talk-name=org.freedesktop.Notifications",
};

nlohmann::json shellModule(const std::string& shellSource) {
  const auto data = dataDirectory();
  if (!data) throw std::runtime_error("the shell's data folder beside corvane-kit is missing");
  const std::string path = *data + "/flatpak/corvane-module.json";
  std::string why;
  auto module = parseJsonText(readFile(path), &why);
  if (!module || !module->is_object()) throw std::runtime_error(path + ": " + why);
  if (!shellSource.empty()) {
    // A source tree often holds its build folder and history: not sources.
    (*module)["sources"] = {{{"type", "dir"},
                             {"path", fs::absolute(shellSource).lexically_normal().string()},
                             {"skip", {".git", "build"}}}};
  } else if (std::string(CORVANE_SOURCE_URL).empty()) {
    throw std::runtime_error("name the shell's source tree with --shell-source DIR (this corvane-kit was built "
                             "without CORVANE_SOURCE_URL, the repository to fetch it from)");
  } else {
    (*module)["sources"] = {{{"type", "git"}, {"url", CORVANE_SOURCE_URL}, {"tag", std::string("v") + CORVANE_VERSION}}};
  }
  return *module;
}

std::string shellQuoted(const std::string& text) {
  gchar* q = g_shell_quote(text.c_str());
  std::string out = q;
  g_free(q);
  return out;
}

}  // namespace

int packageFlatpak(const FlatpakRequest& request, std::ostream& out, std::ostream& err) {
  int status = kFailed;
  auto source = readPackageSource(request.bundle, false, err, &status);
  if (!source) return status;
  const Bundle* bundle = &source->bundle;
  const AppMetadata* app = &source->app;
  const std::optional<icons::IconImage>& icon = source->icon;
  std::vector<std::string> finishArgs = kFinishArgs;
  const auto& info = bundle->infoDictionary();
  if (info.contains("CorvaneFlatpakFinishArgs")) {
    const auto& extra = info["CorvaneFlatpakFinishArgs"];
    bool ok = extra.is_array();
    for (const auto& a : extra) ok = ok && a.is_string() && a.get<std::string>().rfind("--", 0) == 0;
    if (!ok) {
      err << "corvane-kit: CorvaneFlatpakFinishArgs must be an array of options (\"--filesystem=...\")\n";
      return kFailed;
    }
    for (const auto& a : extra) finishArgs.push_back(a.get<std::string>());
  }

  try {
    const fs::path folder = request.outputFolder;
    fs::create_directories(folder);
    // Everything is made in a folder of its own inside the output folder,
    // then moved into place, the manifest last: a manifest never names a
    // file that is not complete.
    StagingFolder stage((folder / ".corvane-kit-flatpak").string());
    const fs::path s = stage.path();
    const std::string id = app->identifier;
    const std::string installed = "/app/lib/" + app->package + "/" + app->bundleFolder;

    copyTree(bundle->bundlePath(), (s / app->bundleFolder).string(), leftOutOfPackage);
    writeFile((s / (app->package + ".sh")).string(),
              "#!/bin/sh\nexec /app/bin/corvane --bundle " + shellQuoted(installed) + " -- \"$@\"\n", 0755);
    writeFile((s / (id + ".desktop")).string(), desktopEntryText(*app, app->package, icon.has_value()));
    writeFile((s / (id + ".metainfo.xml")).string(), metainfoXml(*app, app->package));
    const std::string mime = mimeInfoXml(*app);
    if (!mime.empty()) writeFile((s / (id + ".mime.xml")).string(), mime);
    if (icon) writeThemeIcons(*icon, (s / "icons/hicolor").string(), id);

    std::vector<std::string> commands = {
        "mkdir -p /app/lib/" + app->package,
        "cp -a " + shellQuoted(app->bundleFolder) + " /app/lib/" + app->package + "/",
        "mkdir -p " + shellQuoted(installed + "/Contents/MacOS"),
        "ln -s /app/bin/" + app->package + " " + shellQuoted(installed + "/Contents/MacOS/" + app->executable),
        "install -Dm755 " + app->package + ".sh /app/bin/" + app->package,
        "install -Dm644 " + id + ".desktop /app/share/applications/" + id + ".desktop",
        "install -Dm644 " + id + ".metainfo.xml /app/share/metainfo/" + id + ".metainfo.xml",
    };
    nlohmann::json sources = nlohmann::json::array();
    sources.push_back({{"type", "dir"}, {"path", app->bundleFolder}, {"dest", app->bundleFolder}});
    for (const auto& file : {app->package + ".sh", id + ".desktop", id + ".metainfo.xml"})
      sources.push_back({{"type", "file"}, {"path", file}});
    if (!mime.empty()) {
      commands.push_back("install -Dm644 " + id + ".mime.xml /app/share/mime/packages/" + id + ".xml");
      sources.push_back({{"type", "file"}, {"path", id + ".mime.xml"}});
    }
    if (icon) {
      commands.push_back("mkdir -p /app/share/icons && cp -a icons/hicolor /app/share/icons/");
      sources.push_back({{"type", "dir"}, {"path", "icons"}, {"dest", "icons"}});
    }

    nlohmann::json manifest = {
        {"app-id", id},
        {"runtime", "org.gnome.Platform"},
        {"runtime-version", "46"},
        {"sdk", "org.gnome.Sdk"},
        {"command", app->package},
        {"finish-args", finishArgs},
        {"modules",
         {shellModule(request.shellSource),
          {{"name", app->package}, {"buildsystem", "simple"}, {"build-commands", commands}, {"sources", sources}}}},
    };
    writeFile((s / (id + ".json")).string(), manifest.dump(2) + "\n");

    // Into place: the files first, the manifest last.
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(s))
      if (e.path().filename() != id + ".json") entries.push_back(e.path());
    entries.push_back(s / (id + ".json"));
    for (const auto& e : entries) {
      const fs::path target = folder / e.filename();
      std::error_code ec;
      fs::remove_all(target, ec);
      fs::rename(e, target);
    }
    out << (folder / (id + ".json")).string() << "\n";
    return kOk;
  } catch (const std::exception& e) {
    err << "corvane-kit: " << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace corvane::kit
