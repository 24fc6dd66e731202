#include "app/LocalAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace corvane {

std::string firstLocalIPv4() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (ifaddrs* a = list; a && found.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char buf[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (!inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf)) continue;
    std::string text = buf;
    if (text.rfind("127", 0) != 0) found = text;
  }
  freeifaddrs(list);
  return found;
}

}  // namespace corvane
