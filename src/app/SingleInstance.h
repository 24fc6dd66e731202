#pragma once
// The single running instance per application identifier, beyond what the
// application object does by itself (owning the identifier's name on the
// session bus): the running instance says which bundle it runs, so that a
// second start can log where it handed over to (two bundles may declare
// the same identifier), and it gives the name up when it starts ending, so
// that a later start becomes the new instance instead of handing over to
// one that is going away.
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace corvane {

// In the running instance: answers "BundlePath" on the bus from a thread of
// its own, so that the answer comes even while the main thread is busy
// (start-up tasks, a modal alert). Answers false when the object cannot be
// exported.
bool publishRunningBundle(GDBusConnection* bus, const std::string& bundlePath);

// In a second start: the bundle the instance owning `busName` runs, or
// nullopt when it does not say within `timeoutMs`.
std::optional<std::string> runningBundle(GDBusConnection* bus, const std::string& busName, int timeoutMs);

// Gives up `busName`; answers whether this connection owned it.
bool releaseInstanceName(GDBusConnection* bus, const std::string& busName);

}  // namespace corvane
