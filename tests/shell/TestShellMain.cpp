// The tests' shell: the shipped shell's body with the test service added.
// Built only with the tests and benchmarks, and never installed.
#include "TestShell.h"

#include "app/ShellMain.h"

int main(int argc, char** argv) {
  corvane::testshell::install();
  return corvane::shellMain(argc, argv);
}
