#pragma once
// The platform-free half of the file writer: the bytes a page sends (byte
// arrays, lenient base64, text), cutting a file to a length, the 0600
// probe and the single stream write. The service object adds the alert
// and the answers.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane::filewriter {

// Element i of the array as a byte: its integer value modulo 256 (numbers,
// booleans, numeric texts; a text without a number reads 0; -1 gives 255).
// Throws std::invalid_argument when `data` is no array or an element has no
// integer value (null, an object, an array).
std::string bytesFromArray(const nlohmann::json& data);

// A writer's argument text read without a document of a million numbers:
// the params dictionary (nulls left out), with a "data" array of plain
// integers decoded straight into bytes (modulo 256) and long texts without
// escapes taken as they stand. nullopt when the text is not a plain object
// of that kind (a "data" with fractions, exponents or texts among its
// values, bad JSON): the general reader then reads it.
struct ByteArrayParams {
  nlohmann::json params;             // without "data" when it became bytes
  std::optional<std::string> bytes;  // "data", when it was an integer array
};
std::optional<ByteArrayParams> readByteArrayParams(std::string_view text);

// Base64 of the standard alphabet; every other character (white space,
// line breaks, "=") is skipped, and a trailing partial group of 2 or 3
// characters still gives its 1 or 2 bytes.
std::string decodeBase64(const std::string& text);

// Sets the length of an existing file (cutting it, or extending it with
// zero bytes); a file that does not exist is left alone. Answers the new
// length (0 when there is no file). Throws std::system_error on failure.
uint64_t truncateFile(const std::string& path, uint64_t length);

// Opens the path for writing, creating it with mode 0600 when it does not
// exist (an existing file keeps its content). Empty on success, else the
// system's reason.
std::string probe(const std::string& path);

struct WriteOutcome {
  bool streamOpened = false;
  int64_t bytesWritten = 0;  // of the one write; <= 0 means nothing written
  std::string exception;     // set when building the bytes or the write threw
};

// Opens a stream on the path (appending, or replacing the whole content),
// builds the bytes and issues one write of them. Exceptions from `bytes`
// count as nothing written.
WriteOutcome streamWrite(const std::string& path, const std::function<std::string()>& bytes, bool append);

}  // namespace corvane::filewriter
