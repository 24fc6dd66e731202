#pragma once
// GIO's shared bus connections end their process when the bus goes away
// (their exit-on-close default), and libraries in both our processes take
// them. Neither bus is needed to keep a page running: these take the shared
// connection once, when there is a bus, keep it, and turn that off, so that
// losing a bus only stops what used it. Call them early in each process.
#include <functional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace corvane {

void keepRunningWhenTheSystemBusGoes();

// The session bus connection (nullptr without a session bus), held for the
// life of the process. `onLoss` runs on the main context once the bus went
// away, with the reason; only the first call's `onLoss` is kept.
GDBusConnection* keepRunningWhenTheSessionBusGoes(std::function<void(const std::string& why)> onLoss = nullptr,
                                                  std::string* whyNone = nullptr);

}  // namespace corvane
