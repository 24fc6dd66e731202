#pragma once
#include <string>

namespace corvane::server {

// The Content-Type for a file, chosen by the extension of the name the
// request used (not of a link's target: a "lib.mjs" link to "lib-3f2a" is
// still a module script). Web formats come from
// a fixed table so that pages behave the same on every machine (the shared
// MIME database varies and has no entry for some of them, e.g. ".wasm");
// anything else is asked of GIO, and unknown types are sent as octet stream.
std::string contentTypeForPath(const std::string& path);

}  // namespace corvane::server
