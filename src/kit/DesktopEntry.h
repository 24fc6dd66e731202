#pragma once
// The desktop's files about an application: its desktop entry (written
// with GKeyFile, so every value is escaped by the freedesktop.org Desktop
// Entry rules) and the shared-mime-info declaration of the
// document types that have no MIME type elsewhere.
#include "kit/AppMetadata.h"

#include <string>

namespace corvane::kit {

// The entry for /usr/share/applications/<identifier>.desktop; `command`
// is what Exec starts: the package's launcher on the PATH, a package name. `withIcon`: the package
// installs an icon named after the identifier.
std::string desktopEntryText(const AppMetadata& app, const std::string& command, bool withIcon);

// The XML for /usr/share/mime/packages/<identifier>.xml, empty when every
// document type has a MIME type of its own elsewhere.
std::string mimeInfoXml(const AppMetadata& app);

// Every MIME type the application opens, in document-type order, once.
std::vector<std::string> openedMimeTypes(const AppMetadata& app);

}  // namespace corvane::kit
