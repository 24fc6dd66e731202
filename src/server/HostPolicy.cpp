#include "server/HostPolicy.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>

namespace corvane::server {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// The canonical text of an address, so that "[0:0::1]" and "[::1]" compare
// equal; nullopt for names.
// "[address]", the form an IPv6 address takes in a Host header.
std::string bracketed(const char* address) {
  std::string out(1, '[');
  out.append(address).push_back(']');
  return out;
}

std::optional<std::string> canonicalAddress(const std::string& host) {
  char text[INET6_ADDRSTRLEN + 2];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    in6_addr a{};
    if (::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a) != 1) return std::nullopt;
    ::inet_ntop(AF_INET6, &a, text, sizeof text);
    return bracketed(text);
  }
  in_addr a{};
  if (::inet_pton(AF_INET, host.c_str(), &a) != 1) return std::nullopt;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text);
}

std::vector<std::string> readMachineNames() {
  std::vector<std::string> out;
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) == 0 && name[0]) {
    out.push_back(lower(name));
    // The name the local network announcement resolves.
    out.push_back(lower(name) + ".local");
  }
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr) continue;
      char text[INET6_ADDRSTRLEN];
      if (i->ifa_addr->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        out.emplace_back(text);
      } else if (i->ifa_addr->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, text,
                    sizeof text);
        out.push_back(bracketed(text));
      }
    }
    ::freeifaddrs(list);
  }
  return out;
}

}  // namespace

std::optional<HostValue> parseHostHeader(std::string_view value) {
  HostValue out;
  std::string_view portText;
  if (!value.empty() && value.front() == '[') {
    const size_t close = value.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    out.host = lower(value.substr(0, close + 1));
    std::string_view rest = value.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const size_t colon = value.find(':');
    out.host = lower(value.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = value.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
  }
  if (out.host.empty()) return std::nullopt;
  for (char c : out.host) {
    // Names, dotted addresses and bracketed IPv6 only; no spaces, slashes
    // or user parts.
    if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("-._[]:", c)) {
      return std::nullopt;
    }
  }
  if (!portText.empty()) {
    unsigned long port = 0;
    for (char c : portText) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      port = port * 10 + static_cast<unsigned long>(c - '0');
      if (port > 65535) return std::nullopt;
    }
    out.port = static_cast<uint16_t>(port);
  }
  return out;
}

HostPolicy::HostPolicy(uint16_t port, bool allInterfaces) : port_(port), all_(allInterfaces) {}

bool HostPolicy::isLoopback(const std::string& host) const {
  if (host == "localhost") return true;
  const auto address = canonicalAddress(host);
  return address && (*address == "127.0.0.1" || *address == "[::1]");
}

bool HostPolicy::isThisMachine(const std::string& host) const {
  const std::string wanted = canonicalAddress(host).value_or(host);
  std::lock_guard lock(mutex_);
  auto known = [&] { return std::find(machine_.begin(), machine_.end(), wanted) != machine_.end(); };
  if (known()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (!machine_.empty() && now - readAt_ < std::chrono::seconds(1)) return false;
  machine_ = readMachineNames();
  readAt_ = now;
  return known();
}

bool HostPolicy::allows(std::string_view hostHeader) const {
  const auto value = parseHostHeader(hostHeader);
  if (!value || value->port != port_) return false;
  if (isLoopback(value->host)) return true;
  return all_ && isThisMachine(value->host);
}

}  // namespace corvane::server
