// corvane-kit: the developer's command (package, new, dev, check, ...).
#include "kit/KitCommand.h"

#include <iostream>

int main(int argc, char** argv) {
  return corvane::kit::runKit(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
