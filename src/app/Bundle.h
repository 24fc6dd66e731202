#pragma once
// The application bundle: <Name>.app/Contents/{Info.plist,Resources,PlugIns,MacOS}.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace corvane {

class Bundle {
 public:
  // Opens the bundle at `path` (the <Name>.app folder). Answers nullopt when
  // the folder or its Info.plist is missing or unreadable; `error` says which.
  static std::optional<Bundle> open(const std::string& path, std::string* error = nullptr);

  // The bundle that holds `executable` in its Contents/MacOS folder, if any.
  static std::optional<std::string> containingBundle(const std::string& executable);

  // The process's main bundle, set once at start (or by tests).
  static const Bundle& main();
  static bool hasMain();
  static void setMain(Bundle bundle);

  Bundle(std::string path, nlohmann::json info);

  const std::string& bundlePath() const { return path_; }
  std::string contentsPath() const { return path_ + "/Contents"; }
  std::string resourcePath() const { return path_ + "/Contents/Resources"; }
  std::string builtInPlugInsPath() const { return path_ + "/Contents/PlugIns"; }
  std::string executableFolder() const { return path_ + "/Contents/MacOS"; }
  const nlohmann::json& infoDictionary() const { return info_; }

  // The identifier the application runs under (its single instance, its
  // user defaults, its login item): "CFBundleIdentifier", or for a bundle
  // without one an identifier derived from where the bundle is,
  // "corvane.unidentified.<folder name>-<12 hex digits of the MD5 of the
  // bundle's absolute path>". It stays the same while the bundle stays at
  // its path; two bundles without identifier never share it.
  std::string identifier() const;

  // The information-dictionary value as text ("(null)" when missing, as
  // formatting a missing value gives), numbers and booleans as their text.
  std::string infoText(const std::string& key) const;
  // The value when it is a boolean or a number; text counts as true when it
  // starts with Y, y, T, t or 1-9.
  bool infoBool(const std::string& key) const;

  // Finds `name` (with `type` appended as extension when not empty) in the
  // resource folder's `subdir`. Answers nullopt when no such file exists.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type,
                                             const std::string& subdir) const;

 private:
  std::string path_;
  nlohmann::json info_;
};

// An information-dictionary text that stands for nothing: empty, or "(null)"
// (what formatting a missing value gives).
bool isAbsentText(const std::string& text);
// A bundle identifier as one file name, the only way any file or folder is
// named from an identifier (user defaults, website data, caches, the
// autostart entry): "corvane.default" when absent; "/", NUL and control
// characters become "_"; "." and ".." (which name the folder itself or its
// parent) become "_." and "_.."; and it is short enough for any suffix the
// stores add: an identifier of more than 100 bytes keeps its first 64 bytes
// (whole UTF-8 characters) followed by "-" and 32 hex digits of its
// SHA-256. Ordinary identifiers keep their own text.
std::string identifierFileName(const std::string& identifier);

// "Y", "y", "T", "t" or a digit 1-9 at the start: the platform's text-to-bool rule.
bool textBoolValue(const std::string& text);
// A JSON value read as boolean by the same rules (numbers: non-zero).
bool jsonBoolValue(const nlohmann::json& value, bool fallback = false);

}  // namespace corvane
