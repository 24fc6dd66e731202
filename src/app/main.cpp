// The shipped program. Everything it does is in the shell's body, which
// the tests run as well (with their own service object added).
#include "app/ShellMain.h"

int main(int argc, char** argv) { return corvane::shellMain(argc, argv); }
