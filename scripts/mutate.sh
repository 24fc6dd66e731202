#!/bin/bash
# Breaks the code on purpose and checks that a test notices: applies one
# sed expression to one source file, rebuilds the given targets, runs the
# CTest tests matching the pattern, and puts the file back whatever
# happens. Succeeds when at least one of those tests failed (the mutation
# was caught); fails when they all passed or the edit changed nothing.
#
#   scripts/mutate.sh <file> <sed expression> <targets> <ctest pattern>
#   scripts/mutate.sh src/plugins/HelperConnection.cpp \
#     's/--self->suspends_ > 0/--self->suspends_ > 1/' helpers_e2e_tests helpers_e2e
#
# For checking the tests while reducing them; nothing ships it.
set -u
cd "$(dirname "$0")/.."
file=$1 expr=$2 targets=$3 pattern=$4
build=${BUILD_DIR:-build}

cp "$file" "$file.unmutated"
restore() { mv "$file.unmutated" "$file"; touch "$file"; }
trap restore EXIT

sed -i -e "$expr" "$file"
if cmp -s "$file" "$file.unmutated"; then
  echo "mutation did not apply: $expr" >&2
  exit 2
fi
# shellcheck disable=SC2086
if ! cmake --build "$build" -j2 --target $targets >"$build/mutate-build.log" 2>&1; then
  echo "CAUGHT (does not build): $expr"
  exit 0
fi
if bash scripts/with-session.sh ctest --test-dir "$build" -R "$pattern" >"$build/mutate-test.log" 2>&1; then
  echo "MISSED: $expr (tests '$pattern' pass)"
  exit 1
fi
echo "CAUGHT: $expr"
grep -E '^\s*[0-9]+/[0-9]+ Test.*(Failed|Timeout)' "$build/mutate-test.log" | head -5
exit 0
