#pragma once
// What corvane-kit's packages say about an application, read from its
// bundle's Info.plist with the shell's own bundle code. Every key it reads
// is listed in docs/packaging.md with what it becomes.
#include "app/Bundle.h"
#include "app/BundleIcon.h"

#include <optional>
#include <string>
#include <vector>

namespace corvane::kit {

struct DocumentType {
  std::string name;                     // CFBundleTypeName
  std::vector<std::string> extensions;  // without the dot; "*" is left out
  std::vector<std::string> mimeTypes;   // declared, or known for its content types
  // No MIME type was declared or known: the package declares mimeTypes[0]
  // itself (shared-mime-info), with globs of the extensions.
  bool ownMimeType = false;
};

struct Release {
  std::string version;  // CFBundleShortVersionString of that release
  std::string date;     // YYYY-MM-DD
  std::string description;
};

// A helper service the bundle ships: Contents/XPCServices/<X>.xpc.
struct HelperService {
  std::string name;        // its CFBundleIdentifier: the D-Bus name
  std::string executable;  // relative to the bundle folder
};

struct AppMetadata {
  std::string bundleFolder;  // "Showcase.app"
  std::string identifier;    // desktop entry name, application id, window class
  std::string package;       // the Debian package name
  std::string name, genericName, summary, description;
  std::string shortVersion, buildVersion, version;  // version: the package's
  std::string executable;                           // Contents/MacOS/<executable>
  std::optional<BundleIconFile> icon;
  std::vector<std::string> categories;  // desktop entry categories
  std::string section;                  // Debian section
  std::vector<std::string> keywords;
  std::vector<DocumentType> documentTypes;
  std::string copyright, license, metadataLicense, homepage, maintainer, developerName;
  std::vector<Release> releases;  // newest first; the first is this version
  std::vector<HelperService> helpers;
};

struct MetadataReport {
  std::vector<std::string> errors;    // the package cannot be made
  std::vector<std::string> warnings;  // it can, but the person should know
};

// Reads the bundle; nullopt when `report.errors` is not empty. The
// maintainer falls back to $DEBFULLNAME <$DEBEMAIL> (or $NAME, $EMAIL) as
// Debian's own tools do; the release date to $SOURCE_DATE_EPOCH, else today.
// `needMaintainer`: the Debian package's Maintainer field is required.
std::optional<AppMetadata> readAppMetadata(const Bundle& bundle, MetadataReport& report, bool needMaintainer = true);

// The program's name in the bundle's Contents/MacOS: "CFBundleExecutable",
// else the bundle folder's name without ".app".
std::string executableName(const Bundle& bundle);

// The desktop categories and Debian section for an LSApplicationCategoryType
// value ("public.app-category.developer-tools"); nullopt for an unknown one.
struct CategoryMapping {
  std::vector<std::string> categories;
  std::string section;
};
std::optional<CategoryMapping> mapApplicationCategory(const std::string& type);

// The MIME type of a well-known content type identifier ("public.png"),
// empty for others.
std::string mimeTypeForContentType(const std::string& uti);

}  // namespace corvane::kit
