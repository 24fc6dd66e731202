#!/bin/bash
# Menu benchmark: 10,000 menu items made from a page (each with a page
# function) against 10,000 of the cheapest bridge calls in the same run,
# their removal, and the resident memory of the UI and web processes after
# each of five rounds of making and removing them. Starts a virtual display
# when there is none; the build must have the test services on.
#
# usage: bench/menus/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
runs=${2:-3}
exec bash "$here/../../scripts/with-session.sh" "$build/bench/menus/menu_bench" "$runs"
