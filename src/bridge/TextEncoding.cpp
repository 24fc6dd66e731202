#include "bridge/TextEncoding.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvane::bridge {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char* putUtf8(char* o, char32_t c) {
  if (c < 0x80) {
    *o++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *o++ = static_cast<char>(0xC0 | (c >> 6));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (c >> 12));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (c >> 18));
    *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return o;
}

// Length of the well-formed UTF-8 sequence at `p` (Unicode table 3-7), or
// the length of its maximal ill-formed prefix as a negative number.
int sequenceAt(const unsigned char* p, const unsigned char* end) {
  const unsigned char b = *p;
  if (b < 0x80) return 1;
  int need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b == 0xE0) {
    need = 2, lo = 0xA0;
  } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
    need = 2;
  } else if (b == 0xED) {
    need = 2, hi = 0x9F;  // no surrogates
  } else if (b == 0xF0) {
    need = 3, lo = 0x90;
  } else if (b >= 0xF1 && b <= 0xF3) {
    need = 3;
  } else if (b == 0xF4) {
    need = 3, hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  int k = 0;
  for (const unsigned char* q = p + 1; k < need; ++q, ++k) {
    if (q >= end || *q < lo || *q > hi) return -(k + 1);
    lo = 0x80, hi = 0xBF;
  }
  return need + 1;
}

// Eight ASCII bytes at `p`?
bool asciiWord(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return (w & 0x8080808080808080ULL) == 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a "\uXXXX" escape at `p` (pointing at the backslash),
// or -1 when there is none.
long escapedUnit(const std::string& s, size_t p) {
  if (p + 6 > s.size() || s[p] != '\\' || s[p + 1] != 'u') return -1;
  long v = 0;
  for (size_t i = p + 2; i < p + 6; ++i) {
    const int h = hexValue(s[i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

}  // namespace

void appendUtf16AsUtf8(std::string& out, const char16_t* units, size_t count) {
  // Converted in pieces through a buffer on the stack: sizing `out` for the
  // worst case (three bytes a unit) would clear three times the memory the
  // text needs.
  constexpr size_t kPiece = 8192;
  char buffer[maxUtf8Size(kPiece) + 4];
  out.reserve(out.size() + count);  // exact for ASCII, the common case
  const char16_t* p = units;
  const char16_t* const end = units + count;
  while (p < end) {
    const char16_t* const pieceEnd = end - p > static_cast<ptrdiff_t>(kPiece) ? p + kPiece : end;
    char* o = buffer;
    while (p < pieceEnd) {
      // Runs of ASCII: the common case for the JSON texts pages send.
#ifdef __SSE2__
      const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
      const __m128i zero = _mm_setzero_si128();
      while (pieceEnd - p >= 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        const __m128i high = _mm_and_si128(_mm_or_si128(a, b), nonAscii);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(a, b));
        o += 16;
        p += 16;
      }
#endif
      while (pieceEnd - p >= 4) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (w & 0xFF80FF80FF80FF80ULL) break;
        o[0] = static_cast<char>(p[0]);
        o[1] = static_cast<char>(p[1]);
        o[2] = static_cast<char>(p[2]);
        o[3] = static_cast<char>(p[3]);
        o += 4;
        p += 4;
      }
      if (p == pieceEnd) break;
      char32_t c = *p++;
      // A pair may straddle the end of a piece; it is still one character.
      if (isHighSurrogate(c) && p < end && isLowSurrogate(*p)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (*p++ - 0xDC00);
      } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
        c = kReplacement;
      }
      o = putUtf8(o, c);
    }
    out.append(buffer, static_cast<size_t>(o - buffer));
  }
}

std::u16string utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const int n = sequenceAt(p, end);
    if (n < 0) {
      out += static_cast<char16_t>(kReplacement);
      p += -n;
      continue;
    }
    char32_t c = n == 1 ? p[0] : n == 2 ? p[0] & 0x1F : n == 3 ? p[0] & 0x0F : p[0] & 0x07;
    for (int i = 1; i < n; ++i) c = (c << 6) | (p[i] & 0x3F);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    p += n;
  }
  return out;
}

bool isWellFormedUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    // Long ASCII stretches (large JSON texts) four words at a time.
    while (end - p >= 32) {
      uint64_t w[4];
      std::memcpy(w, p, sizeof w);
      if ((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080ULL) break;
      p += 32;
    }
    if (end - p >= 8 && asciiWord(p)) {
      p += 8;
      continue;
    }
    const int n = sequenceAt(p, end);
    if (n < 0) return false;
    p += n;
  }
  return true;
}

std::string wellFormedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  const auto* run = p;  // start of the well-formed stretch not yet copied
  char replacement[4];
  const size_t replacementSize = static_cast<size_t>(putUtf8(replacement, kReplacement) - replacement);
  while (p < end) {
    if (end - p >= 8 && asciiWord(p)) {
      p += 8;
      continue;
    }
    const int n = sequenceAt(p, end);
    if (n > 0) {
      p += n;
      continue;
    }
    out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
    out.append(replacement, replacementSize);
    p += -n;
    run = p;
  }
  out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
  return out;
}

void replaceLoneSurrogateEscapes(std::string& json) {
  // Every backslash in a JSON text starts an escape, so a scan from one
  // backslash to the next never mistakes "\\ud800" (an escaped backslash)
  // for a surrogate.
  for (size_t p = json.find('\\'); p != std::string::npos; p = json.find('\\', p)) {
    const long unit = escapedUnit(json, p);
    if (unit < 0) {
      p += 2;
      continue;
    }
    if (isHighSurrogate(static_cast<char32_t>(unit))) {
      const long next = escapedUnit(json, p + 6);
      if (next >= 0 && isLowSurrogate(static_cast<char32_t>(next))) {
        p += 12;
        continue;
      }
    }
    if (isHighSurrogate(static_cast<char32_t>(unit)) || isLowSurrogate(static_cast<char32_t>(unit)))
      json.replace(p + 2, 4, "fffd");
    p += 6;
  }
}

}  // namespace corvane::bridge
