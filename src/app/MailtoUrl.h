#pragma once
// mailto: URLs (RFC 6068) for a new mail in the default mail program.
#include <string>

namespace corvane {

// "mailto:<to>?Subject=<subject>&body=<body>", each part percent-encoded so
// that "&", "?", "#", line breaks and non-ASCII letters arrive whole and
// cannot add header fields of their own. Spaces become %20.
std::string mailtoUrl(const std::string& to, const std::string& subject, const std::string& body);

// Percent-encodes every byte outside RFC 3986's unreserved set, except the
// characters in `keep`.
std::string percentEncode(const std::string& text, const std::string& keep = "");

}  // namespace corvane
