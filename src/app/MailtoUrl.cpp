#include "app/MailtoUrl.h"

#include <cctype>
#include <cstdio>

namespace corvane {

std::string percentEncode(const std::string& text, const std::string& keep) {
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    const bool unreserved = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved || keep.find(static_cast<char>(c)) != std::string::npos) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string mailtoUrl(const std::string& to, const std::string& subject, const std::string& body) {
  // Addresses keep "@" and "," (several recipients) readable; everything
  // that could end the address or start a header is encoded.
  return "mailto:" + percentEncode(to, "@,!$'()*+;=:") + "?Subject=" + percentEncode(subject) +
         "&body=" + percentEncode(body);
}

}  // namespace corvane
