#pragma once
// The helper side of the helper protocol (HelperProtocol.h): owns a service
// name on the session bus, exports the helper object at the name's path and
// hands each ProcessMessage call to a handler, which answers once, now or
// later, from the main loop's thread.
#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace corvane {

using HelperRespond = std::function<void(const nlohmann::json& reply)>;
using HelperHandler =
    std::function<void(const std::string& message, const std::string& sender, HelperRespond respond)>;

// Runs until the bus goes away or the name is lost to another owner (then
// answers 1); 0 after quitHelperService().
int runHelperService(const std::string& serviceName, HelperHandler handler);
void quitHelperService();

}  // namespace corvane
