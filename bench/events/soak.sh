#!/bin/bash
# Soak of the application-event races (not part of the test suite, which
# runs each race a few times): second starts racing the first, twenty cold
# starts at once, a second start while the shell ends, signals at every
# stage. Runs those end-to-end tests ROUNDS times and prints how many rounds
# failed; a failing round's output is kept in the log file.
#
# usage: bench/events/soak.sh [BUILD_DIR] [ROUNDS] [LOG]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
rounds=${2:-50}
log=${3:-$build/events-soak.log}
filter='OpenFiles.SecondStarts*:OpenFiles.Twenty*:OpenFiles.FilesHandedOver*:Termination.*'
: > "$log"
failed=0
for round in $(seq 1 "$rounds"); do
  if ! out=$(bash "$here/../../scripts/with-session.sh" "$build/tests/app/life_tests" --gtest_filter="$filter" 2>&1); then
    failed=$((failed + 1))
    { echo "=== round $round"; echo "$out"; } >> "$log"
  fi
  echo "round $round of $rounds: $failed failed so far"
done
echo "events soak: $failed of $rounds rounds failed (details in $log)"
[ "$failed" -eq 0 ]
