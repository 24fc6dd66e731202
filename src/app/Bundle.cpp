#include "app/Bundle.h"

#include "app/InfoPlist.h"

#include <glib.h>

#include <filesystem>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace corvane {
namespace {

std::mutex& mainMutex() {
  static std::mutex m;
  return m;
}
std::unique_ptr<Bundle>& mainSlot() {
  static std::unique_ptr<Bundle> b;
  return b;
}

}  // namespace

bool isAbsentText(const std::string& text) { return text.empty() || text == "(null)"; }

namespace {

std::string checksum(GChecksumType type, const std::string& text) {
  gchar* hex = g_compute_checksum_for_data(type, reinterpret_cast<const guchar*>(text.data()), text.size());
  std::string out = hex;
  g_free(hex);
  return out;
}

}  // namespace

std::string identifierFileName(const std::string& identifier) {
  constexpr size_t kLongest = 100, kKept = 64;
  std::string id = isAbsentText(identifier) ? "corvane.default" : identifier;
  if (id.size() > kLongest) {
    size_t cut = kKept;
    while (cut > 0 && (static_cast<unsigned char>(id[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    id = id.substr(0, cut) + "-" + checksum(G_CHECKSUM_SHA256, identifier).substr(0, 32);
  }
  for (char& c : id) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7f) c = '_';
  }
  // Joined to a folder these would name the folder or its parent.
  if (id == "." || id == "..") id = "_" + id;
  return id;
}

std::string Bundle::identifier() const {
  const std::string declared = infoText("CFBundleIdentifier");
  if (!isAbsentText(declared)) return declared;
  std::string name = fs::path(path_).stem().string();
  for (char& c : name)
    if (!g_ascii_isalnum(c) && c != '_' && c != '-') c = '_';
  if (name.size() > 40) name.resize(40);
  return "corvane.unidentified." + name + "-" + checksum(G_CHECKSUM_MD5, path_).substr(0, 12);
}

bool textBoolValue(const std::string& text) {
  if (text.empty()) return false;
  const char c = text.front();
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool jsonBoolValue(const nlohmann::json& value, bool fallback) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0.0;
  if (value.is_string()) return textBoolValue(value.get<std::string>());
  return fallback;
}

Bundle::Bundle(std::string path, nlohmann::json info)
    : path_(std::move(path)), info_(std::move(info)) {
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
}

std::optional<Bundle> Bundle::open(const std::string& path, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(path, ec)) {
    if (error) *error = "no application bundle at " + path;
    return std::nullopt;
  }
  const std::string plistPath = path + "/Contents/Info.plist";
  std::string why;
  auto info = readPropertyList(plistPath, &why);
  if (!info || !info->is_object()) {
    if (error) *error = "cannot read " + plistPath + (why.empty() ? "" : ": " + why);
    return std::nullopt;
  }
  return Bundle(fs::absolute(path, ec).lexically_normal().string(), std::move(*info));
}

std::optional<std::string> Bundle::containingBundle(const std::string& executable) {
  std::error_code ec;
  fs::path exe = fs::weakly_canonical(executable, ec);
  if (ec) return std::nullopt;
  fs::path macos = exe.parent_path();
  fs::path contents = macos.parent_path();
  if (macos.filename() != "MacOS" || contents.filename() != "Contents") return std::nullopt;
  fs::path bundle = contents.parent_path();
  if (!fs::is_regular_file(contents / "Info.plist", ec)) return std::nullopt;
  return bundle.string();
}

const Bundle& Bundle::main() {
  std::lock_guard lock(mainMutex());
  auto& slot = mainSlot();
  // A process without a bundle (a unit test) gets an empty one rooted at
  // the working folder rather than a crash.
  if (!slot) slot = std::make_unique<Bundle>(fs::current_path().string(), nlohmann::json::object());
  return *slot;
}

bool Bundle::hasMain() {
  std::lock_guard lock(mainMutex());
  return mainSlot() != nullptr;
}

void Bundle::setMain(Bundle bundle) {
  std::lock_guard lock(mainMutex());
  mainSlot() = std::make_unique<Bundle>(std::move(bundle));
}

std::string Bundle::infoText(const std::string& key) const {
  auto it = info_.find(key);
  if (it == info_.end() || it->is_null()) return "(null)";
  if (it->is_string()) return it->get<std::string>();
  if (it->is_boolean()) return it->get<bool>() ? "1" : "0";
  return it->dump();
}

bool Bundle::infoBool(const std::string& key) const {
  auto it = info_.find(key);
  return it != info_.end() && jsonBoolValue(*it);
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type,
                                                   const std::string& subdir) const {
  if (name.empty()) return std::nullopt;
  fs::path p = fs::path(resourcePath());
  if (!subdir.empty()) p /= subdir;
  p /= type.empty() ? name : name + "." + type;
  std::error_code ec;
  if (!fs::exists(p, ec)) return std::nullopt;
  return p.lexically_normal().string();
}

}  // namespace corvane
