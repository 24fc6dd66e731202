#pragma once
// What turns the shell's body into the tests' shell: the `test` member on
// every bridge root, panels that press the button a page asked for, and
// the test variables, which the shell reads once and keeps out of its
// environment so that nothing it starts inherits them.
#include <string>

namespace corvane::testshell {

// Reads and removes the test variables (CORVANE_TEST_*, and
// CORVANE_WEB_EXTENSIONS_DIR for a copy of the shell run from elsewhere),
// then installs the hooks. Call first thing in main().
void install();

// A variable of the environment the shell started with, test variables
// included ("" when unset).
std::string variable(const std::string& name);

// The label of the button the next alert or confirm panel of a page gets
// pressed ("Yes", "No", "OK"), or "close" to close it.
void answerNextPanel(const std::string& button);

}  // namespace corvane::testshell
