#pragma once
// The shell's body: command line, bundle, then the application delegate.
// The shipped program is nothing but a call to it; the tests' own shell
// adds its service object first and then calls it too, so both run the
// same code.
namespace corvane {

int shellMain(int argc, char** argv);

}  // namespace corvane
