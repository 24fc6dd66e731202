#!/bin/bash
# Packaging benchmark: the time corvane-kit takes to make the Showcase's
# Debian package (shared shell, and standalone), builds excluded, against
# dpkg-deb building the same package tree alone in the same run: the ratio
# is what the kit adds to the one step no packager can skip. The aim is
# 10 s or less for the Showcase.
#
# usage: bench/packaging/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
runs=${2:-5}
kit=$build/bin/corvane-kit
app=$build/examples/Showcase.app
[ -x "$kit" ] && [ -d "$app" ] || { echo "build first: $kit and $app are needed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
timed() {  # timed RUNS COMMAND...: the median wall time of the command
  local n=$1; shift
  for _ in $(seq "$n"); do
    local t0; t0=$(now)
    "$@" > /dev/null
    awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }'
  done | median
}

deb=$("$kit" package deb "$app" -o "$work/out")
dpkg-deb -R "$deb" "$work/tree"
shared=$(timed "$runs" "$kit" package deb "$app" -o "$work/out")
baseline=$(timed "$runs" dpkg-deb --build --root-owner-group "$work/tree" "$work/plain.deb")
standalone=$(timed 1 "$kit" package deb "$app" -o "$work/out" --standalone)

printf 'Showcase, shared shell:  %6.2f s (median of %d)\n' "$shared" "$runs"
printf 'dpkg-deb --build alone:  %6.2f s (median of %d)\n' "$baseline" "$runs"
printf 'ratio kit / dpkg-deb:    %6.2f\n' "$(awk -v a="$shared" -v b="$baseline" 'BEGIN { print a / b }')"
printf 'Showcase, standalone:    %6.2f s (one run: strips and scans the shell)\n' "$standalone"
if awk -v a="$shared" 'BEGIN { exit !(a <= 10) }'; then echo "aim (<= 10 s): met"; else echo "aim (<= 10 s): NOT met"; fi
