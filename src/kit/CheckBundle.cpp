#include "kit/CheckBundle.h"

#include "app/Bundle.h"
#include "app/ConfigKeys.h"
#include "app/JsonText.h"
#include "app/LaunchPlan.h"
#include "app/Log.h"
#include "app/Utils.h"
#include "app/WindowStyle.h"
#include "kit/AppMetadata.h"

#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <regex>
#include <sstream>
#include <tuple>

namespace fs = std::filesystem;

namespace corvane::kit {

using config::Kind;
using config::Scope;
using Severity = Finding::Severity;

size_t CheckReport::errors() const {
  return static_cast<size_t>(
      std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::Error; }));
}

size_t CheckReport::warnings() const { return findings.size() - errors(); }

std::string formatFinding(const Finding& f) {
  std::string out = f.file;
  if (f.place.line > 0) out += ":" + std::to_string(f.place.line) + ":" + std::to_string(f.place.column);
  out += f.severity == Severity::Error ? ": error: " : ": warning: ";
  return out + f.message;
}

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Optimal string alignment distance: a swap of two neighbours counts once.
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string nearestKey(const std::string& name, const std::vector<std::string>& known) {
  const std::string n = lower(name);
  // Longer names may be further off: about one slip per four letters.
  const size_t allowed = std::clamp<size_t>(n.size() / 4, 1, 3);
  std::string best;
  size_t bestDistance = allowed + 1;
  for (const auto& k : known) {
    const size_t d = editDistance(n, lower(k));
    if (d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

namespace {

// "/Tasks/0/taskType" -> "Tasks[0].taskType", for messages.
std::string displayPath(const std::string& pointer) {
  std::string out;
  std::stringstream in(pointer);
  std::string part;
  std::getline(in, part, '/');  // before the first slash: nothing
  while (std::getline(in, part, '/')) {
    std::string unescaped;
    for (size_t i = 0; i < part.size(); ++i) {
      if (part[i] == '~' && i + 1 < part.size()) {
        unescaped += part[i + 1] == '1' ? '/' : '~';
        ++i;
      } else {
        unescaped += part[i];
      }
    }
    const bool index = !unescaped.empty() && std::all_of(unescaped.begin(), unescaped.end(), ::isdigit);
    if (index) out += "[" + unescaped + "]";
    else out += (out.empty() ? "" : ".") + unescaped;
  }
  return out.empty() ? "the top level" : "\"" + out + "\"";
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool isFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Where a key was read: the places it could have been meant for.
std::vector<Scope> relatedScopes(Scope scope) {
  switch (scope) {
    case Scope::Project:
    case Scope::AppExInfo:
    case Scope::InfoPlist:
      return {Scope::Project, Scope::AppExInfo, Scope::InfoPlist};
    case Scope::Task:
    case Scope::TaskCondition:
      return {Scope::Task, Scope::TaskCondition};
    case Scope::MenuHide:
    case Scope::MenuTitle:
      return {Scope::MenuHide, Scope::MenuTitle};
    case Scope::BootStrap:
      return {Scope::BootStrap};
    case Scope::DocumentType:
      return {Scope::DocumentType};
  }
  return {};
}

std::string placeName(Scope scope) {
  switch (scope) {
    case Scope::Project: return "at the top level of the main configuration";
    case Scope::AppExInfo: return "inside \"AppExInfo\"";
    case Scope::InfoPlist: return "in Info.plist";
    default: return "in " + config::scopeName(scope);
  }
}

class Checker {
 public:
  explicit Checker(CheckReport& report) : report_(report) {}

  void add(Severity severity, const std::string& file, TextPlace place, const std::string& message) {
    report_.findings.push_back({severity, file, place, message});
  }
  void error(const std::string& file, TextPlace place, const std::string& message) {
    add(Severity::Error, file, place, message);
  }
  void warning(const std::string& file, TextPlace place, const std::string& message) {
    add(Severity::Warning, file, place, message);
  }
  size_t errorCount() const { return report_.errors(); }

 private:
  CheckReport& report_;
};

// ---- Info.plist -------------------------------------------------------------

// The place of <key>NAME</key> in an XML property list (binary ones have none).
TextPlace plistKeyPlace(const std::string& text, const std::string& key) {
  gchar* escaped = g_markup_escape_text(key.c_str(), -1);
  const std::string needle = std::string("<key>") + escaped + "</key>";
  g_free(escaped);
  const auto at = text.find(needle);
  if (at == std::string::npos) return {};
  return placeOf(text, at);
}

void unknownInfoKey(Checker& c, const nlohmann::json& info, const std::string& key, const std::string& file,
                    TextPlace place) {
  for (Scope other : {Scope::Project, Scope::AppExInfo})
    if (config::find(other, key)) {
      c.error(file, place, quoted(key) + " is read " + placeName(other) + " of project.json, not in Info.plist");
      return;
    }
  std::vector<std::string> candidates;
  for (const auto& k : config::keys())
    if (k.scope == Scope::InfoPlist && !info.contains(std::string(k.name))) candidates.emplace_back(k.name);
  // Info.plist carries keys of other tools and platforms: only a near miss
  // of a key the shell reads is worth a word.
  if (const std::string near = nearestKey(key, candidates); !near.empty())
    c.error(file, place, "unknown key " + quoted(key) + ": did you mean " + quoted(near) + "?");
}

void checkInfoPlist(Checker& c, const Bundle& bundle, const std::string& file) {
  const std::string text = readFile(bundle.contentsPath() + "/Info.plist");
  const nlohmann::json& info = bundle.infoDictionary();
  if (!info.is_object()) {
    c.error(file, {}, "the property list is not a dictionary");
    return;
  }
  for (const auto& [key, value] : info.items()) {
    const TextPlace place = plistKeyPlace(text, key);
    const config::Key* known = config::find(Scope::InfoPlist, key);
    if (!known) {
      unknownInfoKey(c, info, key, file, place);
      continue;
    }
    if (known->kind == Kind::Text && !value.is_string()) {
      if (value.is_number() || value.is_boolean())
        c.warning(file, place, quoted(key) + " is " + jsonTypeName(value) + "; write it as a <string>");
      else
        c.error(file, place, quoted(key) + " must be a <string>, not " + jsonTypeName(value));
    }
    if (known->kind == Kind::Boolean && !value.is_boolean()) {
      if (value.is_string() || value.is_number())
        c.warning(file, place,
                  quoted(key) + " is " + jsonTypeName(value) + ", read as " + (jsonBoolValue(value) ? "true" : "false") +
                      "; write <true/> or <false/>");
      else
        c.error(file, place, quoted(key) + " must be <true/> or <false/>, not " + jsonTypeName(value));
    }
  }

  const std::string id = bundle.infoText("CFBundleIdentifier");
  if (isAbsentText(id)) {
    c.warning(file, {},
              "no \"CFBundleIdentifier\": the application runs as " + bundle.identifier() +
                  ", and its settings and stored data move with the bundle's folder");
  } else if (!g_application_id_is_valid(id.c_str())) {
    c.warning(file, plistKeyPlace(text, "CFBundleIdentifier"),
              quoted(id) +
                  " is not a reverse-DNS identifier (two or more parts of letters, digits, _ and -, none starting "
                  "with a digit): the desktop knows the application by a name made from it");
  }
  if (isAbsentText(bundle.infoText("CFBundleDisplayName")) && isAbsentText(bundle.infoText("CFBundleName")) &&
      isAbsentText(bundle.infoText("CFBundleExecutable")))
    c.warning(file, {}, "no \"CFBundleName\": the application has no name (app.getAppName() answers \"(null)\")");
  if (isAbsentText(bundle.infoText("CFBundleShortVersionString")))
    c.warning(file, {}, "no \"CFBundleShortVersionString\": app.getAppVersion() answers \"(null)\"");
  if (info.contains("CFBundleIconFile") && info["CFBundleIconFile"].is_string()) {
    const std::string icon = info["CFBundleIconFile"].get<std::string>();
    const std::string base = bundle.resourcePath() + "/" + icon;
    if (!icon.empty() && !isFile(base) && !isFile(base + ".svg") && !isFile(base + ".png"))
      c.error(file, plistKeyPlace(text, "CFBundleIconFile"),
              "the icon " + quoted(icon) + " is not in Contents/Resources");
  }
  // A launcher the desktop cannot run: starting the bundle by it fails with
  // "permission denied" (files copied without their mode lose the bit).
  const std::string executable = executableName(bundle);
  const std::string launcher = bundle.executableFolder() + "/" + executable;
  if (executable.find('/') == std::string::npos && isFile(launcher) && ::access(launcher.c_str(), X_OK) != 0)
    c.error(file, {},
            "Contents/MacOS/" + executable + " is not executable: the bundle cannot be started by it (chmod +x)");
}

// ---- the main configuration --------------------------------------------------

struct ConfigFile {
  std::string path;
  std::string text;
  nlohmann::json value;
  std::unique_ptr<JsonLocations> places;
  bool packageJson = false;
};

class ConfigChecker {
 public:
  ConfigChecker(Checker& c, ConfigFile& f, const Utils& utils) : c_(c), f_(f), utils_(utils) {}

  void run() {
    errorsBefore_ = c_.errorCount();
    for (const auto& [pointer, place] : f_.places->duplicates())
      c_.warning(f_.path, place, displayPath(pointer) + " is written twice; only the last one counts");
    walkObject(f_.value, "", Scope::Project);
    if (auto it = f_.value.find("AppExInfo"); it != f_.value.end() && it->is_object()) appExInfo(*it);
    else startPage(LaunchSettings{});
    if (auto it = f_.value.find("enableDeveloperDebug"); it != f_.value.end() && jsonBoolValue(*it))
      c_.warning(f_.path, keyAt("/enableDeveloperDebug"),
                 "developer tools are on for everybody who runs the application; `corvane-kit dev` turns them on "
                 "for development without this key");
  }

 private:
  TextPlace keyAt(const std::string& pointer) const { return f_.places->key(pointer); }
  TextPlace valueAt(const std::string& pointer) const { return f_.places->value(pointer); }
  void error(const std::string& pointer, const std::string& message, bool atKey = false) {
    c_.error(f_.path, atKey ? keyAt(pointer) : valueAt(pointer), message);
  }
  void warning(const std::string& pointer, const std::string& message, bool atKey = false) {
    c_.warning(f_.path, atKey ? keyAt(pointer) : valueAt(pointer), message);
  }

  void walkObject(const nlohmann::json& object, const std::string& pointer, Scope scope) {
    for (const auto& [key, value] : object.items()) {
      const std::string p = pointer + "/" + JsonLocations::escape(key);
      if (value.is_null()) continue;  // reads as absent
      const config::Key* known = config::find(scope, key);
      if (!known) {
        unknownKey(object, key, p, scope);
        continue;
      }
      checkValue(*known, value, p);
    }
  }

  void unknownKey(const nlohmann::json& siblings, const std::string& key, const std::string& p, Scope scope) {
    for (Scope other : relatedScopes(scope)) {
      if (other == scope || !config::find(other, key)) continue;
      if (other == Scope::InfoPlist)
        error(p, quoted(key) + " is read in Info.plist, not " + placeName(scope) + " of " + fileName(), true);
      else
        error(p, quoted(key) + " is not read " + placeName(scope) + ": it belongs " + placeName(other), true);
      return;
    }
    std::vector<std::string> candidates;
    for (const auto& k : config::keys())
      if (k.scope == scope && !siblings.contains(std::string(k.name))) candidates.emplace_back(k.name);
    if (const std::string near = nearestKey(key, candidates); !near.empty()) {
      error(p, "unknown key " + quoted(key) + " " + placeName(scope) + ": did you mean " + quoted(near) + "?", true);
      return;
    }
    // A near miss of a key that belongs elsewhere: "enableDevelopperDebug"
    // inside "AppExInfo".
    for (Scope other : relatedScopes(scope)) {
      if (other == scope || other == Scope::InfoPlist) continue;
      std::vector<std::string> elsewhere;
      for (const auto& k : config::keys())
        if (k.scope == other) elsewhere.emplace_back(k.name);
      if (const std::string near = nearestKey(key, elsewhere); !near.empty()) {
        error(p,
              "unknown key " + quoted(key) + " " + placeName(scope) + ": did you mean " + quoted(near) + ", read " +
                  placeName(other) + "?",
              true);
        return;
      }
    }
    // npm's own keys share package.json with the configuration.
    if (scope == Scope::Project && f_.packageJson) return;
    warning(p, quoted(key) + " is not read by the shell (" + placeName(scope) + ")", true);
  }

  std::string fileName() const { return fs::path(f_.path).filename().string(); }

  // False when the value is unusable (so nothing below it is checked).
  bool checkKind(const config::Key& k, Kind kind, const nlohmann::json& v, const std::string& p) {
    const std::string what = displayPath(p);
    auto mustBe = [&](const std::string& noun) {
      error(p, what + " must be " + noun + ", not " + jsonTypeName(v));
      return false;
    };
    switch (kind) {
      case Kind::Boolean:
        if (v.is_boolean()) return true;
        if (v.is_number() || v.is_string()) {
          warning(p, what + " is " + jsonTypeName(v) + ", read as " + (jsonBoolValue(v) ? "true" : "false") +
                         "; write true or false");
          return true;
        }
        return mustBe("true or false");
      case Kind::Unsigned:
        if (v.is_number_unsigned()) return true;
        if (v.is_number_integer()) {
          warning(p, what + " is negative; it is read as the unsigned number " +
                         std::to_string(static_cast<uint64_t>(v.get<int64_t>())));
          return true;
        }
        if (v.is_number_float()) {
          warning(p, what + " is not a whole number; only its whole part counts");
          return true;
        }
        if (v.is_boolean()) {
          warning(p, what + " is a boolean, read as " + std::string(v.get<bool>() ? "1" : "0"));
          return true;
        }
        return mustBe(config::kindName(Kind::Unsigned));
      case Kind::Integer:
        if (v.is_number()) return true;
        return mustBe(config::kindName(Kind::Integer));
      case Kind::Text:
        if (!v.is_string()) return mustBe("text");
        if (!k.choices.empty() &&
            std::find(k.choices.begin(), k.choices.end(), v.get_ref<const std::string&>()) == k.choices.end()) {
          std::string list;
          for (auto choice : k.choices) list += (list.empty() ? "" : ", ") + quoted(std::string(choice));
          const std::string message = what + " is " + quoted(v.get<std::string>()) + ", which means nothing here (" +
                                      list + ")";
          if (k.name == "logLevel") warning(p, message);
          else error(p, message);
        }
        return true;
      case Kind::TextList:
        if (!v.is_array()) return mustBe("an array of texts");
        for (size_t i = 0; i < v.size(); ++i)
          if (!v[i].is_string())
            warning(p + "/" + std::to_string(i), displayPath(p + "/" + std::to_string(i)) + " is " +
                                                     jsonTypeName(v[i]) + ", not text; it is skipped");
        return true;
      case Kind::Size:
        try {
          sizePair(v);
          return true;
        } catch (const std::exception&) {
          return mustBe("[width, height] or \"{width, height}\"");
        }
      case Kind::Object:
        if (v.is_object()) return true;
        return mustBe("an object");
      case Kind::ObjectList:
        if (!v.is_array()) return mustBe("an array of objects");
        for (size_t i = 0; i < v.size(); ++i)
          if (!v[i].is_object())
            warning(p + "/" + std::to_string(i), displayPath(p + "/" + std::to_string(i)) + " is " +
                                                     jsonTypeName(v[i]) + ", not an object; it is skipped");
        return true;
      case Kind::TextMap:
        if (!v.is_object()) return mustBe("an object of texts");
        for (const auto& [name, value] : v.items())
          if (!value.is_string()) {
            const std::string q = p + "/" + JsonLocations::escape(name);
            error(q, displayPath(q) + " must be text, not " + jsonTypeName(value));
          }
        return true;
      case Kind::Any:
      case Kind::BoolOrUnsigned:
        return true;
    }
    return true;
  }

  void checkValue(const config::Key& k, const nlohmann::json& v, const std::string& p) {
    if (!checkKind(k, k.kind, v, p)) return;
    if (k.scope == Scope::Project && k.name == "AppExInfo") walkObject(v, p, Scope::AppExInfo);
    if (k.scope == Scope::Project && k.name == "Tasks")
      for (size_t i = 0; i < v.size(); ++i)
        if (v[i].is_object()) task(v[i], p + "/" + std::to_string(i));
    if (k.scope == Scope::AppExInfo && (k.name == "menuHideList" || k.name == "menuTitleList"))
      for (size_t i = 0; i < v.size(); ++i)
        if (v[i].is_object())
          walkObject(v[i], p + "/" + std::to_string(i), k.name == "menuHideList" ? Scope::MenuHide : Scope::MenuTitle);
  }

  void task(const nlohmann::json& t, const std::string& p) {
    walkObject(t, p, Scope::Task);
    const std::string type = t.value("taskType", std::string("exec_task"));
    if (type == "exec_task" && !t.contains("taskAppPath"))
      error(p, displayPath(p) + " is an exec_task without \"taskAppPath\": there is nothing to start");
    if ((type == "delete_file" || type == "delete_dir") && !t.contains("path"))
      error(p, displayPath(p) + " is a " + type + " task without \"path\"");
    const bool hasConditions = t.contains("conditions") && t["conditions"].is_array() && !t["conditions"].empty();
    const std::string combine = t.contains("conditionType") && t["conditionType"].is_string()
                                    ? t["conditionType"].get<std::string>()
                                    : "||";
    if (!hasConditions && combine == "||")
      warning(p, displayPath(p) +
                     " never runs: without conditions a task runs only with \"conditionType\": \"&&\"");
    if (!t.contains("conditions") || !t["conditions"].is_array()) return;
    const auto& conditions = t["conditions"];
    for (size_t i = 0; i < conditions.size(); ++i) {
      if (!conditions[i].is_object()) continue;
      const std::string q = p + "/conditions/" + std::to_string(i);
      walkObject(conditions[i], q, Scope::TaskCondition);
      const auto& cond = conditions[i];
      const std::string kind = cond.value("type", std::string("compare"));
      const std::string vp = q + "/value";
      if (cond.contains("value") && !cond["value"].is_null()) {
        const config::Key& value = *config::find(Scope::TaskCondition, "value");
        if (kind == "compare" && !cond["value"].is_number())
          error(vp, displayPath(vp) + " must be a number for a \"compare\" condition, not " +
                        jsonTypeName(cond["value"]) + " (the condition fails as if it were false)");
        else if (kind == "path_exist")
          checkKind(value, Kind::Boolean, cond["value"], vp);
      }
      if (kind == "compare" && !cond.contains("key"))
        error(q, displayPath(q) + " compares without \"key\": there is no build mark to compare");
      if (kind == "path_exist" && !cond.contains("path")) error(q, displayPath(q) + " tests no \"path\"");
    }
  }

  void appExInfo(const nlohmann::json& x) {
    // The messages above say it better when they found the fault.
    const size_t before = errorsBefore_;
    std::optional<LaunchSettings> settings;
    // The shell's own readers: whatever they refuse, the shell refuses.
    try {
      settings = readLaunchSettings(x, utils_);
    } catch (const std::exception& e) {
      if (c_.errorCount() == before) error("/AppExInfo", std::string("the shell cannot start with this: ") + e.what());
    }
    try {
      windowStylePlan(x);
      windowSizePlan(x);
      menuPlan(x, [this](const std::string& t) { return utils_.update_env_string(t); });
    } catch (const std::exception& e) {
      if (c_.errorCount() == before) error("/AppExInfo", std::string("the window cannot be set up: ") + e.what());
    }
    if (auto it = x.find("bridgeAllowedOrigins"); it != x.end() && it->is_array())
      for (size_t i = 0; i < it->size(); ++i)
        if ((*it)[i] == "*")
          warning("/AppExInfo/bridgeAllowedOrigins/" + std::to_string(i),
                  "\"*\" gives the bridge, and with it the user's files, to pages from every origin");
    if (!settings) return;
    server(x, *settings);
    startPage(*settings);
  }

  void server(const nlohmann::json& x, const LaunchSettings& s) {
    auto present = [&](const char* key) { return x.contains(key) && !x[key].is_null(); };
    if (!s.enableHttpServer) {
      for (const char* key : {"onlyBuildInServer", "serverPort", "serverListenAllInterfaces"})
        if (present(key))
          warning(std::string("/AppExInfo/") + key,
                  quoted(key) + " has no effect: the server is off (\"enableHttpServer\" is not true)", true);
    } else {
      if (s.onlyBuildInServer && present("startPage"))
        warning("/AppExInfo/startPage",
                "\"startPage\" is not used: with the built-in server the page is http://localhost:<port>/index.html "
                "(\"onlyBuildInServer\": false loads \"startPage\" with the port instead)",
                true);
      if (!s.onlyBuildInServer && !s.startPage)
        warning("/AppExInfo/onlyBuildInServer",
                "with \"onlyBuildInServer\" false the server only picks a port and stops; without \"startPage\" the "
                "bundle's public/index.html is shown as a file",
                true);
      if (!s.onlyBuildInServer && s.startPage && formatWithPort(*s.startPage, 1) == *s.startPage)
        warning("/AppExInfo/startPage",
                "\"startPage\" holds no conversion for the port (such as %d): the port taken is not used");
      if (s.serverPort > 0xFFFF)
        warning("/AppExInfo/serverPort",
                "only the low 16 bits of \"serverPort\" count: " + std::to_string(s.serverPort) +
                    (s.port() ? " listens on port " + std::to_string(s.port()) : std::string(" lets the system choose")));
      else if (s.port() > 0 && s.port() < 1024)
        warning("/AppExInfo/serverPort", "ports below 1024 need privileges: the server would not start");
      if (s.serverListenAllInterfaces)
        warning("/AppExInfo/serverListenAllInterfaces",
                "the server listens on every network interface: other computers can load the application's files");
    }
    if (present("userSpecPublic") && !s.enableSpecPublic)
      warning("/AppExInfo/userSpecPublic", "\"userSpecPublic\" is not used while \"enableSpecPublic\" is not true",
              true);
    if (s.enableSpecPublic && s.userSpecPublic.empty())
      warning("/AppExInfo/enableSpecPublic", "\"enableSpecPublic\" is true but \"userSpecPublic\" is empty", true);
  }

  // The page the window would load: it must exist.
  void startPage(const LaunchSettings& s) {
    const std::string publicFolder = bundlePublicFolder(utils_);
    if (s.enableHttpServer && s.onlyBuildInServer) {
      const std::string root = serverDocumentRoot(s, publicFolder);
      if (!isFile(root + "/index.html"))
        c_.error(f_.path, {}, "the server's document root " + root + " has no index.html: the page would be \"not found\"");
      return;
    }
    if (s.enableHttpServer && s.startPage) return;  // an address with the port
    const std::string page = startPageString(s, std::nullopt);
    const auto uri = resolveStartPageUri(page, utils_.bundle().resourcePath());
    if (!uri) {
      c_.error(f_.path, valueAt("/AppExInfo/startPage"),
               "the start page " + quoted(page) + " is neither a file of the bundle nor an address");
      return;
    }
    if (uri->rfind("file:", 0) != 0) return;
    std::string file = uri->substr(0, uri->find_first_of("?#"));
    gchar* path = g_filename_from_uri(file.c_str(), nullptr, nullptr);
    if (!path) return;
    const std::string local = path;
    g_free(path);
    if (!isFile(local)) c_.error(f_.path, valueAt("/AppExInfo/startPage"), "the start page " + local + " does not exist");
  }

  Checker& c_;
  ConfigFile& f_;
  const Utils& utils_;
  size_t errorsBefore_ = 0;
};

// public/ian.json, when there is one: the list of other configuration files.
void checkBootStrap(Checker& c, const Utils& utils) {
  const std::string path = utils.bundle().resourcePath() + "/public/ian.json";
  if (!isFile(path)) return;
  const std::string text = readFile(path);
  std::string why;
  auto value = parseJsonText(text, &why);
  if (!value || !value->is_object()) {
    c.warning(path, {}, "is not read: " + (value ? "the top level is " + jsonTypeName(*value) + ", not an object" : why));
    return;
  }
  JsonLocations places(text);
  for (const auto& [key, v] : value->items()) {
    const std::string p = "/" + JsonLocations::escape(key);
    if (key != "BootStrapList") {
      const std::string near = nearestKey(key, {"BootStrapList"});
      if (!near.empty()) c.error(path, places.key(p), "unknown key " + quoted(key) + ": did you mean \"BootStrapList\"?");
      continue;
    }
    if (!v.is_array()) {
      c.error(path, places.value(p), "\"BootStrapList\" must be an array of paths, not " + jsonTypeName(v));
      continue;
    }
    for (size_t i = 0; i < v.size(); ++i)
      if (!v[i].is_string() || v[i].get<std::string>().empty())
        c.warning(path, places.value(p + "/" + std::to_string(i)), "entry " + std::to_string(i) + " is skipped: not a path");
      else if (!utils.readConfigFile(utils.bootStrapCandidatePath(v[i].get<std::string>())))
        c.warning(path, places.value(p + "/" + std::to_string(i)),
                  quoted(v[i].get<std::string>()) + " names no readable JSON object: it is skipped");
  }
}

TextPlace placeInMessage(const std::string& message) {
  static const std::regex at("line ([0-9]+), column ([0-9]+)");
  std::smatch m;
  if (!std::regex_search(message, m, at)) return {};
  return {std::stoul(m[1]), std::stoul(m[2])};
}

void checkMainConfiguration(Checker& c, const Utils& utils) {
  // No configuration by design: every key takes its default.
  if (utils.getEnableNoFindMainConfigForApp()) return;
  checkBootStrap(c, utils);
  const MainConfigSearch search = utils.findMainConfigFile();
  if (!search.file) {
    c.error(utils.bundle().resourcePath() + "/public/project.json", {},
            "no main configuration: neither public/project.json nor public/package.json exists, so the application "
            "would end at once (exit status 72)");
    return;
  }
  ConfigFile f;
  f.path = *search.file;
  f.packageJson = fs::path(f.path).filename() == "package.json";
  f.text = readFile(f.path);
  std::string why;
  auto value = parseJsonText(f.text, &why);
  if (!value) {
    c.error(f.path, placeInMessage(why), why + " (the application would end at once, exit status 72)");
    return;
  }
  if (!value->is_object()) {
    c.error(f.path, {1, 1}, "the top level is " + jsonTypeName(*value) + ", not an object (exit status 72)");
    return;
  }
  f.value = std::move(*value);
  f.places = std::make_unique<JsonLocations>(f.text);
  ConfigChecker(c, f, utils).run();
}

// The shell's own lines (the process facts, "(...) not exist.") are not
// the kit's output.
struct QuietLog {
  spdlog::level::level_enum before = log().level();
  QuietLog() { log().set_level(spdlog::level::off); }
  ~QuietLog() { log().set_level(before); }
};

}  // namespace

CheckReport checkBundle(const std::string& bundlePath) {
  CheckReport report;
  Checker c(report);
  std::string path = bundlePath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!isFolder(path) || !isFolder(path + "/Contents")) {
    report.notABundle = true;
    c.error(path, {}, isFolder(path) ? "no Contents folder: not an application bundle (Name.app/Contents/...)"
                                     : "no such folder");
    return report;
  }
  QuietLog quiet;
  std::string why;
  auto bundle = Bundle::open(path, &why);
  if (!bundle) {
    c.error(path + "/Contents/Info.plist", {}, why);
    return report;
  }
  checkInfoPlist(c, *bundle, path + "/Contents/Info.plist");
  const Utils utils(*bundle);
  checkMainConfiguration(c, utils);
  // Files as the person named the bundle, findings in the order of the
  // lines of each file.
  const std::string opened = bundle->bundlePath();
  std::vector<std::string> files;
  for (auto& f : report.findings) {
    if (f.file.rfind(opened + "/", 0) == 0) f.file = path + f.file.substr(opened.size());
    if (std::find(files.begin(), files.end(), f.file) == files.end()) files.push_back(f.file);
  }
  auto rank = [&files](const Finding& f) {
    return std::make_tuple(std::find(files.begin(), files.end(), f.file) - files.begin(), f.place.line, f.place.column);
  };
  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [&](const Finding& a, const Finding& b) { return rank(a) < rank(b); });
  return report;
}

int runCheck(const KitInvocation& call) {
  if (call.args.size() != 1 || call.args.front().empty() || call.args.front()[0] == '-') {
    call.err << "Usage: corvane-kit check Name.app\n";
    return kUsage;
  }
  const CheckReport report = checkBundle(call.args.front());
  for (const auto& f : report.findings) call.out << formatFinding(f) << "\n";
  if (report.notABundle) return kUsage;
  const size_t errors = report.errors(), warnings = report.warnings();
  call.out << call.args.front() << ": " << errors << (errors == 1 ? " error, " : " errors, ") << warnings
           << (warnings == 1 ? " warning" : " warnings") << "\n";
  return errors ? kFailed : kOk;
}

}  // namespace corvane::kit
