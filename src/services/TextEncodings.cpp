#include "services/TextEncodings.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace corvane::textenc {
namespace {

struct Encoding {
  const char* label;
  const char* iconv;  // nullptr: decoded here
};

const std::map<uint64_t, Encoding>& encodings() {
  static const std::map<uint64_t, Encoding> table{
      {1, {"ASCII", "ASCII"}},
      {2, {"NeXTSTEP", nullptr}},
      {3, {"EUC-JP", "EUC-JP"}},
      {4, {"UTF-8", "UTF-8"}},
      {5, {"ISO 8859-1", "ISO-8859-1"}},
      {6, {"Symbol", nullptr}},
      {7, {"non-lossy ASCII", nullptr}},
      // The platform's Shift JIS is the Windows code page 932 variant.
      {8, {"Shift JIS", "CP932"}},
      {9, {"ISO 8859-2", "ISO-8859-2"}},
      // With a byte-order mark; without one, big-endian.
      {10, {"UTF-16", "UTF-16"}},
      {11, {"Windows-1251", "CP1251"}},
      {12, {"Windows-1252", "CP1252"}},
      {13, {"Windows-1253", "CP1253"}},
      {14, {"Windows-1254", "CP1254"}},
      {15, {"Windows-1250", "CP1250"}},
      {21, {"ISO-2022-JP", "ISO-2022-JP"}},
      {30, {"Mac OS Roman", "MACINTOSH"}},
      {kUTF16BigEndian, {"UTF-16 big-endian", "UTF-16BE"}},
      {kUTF16LittleEndian, {"UTF-16 little-endian", "UTF-16LE"}},
      {0x8C000100, {"UTF-32", "UTF-32"}},
      {0x98000100, {"UTF-32 big-endian", "UTF-32BE"}},
      {0x9C000100, {"UTF-32 little-endian", "UTF-32LE"}},
  };
  return table;
}

// Upper halves (0x80-0xFF) as Unicode; 0 marks an unassigned byte.
const char16_t kNextStep[128] = {
    0x00A0, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC,
    0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D9, 0x00DA, 0x00DB,
    0x00DC, 0x00DD, 0x00DE, 0x00B5, 0x00D7, 0x00F7, 0x00A9, 0x00A1, 0x00A2, 0x00A3, 0x2044, 0x00A5, 0x0192,
    0x00A7, 0x00A4, 0x2019, 0x201C, 0x00AB, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x00AE, 0x2013, 0x2020, 0x2021,
    0x00B7, 0x00A6, 0x00B6, 0x2022, 0x201A, 0x201E, 0x201D, 0x00BB, 0x2026, 0x2030, 0x00AC, 0x00BF, 0x00B9,
    0x02CB, 0x00B4, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x00A8, 0x00B2, 0x02DA, 0x00B8, 0x00B3, 0x02DD,
    0x02DB, 0x02C7, 0x2014, 0x00B1, 0x00BC, 0x00BD, 0x00BE, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5,
    0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00C6, 0x00ED, 0x00AA, 0x00EE, 0x00EF, 0x00F0, 0x00F1,
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00E6, 0x00F9, 0x00FA, 0x00FB,
    0x0131, 0x00FC, 0x00FD, 0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x00FF, 0,      0};

// Adobe Symbol: the printable ASCII range differs in places, the upper half
// holds Greek variants, arrows and mathematical signs.
char16_t symbolLower(unsigned char b) {
  switch (b) {
    case 0x22: return 0x2200;
    case 0x24: return 0x2203;
    case 0x27: return 0x220B;
    case 0x2A: return 0x2217;
    case 0x2D: return 0x2212;
    case 0x40: return 0x2245;
    case 0x5C: return 0x2234;
    case 0x5E: return 0x22A5;
    case 0x60: return 0xF8E5;
    case 0x7E: return 0x223C;
    default: break;
  }
  static const char16_t upperGreek[26] = {0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399,
                                          0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F, 0x03A0, 0x0398, 0x03A1,
                                          0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396};
  static const char16_t lowerGreek[26] = {0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9,
                                          0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1,
                                          0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6};
  if (b >= 0x41 && b <= 0x5A) return upperGreek[b - 0x41];
  if (b >= 0x61 && b <= 0x7A) return lowerGreek[b - 0x61];
  return b;
}

const char16_t kSymbolUpper[128] = {
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,      0,
    0,      0,      0,      0,      0,      0,      0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192,
    0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265,
    0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0xF8E6, 0xF8E7, 0x21B5, 0x2135,
    0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286,
    0x2208, 0x2209, 0x2220, 0x2207, 0xF6DA, 0xF6D9, 0xF6DB, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228,
    0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x2329, 0xF8E8, 0xF8E9, 0xF8EA, 0x2211, 0xF8EB, 0xF8EC,
    0xF8ED, 0xF8EE, 0xF8EF, 0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3, 0xF8F4, 0,      0x232A, 0x222B, 0x2320, 0xF8F5,
    0x2321, 0xF8F6, 0xF8F7, 0xF8F8, 0xF8F9, 0xF8FA, 0xF8FB, 0xF8FC, 0xF8FD, 0xF8FE, 0};

void appendUtf8(std::string& out, gunichar c) {
  char buf[6];
  out.append(buf, g_unichar_to_utf8(c, buf));
}

std::optional<std::string> byTable(const std::string& bytes, bool symbol, std::string* error) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    char16_t c = b < 0x80 ? (symbol ? symbolLower(b) : b) : (symbol ? kSymbolUpper[b - 0x80] : kNextStep[b - 0x80]);
    if (c == 0 && b != 0) {
      if (error) *error = "byte " + std::to_string(i) + " has no character in this encoding";
      return std::nullopt;
    }
    appendUtf8(out, c);
  }
  return out;
}

// Seven-bit text whose other characters are written "\uXXXX" (UTF-16
// units, surrogate pairs joined) or "\ddd" (octal, one byte of Latin-1).
std::optional<std::string> nonLossyAscii(const std::string& bytes, std::string* error) {
  std::u16string units;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x80) {
      if (error) *error = "byte " + std::to_string(i) + " is not seven-bit";
      return std::nullopt;
    }
    if (b != '\\' || i + 1 >= bytes.size()) {
      units.push_back(b);
      continue;
    }
    const char next = bytes[i + 1];
    if (next == '\\') {
      units.push_back('\\');
      ++i;
    } else if (next == 'u' && i + 5 < bytes.size() &&
               std::all_of(bytes.begin() + i + 2, bytes.begin() + i + 6, [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); })) {
      units.push_back(static_cast<char16_t>(std::stoul(bytes.substr(i + 2, 4), nullptr, 16)));
      i += 5;
    } else if (next >= '0' && next <= '3' && i + 3 < bytes.size() && bytes[i + 2] >= '0' && bytes[i + 2] <= '7' &&
               bytes[i + 3] >= '0' && bytes[i + 3] <= '7') {
      units.push_back(static_cast<char16_t>(std::stoul(bytes.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      units.push_back('\\');
    }
  }
  GError* e = nullptr;
  gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(units.data()), static_cast<glong>(units.size()),
                                nullptr, nullptr, &e);
  if (!utf8) {
    if (error) *error = e ? e->message : "invalid escapes";
    if (e) g_error_free(e);
    return std::nullopt;
  }
  std::string out = utf8;
  g_free(utf8);
  return out;
}

}  // namespace

uint64_t encodingForName(const std::string& name) {
  static const std::map<std::string, uint64_t> names{
      {"ascii", 1},          {"nextstep", 2},       {"japaneseeuc", 3},    {"utf8", 4},
      {"isolatin1", 5},      {"symbol", 6},         {"nonlossyascii", 7},  {"shiftjis", 8},
      {"isolatin2", 9},      {"unicode", 10},       {"windowscp1251", 11}, {"windowscp1252", 12},
      {"windowscp1253", 13}, {"windowscp1254", 14}, {"windowscp1250", 15}, {"iso2022jp", 21},
      {"macosroman", 30},    {"utf16", 10},         {"utf16bigendian", kUTF16BigEndian},
      {"utf16littleendian", kUTF16LittleEndian},
  };
  const auto first = name.find_first_not_of(" \t\r\n\v\f");
  const auto last = name.find_last_not_of(" \t\r\n\v\f");
  std::string key = first == std::string::npos ? "" : name.substr(first, last - first + 1);
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
  auto it = names.find(key);
  return it == names.end() ? kUTF8 : it->second;
}

std::string encodingLabel(uint64_t encoding) {
  auto it = encodings().find(encoding);
  return it == encodings().end() ? "" : it->second.label;
}

std::optional<std::string> decode(const std::string& bytes, uint64_t encoding, std::string* error) {
  auto it = encodings().find(encoding);
  if (it == encodings().end()) {
    if (error) *error = "text encoding " + std::to_string(encoding) + " is not supported";
    return std::nullopt;
  }
  if (encoding == 2 || encoding == 6) return byTable(bytes, encoding == 6, error);
  if (encoding == 7) return nonLossyAscii(bytes, error);
  if (encoding == kUTF8) {
    if (!g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) {
      if (error) *error = "the bytes are not valid UTF-8";
      return std::nullopt;
    }
    return bytes;
  }
  GError* e = nullptr;
  gsize written = 0;
  gchar* out = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", it->second.iconv, nullptr,
                         &written, &e);
  if (!out) {
    if (error) *error = e ? e->message : "conversion failed";
    if (e) g_error_free(e);
    return std::nullopt;
  }
  std::string text(out, written);
  g_free(out);
  // A byte-order mark says how to read; it is no part of the text.
  if (encoding == 10 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

}  // namespace corvane::textenc
