#!/bin/bash
# Notification benchmark: the time a page's notice.notify and growl.notify
# take against a trivial bridge call, with a real notification daemon (dunst)
# on a private session bus, running and then stopped with SIGSTOP. Starts a
# virtual display when there is none.
#
# usage: bench/notify/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
runs=${2:-3}
exec bash "$here/../../scripts/with-session.sh" "$build/bench/notify/notify_bench" "$runs"
