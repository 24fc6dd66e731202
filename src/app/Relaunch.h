#pragma once
// Relaunching as a new, detached instance. The new process is started
// while this one finishes terminating; it waits for this process to end
// before claiming the application's single-instance name, so it does not
// hand itself over to the instance that is going away.
#include <string>
#include <vector>

namespace corvane {

// Starts `executable --bundle <bundle>` detached, telling it which process
// to wait for. Answers whether the start succeeded.
bool relaunchDetached(const std::string& executable, const std::string& bundlePath);

// In a relaunched process: waits (up to `maxSeconds`) until the process
// that relaunched it has ended. Does nothing otherwise.
void waitForPredecessor(double maxSeconds = 15);

// The environment variable that carries the predecessor's process id.
inline constexpr const char* kRelaunchPidVariable = "CORVANE_RELAUNCHED_BY";

}  // namespace corvane
