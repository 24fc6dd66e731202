#pragma once
// Text encodings by the platform numbers pages pass to getTextFromFile, the
// names that override them, and decoding file bytes to UTF-8. The
// conversions are iconv's (through GLib), except three that iconv lacks:
// NeXTSTEP and Adobe Symbol (by table) and non-lossy ASCII ("\uXXXX" and
// octal "\ddd" escapes). Platform-free.
#include <cstdint>
#include <optional>
#include <string>

namespace corvane::textenc {

inline constexpr uint64_t kUTF8 = 4;
inline constexpr uint64_t kUTF16BigEndian = 0x90000100;
inline constexpr uint64_t kUTF16LittleEndian = 0x94000100;

// The "encode" name (trimmed of white space and line breaks, lower-cased)
// to its number; empty and unknown names are UTF-8 (4).
uint64_t encodingForName(const std::string& name);

// A readable name of the encoding number ("Shift JIS"), or "" when unknown.
std::string encodingLabel(uint64_t encoding);

// The bytes as UTF-8 text. nullopt, with a reason, for an unknown encoding
// or bytes that are not valid in the encoding.
std::optional<std::string> decode(const std::string& bytes, uint64_t encoding, std::string* error = nullptr);

}  // namespace corvane::textenc
