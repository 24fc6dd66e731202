#pragma once
// The platform-free half of the file writer: the bytes a page sends (byte
// arrays, lenient base64, text), cutting a file to a length, the 0600
// probe, and the write itself (appended, or replacing the file atomically).
// The service object adds the alert and the answers.
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

// The same question for a write that replaces the whole file, asked without
// creating anything: the target (links followed) is a file this process may
// write, or nothing is there yet and its folder takes new files. Empty when
// the write may go ahead, else the system's reason.
std::string probeReplace(const std::string& path);

struct WriteResult {
  enum class Kind {
    Written,         // every byte is in the file
    CannotOpen,      // the path cannot be written at all; nothing changed
    NothingWritten,  // no bytes to write (empty data, or building them threw)
    Failed,          // the system refused some or all of the bytes
  };
  Kind kind = Kind::NothingWritten;
  int64_t bytesWritten = 0;  // Written: all; Failed: what an append added
  std::string reason;        // CannotOpen: the system's text; Failed: a text for the page
  std::string exception;     // set when building the bytes threw
};

// The writer's one write of the bytes `bytes` builds.
//
// Appending: an existing file is first cut (or zero-extended) to `cutTo`
// when given; the file is created with 0600 when missing; every byte is
// appended. An append that falls short is Failed with the bytes it added;
// one that added nothing to a file it created removes that file again.
//
// Replacing (`append` false): nothing is cut or created beforehand; the
// bytes go to a temporary file that replaces the target once all of them
// are on disk (app/AtomicFile), so a failure leaves the old file as it was.
// A new file gets 0600; an existing one keeps its bits and owner, and a
// symbolic link stays a link. No bytes to write leave the target alone.
WriteResult write(const std::string& path, const std::function<std::string()>& bytes, bool append,
                  std::optional<uint64_t> cutTo = std::nullopt);

}  // namespace corvane::filewriter
