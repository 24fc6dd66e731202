#pragma once
// Parsing JSON texts that come from outside (configuration files, info
// files, page arguments) with their nesting bounded. The parser itself
// copes with any depth, but copying, printing and walking a value recurse
// once per level, so a hostile file with a million nested arrays would
// overflow the stack long after parsing succeeded. Such texts are refused
// up front with an error that says where the limit was passed.
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Far deeper than any configuration or page argument needs, far shallower
// than what the stack can take.
constexpr int kMaxJsonDepth = 256;

// "line L, column C" of byte `offset` in `text` (both counted from 1).
std::string textPosition(std::string_view text, size_t offset);

// The byte offset at which `text` opens its (maxDepth+1)-th nested array
// or object, or nullopt when it stays within `maxDepth`. Brackets inside
// strings do not count.
std::optional<size_t> nestingTooDeepAt(std::string_view text, int maxDepth = kMaxJsonDepth);

// Parses `text`. On failure answers nullopt and, when `error` is given,
// describes the fault with its position: a syntax error, invalid UTF-8, or
// nesting deeper than `maxDepth`.
std::optional<nlohmann::json> parseJsonText(std::string_view text, std::string* error = nullptr,
                                            int maxDepth = kMaxJsonDepth);

// The levels of arrays and objects in `value` (0 for a scalar, 1 for an
// empty array), counted without recursing.
size_t jsonNestingDepth(const nlohmann::json& value);

// A JSON type as a noun for messages ("an object", "text", "a number").
std::string jsonTypeName(const nlohmann::json& value);

// The value's JSON text for messages, cut to about `maxChars` ("..." added).
std::string jsonSnippet(const nlohmann::json& value, size_t maxChars = 60);

}  // namespace corvane
