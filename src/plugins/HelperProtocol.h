#pragma once
// The wire protocol between the application and its helper services, shared
// by the shell, the agent helper and the test helpers.
//
// A helper service is a D-Bus session service started on demand by its well
// known name (D-Bus activation). It exports one object, at the path derived
// from that name, with the interface `kHelperInterface`:
//
//   ProcessMessage(s message) -> (v reply)
//
// `message` is the JSON text of a dictionary; `reply` is the one reply
// object, any JSON-like value (texts, booleans, numbers, a{sv} for
// dictionaries, av for arrays, an empty byte array for no object at all).
//
// The application exports the same interface at `kClientObjectPath` on its
// own bus connection, for helpers that call back (see HelperConnection.h).
#include <gio/gio.h>
#include <nlohmann/json.hpp>

#include <string>

namespace corvane {

inline constexpr const char* kHelperInterface = "org.corvane.AgentHelperProtocol";
inline constexpr const char* kHelperMethod = "ProcessMessage";
inline constexpr const char* kClientObjectPath = "/org/corvane/AgentHelperClient";
// The D-Bus error of the application's own object: it takes helper
// messages but never answers them.
inline constexpr const char* kHelperNoReplyError = "org.corvane.AgentHelperProtocol.Error.NoReply";

// The introspection data of the interface (parsed once, never freed).
GDBusInterfaceInfo* helperInterfaceInfo();

// Whether `name` can be a helper's service name: a well-known bus name.
bool isHelperServiceName(const std::string& name);
// "com.example.Helper" -> "/com/example/Helper"; characters an object path
// cannot hold become '_'.
std::string helperObjectPath(const std::string& serviceName);

// Reply values between GVariant and JSON. A variant that has no JSON
// counterpart (object paths, signatures, handles) comes as its printed text.
nlohmann::json jsonFromVariant(GVariant* value);
// A floating reference, ready to be wrapped in "(v)".
GVariant* variantFromJson(const nlohmann::json& value);

}  // namespace corvane
