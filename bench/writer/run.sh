#!/bin/bash
# File-writer benchmark: 64 MiB written from a page in 1 MiB chunks with
# writeBinaryArray and base64ToFile, against carrying the same arguments
# over the bridge, and 64 MiB against 8 MiB. Starts a virtual display when
# there is none.
#
# usage: bench/writer/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
runs=${2:-3}
exec bash "$here/../../scripts/with-session.sh" "$build/bench/writer/writer_bench" "$runs"
