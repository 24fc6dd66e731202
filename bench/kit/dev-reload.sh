#!/bin/bash
# Reload latency of `corvane-kit dev`: from the moment a save of index.html
# is on disk to the reloaded page's first script. The baseline, measured in
# the same run, is the page's own load: from the start of its navigation
# (performance.timeOrigin) to that same first script. The difference is
# what watching, debouncing and asking for the reload add; the aim is a
# latency of at most 300 ms.
# Starts a virtual display when there is none.
#
# usage: bench/kit/dev-reload.sh [BUILD_DIR] [SAVES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
saves=${2:-20}
if [ -z "${BENCH_IN_SESSION:-}" ]; then
  BENCH_IN_SESSION=1 exec bash "$here/../../scripts/with-session.sh" "$0" "$build" "$saves"
fi

work=$(mktemp -d /tmp/corvane-dev-bench-XXXXXX)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$HOME"
"$build/bin/corvane-kit" new Bench --id "org.example.bench.x$$" "$work" >/dev/null
pub=$work/Bench.app/Contents/Resources/public

page() {  # the page: its first script reports when it ran and how long its load took
  cat > "$pub/index.html.new" <<HTML
<!DOCTYPE html><html><head><meta charset="utf-8"><script>
console.log("first script " + Date.now() + " load " + Math.round(Date.now() - performance.timeOrigin));
</script></head><body><p>save $1</p></body></html>
HTML
  mv "$pub/index.html.new" "$pub/index.html"   # as editors save: a rename over the old file
}
page 0
"$build/bin/corvane-kit" dev "$work/Bench.app" > "$work/out.txt" 2> "$work/err.txt" &
pid=$!

firsts() { grep -c "first script" "$work/out.txt" || true; }
wait_for() {  # until the n-th first script, 10 s at most
  for _ in $(seq 1 1000); do [ "$(firsts)" -ge "$1" ] && return 0; sleep 0.01; done
  echo "no reload after save $(( $1 - 1 ))" >&2; cat "$work/out.txt" "$work/err.txt" >&2; exit 1
}
wait_for 1
sleep 1
for i in $(seq 1 "$saves"); do
  page "$i"
  date +%s%3N >> "$work/saved.txt"
  wait_for $(( i + 1 ))
  sleep 0.3   # a separate save, not part of the last burst
done

grep "first script" "$work/out.txt" | tail -n "$saves" | sed 's/.*first script \([0-9]*\) load \([0-9]*\).*/\1 \2/' > "$work/ran.txt"
paste -d' ' "$work/saved.txt" "$work/ran.txt" | awk -v n="$saves" '
  { latency[NR] = $2 - $1; load[NR] = $3 }
  function sort(a, k,  i, j, t) { for (i = 2; i <= k; i++) for (j = i; j > 1 && a[j-1] > a[j]; j--) { t = a[j]; a[j] = a[j-1]; a[j-1] = t } }
  END {
    for (i = 1; i <= n; i++) { l[i] = latency[i]; b[i] = load[i]; d[i] = latency[i] - load[i] }
    sort(l, n); sort(b, n); sort(d, n)
    m = int((n + 1) / 2); p = int(n * 0.9 + 0.5); if (p < 1) p = 1
    printf "saves                          %d\n", n
    printf "save to first script (ms)      median %d, p90 %d, max %d   (aim: at most 300)\n", l[m], l[p], l[n]
    printf "page load alone (ms, baseline) median %d, p90 %d, max %d\n", b[m], b[p], b[n]
    printf "added by watching (ms)         median %d, p90 %d, max %d\n", d[m], d[p], d[n]
    printf "ratio to the baseline          %.2f (median)\n", (b[m] > 0 ? l[m] / b[m] : 0)
    exit (l[p] > 300)
  }'
