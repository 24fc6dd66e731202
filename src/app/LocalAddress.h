#pragma once
#include <string>

namespace corvane {

// The first IPv4 address of this host's interfaces that does not start
// with "127"; the empty text when there is none.
std::string firstLocalIPv4();

}  // namespace corvane
