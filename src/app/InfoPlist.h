#pragma once
// Reading property lists (XML or binary) into JSON values.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace corvane {

// Parses a property list file. Dictionaries become objects, arrays arrays,
// strings strings, integers/reals numbers, booleans booleans, data a Base64
// string and dates an ISO-8601 string. Answers nullopt when the file is
// missing, unreadable or not a property list; `error` then says why.
std::optional<nlohmann::json> readPropertyList(const std::string& path,
                                               std::string* error = nullptr);

}  // namespace corvane
