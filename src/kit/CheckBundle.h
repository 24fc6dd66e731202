#pragma once
// `corvane-kit check Name.app`: reads Info.plist and the main configuration
// with the shell's own code (the same search, the same readers) and reports
// what the shell would silently ignore, refuse or do differently from what
// the author meant: wrong types, unknown or misplaced keys (with the key
// meant), server-mode keys that contradict each other, a missing page.
#include "kit/KitCommand.h"
#include "kit/JsonLocations.h"

#include <string>
#include <vector>

namespace corvane::kit {

struct Finding {
  enum class Severity { Error, Warning };
  Severity severity = Severity::Error;
  std::string file;  // as the report names it
  TextPlace place;   // line 0: the file as a whole
  std::string message;
};

struct CheckReport {
  std::vector<Finding> findings;
  // The bundle could not be read as one at all (no folder, no Contents).
  bool notABundle = false;
  size_t errors() const;
  size_t warnings() const;
};

CheckReport checkBundle(const std::string& bundlePath);

// "file:line:column: error: message", the form editors and terminals link.
std::string formatFinding(const Finding& finding);

// The known key closest to `name` in spelling (case aside), or "".
std::string nearestKey(const std::string& name, const std::vector<std::string>& known);

int runCheck(const KitInvocation& call);

}  // namespace corvane::kit
