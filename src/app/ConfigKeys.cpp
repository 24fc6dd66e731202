#include "app/ConfigKeys.h"

namespace corvane::config {

namespace {

using S = Scope;
using K = Kind;

}  // namespace

const std::vector<Key>& keys() {
  // clang-format off
  static const std::vector<Key> table = {
    // ---- main configuration, top level ----
    {S::Project, "$schema", K::Text, "", {}, "the JSON Schema editors check the file against; the shell ignores it"},
    {S::Project, "AppExInfo", K::Object, "", {}, "the application's settings: server, start page, window, menus, addresses"},
    {S::Project, "Tasks", K::ObjectList, "", {}, "start-up tasks run before the main window is built"},
    {S::Project, "enableDeveloperDebug", K::Boolean, "false", {}, "turns on the web view's developer tools (View > Developer Tools)"},
    {S::Project, "EnableIAP", K::Boolean, "false", {}, "answered by app.getIAPEnable()"},
    {S::Project, "logLevel", K::Text, "debug", {"trace", "debug", "info", "warn", "error", "critical", "off", "verbose", "quiet"},
     "how much the shell logs on stderr; CORVANE_LOG_LEVEL overrides it"},

    // ---- "AppExInfo": launch, server and start page ----
    {S::AppExInfo, "enableHttpServer", K::Boolean, "false", {}, "serve the web UI folder from the shell's own HTTP server"},
    {S::AppExInfo, "onlyBuildInServer", K::Boolean, "true", {}, "true: load http://localhost:<port>/index.html; false: take the port, stop the server, load \"startPage\" with the port"},
    {S::AppExInfo, "serverPort", K::Unsigned, "0", {}, "the server's port (low 16 bits); 0 keeps the last start's port, else a stable one per identifier"},
    {S::AppExInfo, "serverListenAllInterfaces", K::Boolean, "false", {}, "listen on every network interface (and announce the server) instead of loopback only"},
    {S::AppExInfo, "startPage", K::Text, "public/index.html", {}, "the first page: a path in the resource folder or a URL; a port format when \"onlyBuildInServer\" is false"},
    {S::AppExInfo, "enableSpecPublic", K::Boolean, "false", {}, "use \"userSpecPublic\" for the server's document root and the start page"},
    {S::AppExInfo, "userSpecPublic", K::Text, "", {}, "a folder, file or URL (placeholders expanded) used when \"enableSpecPublic\" is true"},
    {S::AppExInfo, "bridgeAllowedOrigins", K::TextList, "", {}, "further origins whose pages get the bridge (\"*\": every origin)"},
    {S::AppExInfo, "enableShouldTerminateAfterLastWindowClosed", K::Boolean, "false", {}, "quit when the last window closes"},
    {S::AppExInfo, "preferNativeWayland", K::Boolean, "false", {}, "run as a native Wayland client instead of through XWayland"},

    // ---- "AppExInfo": window style ----
    {S::AppExInfo, "hasTitleBar", K::Boolean, "", {}, "false: no title bar and no frame"},
    {S::AppExInfo, "hasShadow", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hasTextured", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hasUnifiedTitleAndToolbarWindow", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hasCloseControls", K::Boolean, "", {}, "false: the window cannot be closed and shows no close button"},
    {S::AppExInfo, "hasMinimizeControls", K::Boolean, "", {}, "false: no minimize button"},
    {S::AppExInfo, "hasResizeControls", K::Boolean, "", {}, "false: the window cannot be resized (and shows no close button)"},
    {S::AppExInfo, "hasToolbarButtonControls", K::Boolean, "", {}, "whether the window can be closed"},
    {S::AppExInfo, "hideCloseButton", K::Boolean, "", {}, "hide (true) or show (false) the close button"},
    {S::AppExInfo, "hideMiniaturizeButton", K::Boolean, "", {}, "hide or show the minimize button"},
    {S::AppExInfo, "hideZoomButton", K::Boolean, "", {}, "hide or show the maximize button"},
    {S::AppExInfo, "hideToolbarButton", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hideDocumentIconButton", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hideDocumentVersionsButton", K::Boolean, "", {}, "no effect on Linux"},
    {S::AppExInfo, "hideFullScreenButton", K::Boolean, "", {}, "false: a full-screen button in the title bar; true: none"},
    {S::AppExInfo, "contentAspectRatio", K::Size, "", {}, "keep the page's width to height ratio while resizing"},
    {S::AppExInfo, "autoOffset", K::Boolean, "false", {}, "heights of the size keys are the content's: the title bar is added"},
    {S::AppExInfo, "maxSize", K::Size, "", {}, "the window's largest size"},
    {S::AppExInfo, "minSize", K::Size, "", {}, "the window's smallest size"},
    {S::AppExInfo, "size", K::Size, "", {}, "the window's size at start"},
    {S::AppExInfo, "windowTitleFromPage", K::Boolean, "false", {}, "windows show their page's document.title instead of the application's name"},

    // ---- "AppExInfo": menus ----
    {S::AppExInfo, "menuHideList", K::ObjectList, "", {}, "main-menu items to hide or show, by tag"},
    {S::AppExInfo, "menuTitleList", K::ObjectList, "", {}, "main-menu items to retitle, by tag"},
    {S::MenuHide, "tag", K::Integer, "-9999", {}, "the item's tag (see the menu reference)"},
    {S::MenuHide, "hide", K::Boolean, "true", {}, "hide (true) or show (false) the item"},
    {S::MenuTitle, "tag", K::Integer, "-9999", {}, "the item's tag"},
    {S::MenuTitle, "title", K::Text, "", {}, "the new title (placeholders expanded)"},
    {S::MenuTitle, "method", K::Text, "rp", {"rp", "p+", "+s", "re"}, "rp replace, p+ prefix, +s suffix, re expand the old title's placeholders"},

    // ---- "AppExInfo": the maker's addresses and the rate reminder ----
    {S::AppExInfo, "HomePageURL", K::Text, "", {}, "answered by app.getHomePageURL()"},
    {S::AppExInfo, "DocumentPageURL", K::Text, "", {}, "answered by app.getDocumentPageURL()"},
    {S::AppExInfo, "RoadmapPageURL", K::Text, "", {}, "answered by app.getRoadmapPageURL()"},
    {S::AppExInfo, "ReportIssuePageURL", K::Text, "", {}, "answered by app.getReportIssuePageURL()"},
    {S::AppExInfo, "ViewLicensePageURL", K::Text, "", {}, "answered by app.getViewLicensePageURL()"},
    {S::AppExInfo, "ReleaseNotesPageURL", K::Text, "", {}, "answered by app.getReleaseNotesPageURL()"},
    {S::AppExInfo, "CheckForUpdatePageURL", K::Text, "", {}, "answered by app.getCheckForUpdatePageURL()"},
    {S::AppExInfo, "FAQURL", K::Text, "", {}, "answered by app.getFAQURL()"},
    {S::AppExInfo, "BuyURL", K::Text, "", {}, "answered by app.getBuyURL()"},
    {S::AppExInfo, "enableNativeRate", K::Boolean, "false", {}, "run the rate-app reminder"},
    {S::AppExInfo, "DebugServerAddress", K::Text, "http://192.168.1.2:8080", {}, "the rate reminder's server when Info.plist \"EnableUseDebugHost\" is true"},
    {S::AppExInfo, "ReleaseServerAddress", K::Text, "https://corvane.app", {}, "the rate reminder's server"},

    // ---- start-up tasks ----
    {S::Task, "index", K::Unsigned, "0", {}, "run order, ascending"},
    {S::Task, "id", K::Any, "", {}, "shown in log lines"},
    {S::Task, "descript", K::Any, "", {}, "shown in log lines"},
    {S::Task, "conditions", K::ObjectList, "", {}, "tested before the task runs"},
    {S::Task, "conditionType", K::Text, "||", {"||", "&&"}, "|| runs when any condition holds, && when all do"},
    {S::Task, "taskType", K::Text, "exec_task", {"exec_task", "delete_file", "delete_dir"}, "what the task does"},
    {S::Task, "taskAppPath", K::Text, "", {}, "exec_task: the program (placeholders expanded)"},
    {S::Task, "command", K::TextList, "", {}, "exec_task: its arguments (placeholders expanded)"},
    {S::Task, "environmentDic", K::TextMap, "", {}, "exec_task: its whole environment, when not empty"},
    {S::Task, "currentDirectoryPath", K::Text, "", {}, "exec_task: its working folder (placeholders expanded)"},
    {S::Task, "waitUntilExit", K::Boolean, "false", {}, "exec_task: wait for the program to end"},
    {S::Task, "path", K::Text, "", {}, "delete_file, delete_dir: what to delete (placeholders expanded)"},
    {S::TaskCondition, "type", K::Text, "compare", {"compare", "path_exist"}, "the kind of test"},
    {S::TaskCondition, "key", K::Text, "", {}, "compare: the user-defaults key holding the last build mark"},
    {S::TaskCondition, "op", K::Text, "", {">", "<", ">=", "<=", "==", "!="}, "compare: stored mark OP this build's mark"},
    {S::TaskCondition, "value", K::BoolOrUnsigned, "0 / false", {}, "compare: a number appended to the build version; path_exist: whether the path must exist"},
    {S::TaskCondition, "path", K::Text, "", {}, "path_exist: the path to test (placeholders expanded)"},

    // ---- public/ian.json ----
    {S::BootStrap, "BootStrapList", K::TextList, "", {}, "paths tried, in order, for the main configuration"},

    // ---- Info.plist ----
    {S::InfoPlist, "CFBundleIdentifier", K::Text, "", {}, "the application's identifier (reverse DNS): its instance, settings and website data"},
    {S::InfoPlist, "CFBundleName", K::Text, "", {}, "the application's name"},
    {S::InfoPlist, "CFBundleDisplayName", K::Text, "", {}, "the name shown to people (before \"CFBundleName\")"},
    {S::InfoPlist, "CFBundleExecutable", K::Text, "", {}, "the executable in Contents/MacOS; the name when the two above are missing"},
    {S::InfoPlist, "CFBundleShortVersionString", K::Text, "", {}, "the version people see (app.getAppVersion())"},
    {S::InfoPlist, "CFBundleVersion", K::Text, "", {}, "the build version (app.getAppBuildVersion(), start-up task marks)"},
    {S::InfoPlist, "CFBundleIconFile", K::Text, "", {}, "the icon, a file in Contents/Resources"},
    {S::InfoPlist, "LSApplicationCategoryType", K::Text, "", {}, "the application's category"},
    {S::InfoPlist, "NSHumanReadableCopyright", K::Text, "", {}, "answered by app.copyright()"},
    {S::InfoPlist, "ZavrelonAppNotes", K::Text, "", {}, "answered by app.notes()"},
    {S::InfoPlist, "CFZavrelonSpecPublicDirectory", K::Text, "", {}, "another web UI folder (placeholders expanded), used when it exists"},
    {S::InfoPlist, "CFBundleAppleEnableNoFindMainConfigForApp", K::Boolean, "false", {}, "run without any main configuration"},
    {S::InfoPlist, "EnableUseDebugHost", K::Boolean, "false", {}, "the rate reminder asks \"DebugServerAddress\""},
    {S::InfoPlist, "homePageURL", K::Text, "", {}, "the maker's home page"},
    {S::InfoPlist, "documentPageURL", K::Text, "", {}, "the documentation's address"},
    {S::InfoPlist, "updateURL", K::Text, "", {}, "where updates are announced"},
    {S::InfoPlist, "reviewURL", K::Text, "", {}, "where people review the application"},
    {S::InfoPlist, "FAQURL", K::Text, "", {}, "the FAQ's address"},
    {S::InfoPlist, "BuyURL", K::Text, "", {}, "where to buy the application"},
    // Read by `corvane-kit package` (docs/packaging.md); the shell reads
    // the document types' icons for other applications' facts.
    {S::InfoPlist, "CFBundleDocumentTypes", K::ObjectList, "", {}, "the document types the application opens: MIME types and file name extensions for the desktop"},
    {S::InfoPlist, "CorvaneSummary", K::Text, "", {}, "packaging: a one-line summary"},
    {S::InfoPlist, "CorvaneDescription", K::Text, "", {}, "packaging: the long description (paragraphs, lists)"},
    {S::InfoPlist, "CorvaneGenericName", K::Text, "", {}, "packaging: the desktop entry's GenericName"},
    {S::InfoPlist, "CorvaneKeywords", K::TextList, "", {}, "packaging: search keywords"},
    {S::InfoPlist, "CorvaneLicense", K::Text, "", {}, "packaging: the licence, an SPDX expression"},
    {S::InfoPlist, "CorvaneMetadataLicense", K::Text, "FSFAP", {}, "packaging: the licence of the AppStream metadata"},
    {S::InfoPlist, "CorvaneMaintainer", K::Text, "", {}, "packaging: \"Name <address>\" of the package's maintainer"},
    {S::InfoPlist, "CorvaneDeveloperName", K::Text, "", {}, "packaging: the developer's name in AppStream"},
    {S::InfoPlist, "CorvaneReleaseDate", K::Text, "", {}, "packaging: this release's date, YYYY-MM-DD"},
    {S::InfoPlist, "CorvaneReleaseNotes", K::Text, "", {}, "packaging: this release's description"},
    {S::InfoPlist, "CorvaneReleases", K::ObjectList, "", {}, "packaging: earlier releases (version, date, description)"},
    {S::InfoPlist, "CorvaneFlatpakFinishArgs", K::TextList, "", {}, "packaging: more Flatpak finish-args"},
    {S::DocumentType, "CFBundleTypeName", K::Text, "", {}, "the document type's name"},
    {S::DocumentType, "CFBundleTypeExtensions", K::TextList, "", {}, "file name extensions of the type"},
    {S::DocumentType, "CFBundleTypeMIMETypes", K::TextList, "", {}, "MIME types of the type"},
    {S::DocumentType, "LSItemContentTypes", K::TextList, "", {}, "content type identifiers; well-known ones become MIME types"},
    {S::DocumentType, "CFBundleTypeIconFile", K::Text, "", {}, "the type's icon, a file in Contents/Resources (also the application's icon when it has none)"},
  };
  // clang-format on
  return table;
}

const Key* find(Scope scope, std::string_view name) {
  for (const Key& k : keys())
    if (k.scope == scope && k.name == name) return &k;
  return nullptr;
}

std::vector<std::string> misplacedKeys(const nlohmann::json& config) {
  std::vector<std::string> out;
  if (!config.is_object()) return out;
  auto check = [&out](const nlohmann::json& object, Scope here, Scope there, const char* where, const char* belongs) {
    for (const auto& [key, value] : object.items())
      if (!find(here, key) && find(there, key))
        out.push_back("\"" + key + "\" " + where + " is not read: it belongs " + belongs);
  };
  check(config, Scope::Project, Scope::AppExInfo, "at the top level of the main configuration", "inside \"AppExInfo\"");
  if (auto it = config.find("AppExInfo"); it != config.end() && it->is_object())
    check(*it, Scope::AppExInfo, Scope::Project, "inside \"AppExInfo\"", "at the top level of the main configuration");
  return out;
}

std::string scopeName(Scope scope) {
  switch (scope) {
    case Scope::Project: return "the top level";
    case Scope::AppExInfo: return "\"AppExInfo\"";
    case Scope::Task: return "a start-up task";
    case Scope::TaskCondition: return "a task condition";
    case Scope::MenuHide: return "a \"menuHideList\" entry";
    case Scope::MenuTitle: return "a \"menuTitleList\" entry";
    case Scope::BootStrap: return "ian.json";
    case Scope::InfoPlist: return "Info.plist";
    case Scope::DocumentType: return "a \"CFBundleDocumentTypes\" entry";
  }
  return "";
}

std::string kindName(Kind kind) {
  switch (kind) {
    case Kind::Boolean: return "a boolean";
    case Kind::Unsigned: return "a whole number (0 or more)";
    case Kind::Integer: return "a whole number";
    case Kind::Text: return "text";
    case Kind::TextList: return "an array of texts";
    case Kind::Size: return "[width, height]";
    case Kind::Object: return "an object";
    case Kind::ObjectList: return "an array of objects";
    case Kind::TextMap: return "an object of texts";
    case Kind::Any: return "any value";
    case Kind::BoolOrUnsigned: return "a number or a boolean";
  }
  return "";
}

}  // namespace corvane::config
