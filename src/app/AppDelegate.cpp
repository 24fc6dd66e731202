#include "app/AppDelegate.h"

#include "app/Utils.h"

namespace corvane {

int AppDelegate::run(int, char**, const CommandLine&) {
  // Reading the main configuration may end the process (no configuration).
  Utils::sharedInstance().getMainconfigDic();
  return 0;
}

}  // namespace corvane
