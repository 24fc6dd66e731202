#pragma once
// Texts between the script engine (UTF-16 code units, any sequence of them)
// and native code (UTF-8 with an explicit length). Both directions keep the
// whole text, U+0000 included; what UTF-8 cannot hold becomes U+FFFD:
// an unpaired surrogate on the way in, an ill-formed byte sequence on the
// way out. Shared by the UI process and the web-process extension.
#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::bridge {

// Appends `count` UTF-16 code units as UTF-8; an unpaired surrogate is
// written as U+FFFD.
void appendUtf16AsUtf8(std::string& out, const char16_t* units, size_t count);

// UTF-8 bytes needed for `count` UTF-16 code units at most.
constexpr size_t maxUtf8Size(size_t count) { return count * 3; }

// `text` as UTF-16 code units; each ill-formed piece reads as U+FFFD.
std::u16string utf16FromUtf8(std::string_view text);

// True when `text` is well-formed UTF-8 (U+0000 is a character like any).
bool isWellFormedUtf8(std::string_view text);

// `text` with each maximal ill-formed subsequence replaced by U+FFFD, as
// the WHATWG decoder does.
std::string wellFormedUtf8(std::string_view text);

// JSON texts from the engine's serialiser write an unpaired surrogate as a
// "\uD8xx".."\uDFxx" escape, which strict JSON readers refuse. Rewrites
// each such escape that is not half of a pair as "\ufffd".
void replaceLoneSurrogateEscapes(std::string& json);

}  // namespace corvane::bridge
