#pragma once
// The "/index.html" markers: %%NAME%% in the page is replaced by the value
// of NAME from a dictionary built at request time.
#include <ctime>
#include <map>
#include <string>
#include <string_view>

namespace corvane::server {

using Replacements = std::map<std::string, std::string, std::less<>>;

// The five values: computer name and time are read now, the rest are fixed.
Replacements indexReplacements();

// "2026-12-05 20:08:00 +0000": the time in UTC in the platform's default
// date description.
std::string defaultDateDescription(std::time_t when);

// Replaces every %%KEY%% whose KEY is in `values`. A marker with an unknown
// key is left as written, and its closing "%%" may open the next marker.
std::string fillMarkers(std::string_view text, const Replacements& values,
                        std::string_view separator = "%%");

}  // namespace corvane::server
