#!/bin/bash
# Bridge benchmarks: synchronous bridge calls per second against a plain
# script function and WebKit's script-message round trip with reply, the
# same with 1 KiB, 64 KiB and 1 MiB text arguments, start-up to the page's
# first script and the resident memory of the UI and web processes, both
# against a minimal WebKitGTK window.
# Prints the figures and their ratios. Starts a virtual display when there
# is none. The page reports through the test service, so it runs the
# tests' shell (build/bin/corvane-test-shell, built with the benchmarks).
#
# usage: bench/bridge/run.sh [BUILD_DIR] [RUNS] [startup]
# ("startup": only the start-up figures and the launch trace, RUNS pairs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
runs=${2:-5}
exec bash "$here/../../scripts/with-session.sh" "$build/bench/bridge/bridge_bench" "$runs" ${3:+"$3"}
