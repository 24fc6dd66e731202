#include "kit/AppMetadata.h"

#include "kit/PackageNames.h"

#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>

namespace fs = std::filesystem;

namespace corvane::kit {
namespace {

struct CategoryRow {
  const char* type;  // after "public.app-category."
  const char* categories;
  const char* section;
};

// Every category the application stores know, onto the desktop menu's main
// categories (with the additional ones whose rules they meet) and Debian's
// sections.
constexpr CategoryRow kCategories[] = {
    {"business", "Office", "misc"},
    {"developer-tools", "Development", "devel"},
    {"education", "Education", "education"},
    {"entertainment", "AudioVideo", "video"},
    {"finance", "Office;Finance", "misc"},
    {"games", "Game", "games"},
    {"action-games", "Game;ActionGame", "games"},
    {"adventure-games", "Game;AdventureGame", "games"},
    {"arcade-games", "Game;ArcadeGame", "games"},
    {"board-games", "Game;BoardGame", "games"},
    {"card-games", "Game;CardGame", "games"},
    {"casino-games", "Game;CardGame", "games"},
    {"dice-games", "Game", "games"},
    {"educational-games", "Game;KidsGame", "games"},
    {"family-games", "Game;KidsGame", "games"},
    {"kids-games", "Game;KidsGame", "games"},
    {"music-games", "Game", "games"},
    {"puzzle-games", "Game;LogicGame", "games"},
    {"racing-games", "Game;Simulation", "games"},
    {"role-playing-games", "Game;RolePlaying", "games"},
    {"simulation-games", "Game;Simulation", "games"},
    {"sports-games", "Game;SportsGame", "games"},
    {"strategy-games", "Game;StrategyGame", "games"},
    {"trivia-games", "Game;LogicGame", "games"},
    {"word-games", "Game", "games"},
    {"graphics-design", "Graphics", "graphics"},
    {"healthcare-fitness", "Utility", "misc"},
    {"lifestyle", "Utility", "misc"},
    {"medical", "Science;MedicalSoftware", "science"},
    {"music", "AudioVideo;Audio;Music", "sound"},
    {"news", "Network;News", "net"},
    {"photography", "Graphics;Photography", "graphics"},
    {"productivity", "Office", "misc"},
    {"reference", "Education", "doc"},
    {"social-networking", "Network;Chat", "net"},
    {"sports", "Utility", "misc"},
    {"travel", "Utility;Maps", "misc"},
    {"utilities", "Utility", "utils"},
    {"video", "AudioVideo;Video", "video"},
    {"weather", "Utility", "misc"},
};

struct ContentTypeRow {
  const char* uti;
  const char* mime;
};

constexpr ContentTypeRow kContentTypes[] = {
    {"public.plain-text", "text/plain"},
    {"public.utf8-plain-text", "text/plain"},
    {"public.text", "text/plain"},
    {"public.html", "text/html"},
    {"public.xml", "application/xml"},
    {"public.json", "application/json"},
    {"public.comma-separated-values-text", "text/csv"},
    {"public.rtf", "text/rtf"},
    {"net.daringfireball.markdown", "text/markdown"},
    {"public.png", "image/png"},
    {"public.jpeg", "image/jpeg"},
    {"com.compuserve.gif", "image/gif"},
    {"public.tiff", "image/tiff"},
    {"public.svg-image", "image/svg+xml"},
    {"org.webmproject.webp", "image/webp"},
    {"com.microsoft.bmp", "image/bmp"},
    {"com.adobe.pdf", "application/pdf"},
    {"public.zip-archive", "application/zip"},
    {"public.mp3", "audio/mpeg"},
    {"public.mpeg-4", "video/mp4"},
    {"public.folder", "inode/directory"},
};

std::string text(const Bundle& bundle, const char* key) {
  std::string t = bundle.infoText(key);
  return isAbsentText(t) ? "" : t;
}

std::vector<std::string> stringList(const nlohmann::json& value) {
  std::vector<std::string> out;
  if (value.is_string()) out.push_back(value.get<std::string>());
  if (value.is_array())
    for (const auto& v : value)
      if (v.is_string() && !v.get<std::string>().empty()) out.push_back(v.get<std::string>());
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(g_ascii_tolower(c));
  return s;
}

// "Showcase Note" -> "showcase-note"
std::string slug(const std::string& s) {
  std::string out;
  for (char c : lower(s)) {
    if (g_ascii_isalnum(c))
      out += c;
    else if (!out.empty() && out.back() != '-')
      out += '-';
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out;
}

bool validMimeType(const std::string& type) {
  static const std::regex re("^[a-z0-9][a-z0-9!#$&^_.+-]*/[a-zA-Z0-9][a-zA-Z0-9!#$&^_.+-]*$");
  return std::regex_match(type, re);
}

std::string today() {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) now = std::strtoll(epoch, nullptr, 10);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", std::gmtime(&now));
  return buf;
}

bool validDate(const std::string& date) {
  static const std::regex re("^[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])$");
  return std::regex_match(date, re);
}

std::string maintainerFromEnvironment() {
  for (auto [nameVar, mailVar] : {std::pair{"DEBFULLNAME", "DEBEMAIL"}, std::pair{"NAME", "EMAIL"}}) {
    const char* name = std::getenv(nameVar);
    const char* mail = std::getenv(mailVar);
    if (!mail || !*mail) continue;
    const std::string m = mail;
    // DEBEMAIL may hold "Name <address>" itself.
    if (m.find('<') != std::string::npos) return m;
    if (name && *name) return std::string(name) + " <" + m + ">";
  }
  return "";
}

void readDocumentTypes(const Bundle& bundle, const std::string& package, AppMetadata& app, MetadataReport& report) {
  const auto& info = bundle.infoDictionary();
  if (!info.contains("CFBundleDocumentTypes")) return;
  const auto& types = info["CFBundleDocumentTypes"];
  if (!types.is_array()) {
    report.errors.push_back("CFBundleDocumentTypes must be an array of dictionaries");
    return;
  }
  for (size_t i = 0; i < types.size(); ++i) {
    const auto& t = types[i];
    const std::string where = "CFBundleDocumentTypes[" + std::to_string(i) + "]";
    if (!t.is_object()) {
      report.errors.push_back(where + " must be a dictionary");
      continue;
    }
    DocumentType doc;
    doc.name = t.contains("CFBundleTypeName") && t["CFBundleTypeName"].is_string()
                   ? t["CFBundleTypeName"].get<std::string>()
                   : "";
    for (auto ext : stringList(t.value("CFBundleTypeExtensions", nlohmann::json()))) {
      if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
      if (ext == "*" || ext.empty()) continue;
      if (ext.find_first_of("/*?[] \t") != std::string::npos) {
        report.errors.push_back(where + ": the extension \"" + ext + "\" cannot name files");
        continue;
      }
      doc.extensions.push_back(ext);
    }
    for (const auto& mime : stringList(t.value("CFBundleTypeMIMETypes", nlohmann::json()))) {
      if (!validMimeType(mime)) {
        report.errors.push_back(where + ": \"" + mime + "\" is not a MIME type");
        continue;
      }
      doc.mimeTypes.push_back(mime);
    }
    for (const auto& uti : stringList(t.value("LSItemContentTypes", nlohmann::json()))) {
      const std::string mime = mimeTypeForContentType(uti);
      if (mime.empty())
        report.warnings.push_back(where + ": the content type \"" + uti +
                                  "\" has no known MIME type; list it in CFBundleTypeMIMETypes");
      else if (std::find(doc.mimeTypes.begin(), doc.mimeTypes.end(), mime) == doc.mimeTypes.end())
        doc.mimeTypes.push_back(mime);
    }
    if (doc.mimeTypes.empty() && !doc.extensions.empty()) {
      // A type of its own, named after the package and the document type.
      const std::string what = slug(doc.name.empty() ? doc.extensions.front() : doc.name);
      doc.mimeTypes.push_back("application/x-" + package + "-" + (what.empty() ? "document" : what));
      doc.ownMimeType = true;
      if (doc.name.empty()) doc.name = app.name + " document";
      // The build machine's MIME database is a hint, not the package's
      // content: the package stays the same wherever it is built.
      for (const auto& ext : doc.extensions) {
        gboolean uncertain = FALSE;
        gchar* known = g_content_type_guess(("x." + ext).c_str(), nullptr, 0, &uncertain);
        gchar* mime = known ? g_content_type_get_mime_type(known) : nullptr;
        if (mime && !uncertain && std::string(mime) != "application/octet-stream")
          report.warnings.push_back(where + ": files ending in ." + ext + " are already " + mime +
                                    " on this system; list it in CFBundleTypeMIMETypes to open them");
        g_free(mime);
        g_free(known);
      }
    }
    if (doc.mimeTypes.empty()) {
      report.warnings.push_back(where + " names no extension, MIME type or known content type: it is left out");
      continue;
    }
    app.documentTypes.push_back(std::move(doc));
  }
}

void readReleases(const Bundle& bundle, AppMetadata& app, MetadataReport& report) {
  const auto& info = bundle.infoDictionary();
  std::string date = text(bundle, "CorvaneReleaseDate");
  if (date.empty()) date = today();
  if (!validDate(date)) report.errors.push_back("CorvaneReleaseDate \"" + date + "\" is not a date (YYYY-MM-DD)");
  app.releases.push_back({app.shortVersion, date, text(bundle, "CorvaneReleaseNotes")});
  if (!info.contains("CorvaneReleases")) return;
  const auto& earlier = info["CorvaneReleases"];
  if (!earlier.is_array()) {
    report.errors.push_back("CorvaneReleases must be an array of dictionaries");
    return;
  }
  for (size_t i = 0; i < earlier.size(); ++i) {
    const auto& r = earlier[i];
    const std::string where = "CorvaneReleases[" + std::to_string(i) + "]";
    if (!r.is_object() || !r.contains("version") || !r["version"].is_string() || !r.contains("date") ||
        !r["date"].is_string()) {
      report.errors.push_back(where + " must be a dictionary with the texts \"version\" and \"date\"");
      continue;
    }
    Release release{r["version"].get<std::string>(), r["date"].get<std::string>(),
                    r.contains("description") && r["description"].is_string() ? r["description"].get<std::string>() : ""};
    if (!validDate(release.date)) report.errors.push_back(where + ": \"" + release.date + "\" is not a date (YYYY-MM-DD)");
    if (release.version == app.shortVersion) {
      // The entry of this version gives its date and notes.
      app.releases.front() = release;
      continue;
    }
    app.releases.push_back(std::move(release));
  }
  std::stable_sort(app.releases.begin() + 1, app.releases.end(),
                   [](const Release& a, const Release& b) { return a.date > b.date; });
}

void readHelpers(const Bundle& bundle, AppMetadata& app, MetadataReport& report) {
  const fs::path folder = fs::path(bundle.contentsPath()) / "XPCServices";
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return;
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == ".xpc") found.push_back(entry.path());
  std::sort(found.begin(), found.end());
  for (const auto& path : found) {
    const std::string where = "Contents/XPCServices/" + path.filename().string();
    std::string why;
    auto helper = Bundle::open(path.string(), &why);
    if (!helper) {
      report.errors.push_back(where + ": " + why);
      continue;
    }
    const std::string name = text(*helper, "CFBundleIdentifier");
    if (!g_dbus_is_name(name.c_str()) || g_dbus_is_unique_name(name.c_str())) {
      report.errors.push_back(where + ": its CFBundleIdentifier \"" + name + "\" is not a D-Bus name");
      continue;
    }
    const std::string exe = executableName(*helper);
    const fs::path program = fs::path(helper->executableFolder()) / exe;
    if (exe.find('/') != std::string::npos || !fs::is_regular_file(program, ec) ||
        ::access(program.c_str(), X_OK) != 0) {
      report.errors.push_back(where + ": its executable Contents/MacOS/" + exe + " is missing or not executable");
      continue;
    }
    app.helpers.push_back({name, program.lexically_relative(bundle.bundlePath()).generic_string()});
  }
}

}  // namespace

std::optional<CategoryMapping> mapApplicationCategory(const std::string& type) {
  constexpr std::string_view prefix = "public.app-category.";
  if (type.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  const std::string rest = type.substr(prefix.size());
  for (const auto& row : kCategories) {
    if (rest != row.type) continue;
    CategoryMapping out{{}, row.section};
    std::string all = row.categories;
    size_t start = 0;
    while (start <= all.size()) {
      const size_t semi = all.find(';', start);
      out.categories.push_back(all.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
    return out;
  }
  return std::nullopt;
}

std::string mimeTypeForContentType(const std::string& uti) {
  for (const auto& row : kContentTypes)
    if (uti == row.uti) return row.mime;
  return "";
}

std::string executableName(const Bundle& bundle) {
  const std::string named = text(bundle, "CFBundleExecutable");
  if (!named.empty()) return named;
  return fs::path(bundle.bundlePath()).stem().string();  // the path is normal, without a trailing slash
}

std::optional<AppMetadata> readAppMetadata(const Bundle& bundle, MetadataReport& report, bool needMaintainer) {
  AppMetadata app;
  app.bundleFolder = fs::path(bundle.bundlePath()).lexically_normal().filename().string();
  if (app.bundleFolder.empty()) app.bundleFolder = fs::path(bundle.bundlePath()).lexically_normal().parent_path().filename().string();
  const std::string stem = fs::path(app.bundleFolder).stem().string();

  app.identifier = text(bundle, "CFBundleIdentifier");
  if (app.identifier.empty())
    report.errors.push_back("CFBundleIdentifier is missing: it names the package, the desktop entry and the windows");
  else if (!g_application_id_is_valid(app.identifier.c_str()))
    report.errors.push_back("CFBundleIdentifier \"" + app.identifier +
                            "\" is not an application id (two or more parts joined by \".\", each of letters, "
                            "digits, \"_\" and \"-\", not starting with a digit): the desktop cannot tie the "
                            "windows to their entry");
  app.package = debianPackageName(app.identifier);

  app.name = text(bundle, "CFBundleDisplayName");
  if (app.name.empty()) app.name = text(bundle, "CFBundleName");
  if (app.name.empty()) app.name = stem;

  app.shortVersion = text(bundle, "CFBundleShortVersionString");
  app.buildVersion = text(bundle, "CFBundleVersion");
  if (app.shortVersion.empty()) {
    report.errors.push_back("CFBundleShortVersionString is missing: it is the package's version");
  } else {
    std::string why;
    if (auto v = debianVersion(app.shortVersion, app.buildVersion, &why))
      app.version = *v;
    else
      report.errors.push_back(why);
  }

  app.executable = executableName(bundle);
  if (app.executable.find('/') != std::string::npos || app.executable == "." || app.executable == "..")
    report.errors.push_back("CFBundleExecutable \"" + app.executable + "\" must be a plain file name");

  app.summary = text(bundle, "CorvaneSummary");
  if (app.summary.empty()) {
    app.summary = app.name;
    report.warnings.push_back("CorvaneSummary is missing: the application's name stands in for its one-line summary");
  }
  if (app.summary.find('\n') != std::string::npos) report.errors.push_back("CorvaneSummary must be one line");
  app.description = text(bundle, "CorvaneDescription");
  app.genericName = text(bundle, "CorvaneGenericName");
  app.keywords = stringList(bundle.infoDictionary().value("CorvaneKeywords", nlohmann::json()));

  const std::string category = text(bundle, "LSApplicationCategoryType");
  if (auto mapped = category.empty() ? std::nullopt : mapApplicationCategory(category)) {
    app.categories = mapped->categories;
    app.section = mapped->section;
  } else {
    if (!category.empty())
      report.warnings.push_back("LSApplicationCategoryType \"" + category + "\" is not known: the menu shows it under Utility");
    app.categories = {"Utility"};
    app.section = "misc";
  }

  app.icon = findBundleIcon(bundle);
  if (!app.icon) {
    const auto declared = declaredIconNames(bundle);
    if (declared.empty())
      report.warnings.push_back("CFBundleIconFile is missing: the application has no icon of its own");
    else
      report.errors.push_back(declared.front().first + " \"" + declared.front().second +
                              "\" names no file in Contents/Resources (tried .icns, .png, .svg and the name as given)");
  }

  app.copyright = text(bundle, "NSHumanReadableCopyright");
  app.license = text(bundle, "CorvaneLicense");
  app.metadataLicense = text(bundle, "CorvaneMetadataLicense");
  if (app.metadataLicense.empty()) app.metadataLicense = "FSFAP";
  app.homepage = text(bundle, "homePageURL");
  if (!app.homepage.empty() && app.homepage.rfind("https://", 0) != 0 && app.homepage.rfind("http://", 0) != 0)
    report.errors.push_back("homePageURL \"" + app.homepage + "\" is not an http or https address");

  app.maintainer = text(bundle, "CorvaneMaintainer");
  if (app.maintainer.empty()) app.maintainer = maintainerFromEnvironment();
  static const std::regex person("^[^<>\n]*[^<> \n] <[^<>@ \n]+@[^<> \n]+>$");
  if (app.maintainer.empty() && needMaintainer)
    report.errors.push_back("CorvaneMaintainer is missing (\"Name <address>\", the package's Maintainer; "
                            "$DEBFULLNAME and $DEBEMAIL stand in when set)");
  else if (!app.maintainer.empty() && !std::regex_match(app.maintainer, person))
    report.errors.push_back("the maintainer \"" + app.maintainer + "\" is not \"Name <address>\"");
  app.developerName = text(bundle, "CorvaneDeveloperName");
  if (app.developerName.empty()) app.developerName = app.maintainer.substr(0, app.maintainer.find(" <"));

  if (!app.package.empty()) readDocumentTypes(bundle, app.package, app, report);
  if (!app.shortVersion.empty()) readReleases(bundle, app, report);
  readHelpers(bundle, app, report);

  if (!report.errors.empty()) return std::nullopt;
  return app;
}

}  // namespace corvane::kit
