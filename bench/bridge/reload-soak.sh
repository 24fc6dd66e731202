#!/bin/bash
# Soak of the bridge's set-up under reloads: the end-to-end reload test
# (a page whose two frames call the bridge without pause, reloaded over and
# over under frequent garbage collection) with many more loads than the
# suite runs. Every load must find every bridge method.
#
# usage: bench/bridge/reload-soak.sh [BUILD_DIR] [RELOADS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
export CORVANE_E2E_RELOADS=${2:-20000}
exec bash "$here/../../scripts/with-session.sh" "$build/tests/e2e/hostile_e2e_tests" --gtest_filter='Reload.*'
