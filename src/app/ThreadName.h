#pragma once
// The names of our threads as the program itself reports them. Other
// threads also carry their name in the kernel, where debuggers and `top -H`
// see it. The main thread does not: on Linux its kernel name is the
// process's name, the one ps, top, pgrep, killall and system monitors show,
// so naming it would rename the whole process. Its name lives here only.
#include <string>

namespace corvane {

void setCurrentThreadName(const std::string& name);
// The name given with setCurrentThreadName, else the kernel's name of the
// thread.
std::string currentThreadName();
bool isMainThreadOfProcess();

}  // namespace corvane
