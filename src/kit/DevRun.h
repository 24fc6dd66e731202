#pragma once
// `corvane-kit dev Name.app [--url URL] [--shell-log[=LEVEL]]`: runs the
// application with the shell beside the kit in development mode
// (`corvane --dev`): developer tools on, the page's console on the
// terminal, a reload after each save under the page's folders; with --url
// the page comes from the author's development server on this computer.
#include "kit/KitCommand.h"

namespace corvane::kit {

int runDev(const KitInvocation& call);

}  // namespace corvane::kit
