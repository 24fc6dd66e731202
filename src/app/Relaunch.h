#pragma once
// Relaunching as a new, detached instance. The new process is started
// while this one finishes terminating; it waits for this process to end
// before claiming the application's single-instance name, so it does not
// hand itself over to the instance that is going away.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

// Starts `executable --bundle <bundle> [-- files...]` detached. With
// `waitForMe`, the new process is told to wait until this one has ended
// before it starts (a relaunch); without, it starts at once (a hand-over
// while this process still runs but has given up its name). Answers whether
// the start succeeded.
bool relaunchDetached(const std::string& executable, const std::string& bundlePath,
                      const std::vector<std::string>& files = {}, bool waitForMe = true);

// Variables added to the environment of every new instance started here
// (relaunch, hand-over), which the process keeps out of its own
// environment and so out of everything else it starts. Only code can set
// them; the shipped shell sets none.
void setNewInstanceEnvironment(std::vector<std::pair<std::string, std::string>> variables);

// In a relaunched process: waits (up to `maxSeconds`) until the process
// that relaunched it has ended. Does nothing otherwise.
void waitForPredecessor(double maxSeconds = 15);

// The path the running executable had when the process started, read once
// (call it early: an update may replace or remove the file later).
const std::string& startExecutablePath();

// The executable as it is installed now, for starting a new instance: the
// file at `startPath` when one is there (an update replaces it in place),
// else the program of the same name on PATH. Answers nullopt, after a log
// line saying why, when neither exists.
std::optional<std::string> installedExecutable(const std::string& startPath);

// The environment variable that carries the predecessor's process id.
inline constexpr const char* kRelaunchPidVariable = "CORVANE_RELAUNCHED_BY";

}  // namespace corvane
