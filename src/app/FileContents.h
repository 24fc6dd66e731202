#pragma once
// Reading a file's whole content with a reason a person understands when it
// cannot be read (a folder, a missing file, no permission), instead of the
// stream library's exceptions.
#include <optional>
#include <string>

namespace corvane {

// The bytes of the file at `path`, or nullopt with `error` (when given) set
// to "cannot read <path>: <reason>".
std::optional<std::string> readFileContents(const std::string& path, std::string* error = nullptr);

}  // namespace corvane
