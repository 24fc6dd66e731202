#pragma once
// The format box of the open and save dialogs, decided without a display:
// the extension list and the description shown for each entry. Entry i
// restricts the dialog to extension i; an entry without an extension at its
// position ("All Files(.*)", surplus descriptions) or with a wildcard
// extension restricts nothing. Before the person picks an entry, the open
// dialog shows every listed type: the chooser has no state between "no
// pick" and an entry, so that is an entry of its own, listed first.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct FormatBox {
  std::vector<std::string> extensions;    // curSaveOpenTypes
  std::vector<std::string> descriptions;  // the entries, in order
  // openFile only: the lists differ in length (the "API Use Warning").
  bool countMismatch = false;
  // openFile only: the dialog starts on an entry that allows the whole list.
  bool startsWithWholeList = false;
};

// One entry of the chooser's type list: its name and the extensions it
// shows (empty: every file).
struct FormatEntry {
  std::string name;
  std::vector<std::string> extensions;
  bool operator==(const FormatEntry&) const = default;
};

// "fileTypes" (wins) or "types": a text counts as a one-element list.
std::vector<std::string> allowedTypes(const nlohmann::json& params);
// "fileTypesDescription" (wins) or "typesDescript", when it is an array.
std::optional<nlohmann::json> typeDescriptions(const nlohmann::json& params);
// "*", ".*" and "*.*" mean every file.
bool isAnyType(const std::string& extension);
bool hasAnyType(const std::vector<std::string>& extensions);

FormatBox openFormatBox(std::vector<std::string> extensions, const std::optional<nlohmann::json>& descriptions);
FormatBox saveFormatBox(std::vector<std::string> extensions, const std::optional<nlohmann::json>& descriptions);

// The extension entry `index` restricts the dialog to; nullopt: none.
std::optional<std::string> entryExtension(const FormatBox& box, size_t index);

// The chooser's entries in order, the first one selected: for the open
// dialog "All Types (.png,.jpg)" first, unless the first entry already
// shows the same files, then one entry per description.
std::vector<FormatEntry> chooserEntries(const FormatBox& box);

}  // namespace corvane
