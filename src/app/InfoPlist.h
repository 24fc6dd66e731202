#pragma once
// Property lists (XML or binary) read into JSON values, and JSON values
// written as XML property lists.
#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane {

// Parses a property list file (nested at most kMaxJsonDepth levels, as
// JSON texts from outside are). Dictionaries become objects, arrays arrays,
// strings strings, integers/reals numbers, booleans booleans, data a Base64
// string and dates an ISO-8601 string. Answers nullopt when the file is
// missing, unreadable or not a property list; `error` then says why.
std::optional<nlohmann::json> readPropertyList(const std::string& path,
                                               std::string* error = nullptr);

// The deepest nesting of arrays and dictionaries in property-list bytes
// (XML or binary), measured without parsing them; the count stops soon
// after passing `stopAbove`. nullopt when the bytes are no property list
// (broken tables, a structure that contains itself).
std::optional<size_t> propertyListNesting(std::string_view data, size_t stopAbove);

// Why a value could not be written as a property list (a JSON null inside
// it, or the file could not be replaced).
struct PropertyListError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The XML property-list text of a JSON value: objects become dictionaries,
// arrays arrays, texts strings, integers integers, other numbers reals,
// booleans booleans. Throws PropertyListError for a null anywhere inside.
std::string propertyListXml(const nlohmann::json& value);

// Writes the value as an XML property list, replacing the file atomically
// (app/AtomicFile). Throws PropertyListError.
void writePropertyList(const std::string& path, const nlohmann::json& value);

}  // namespace corvane
