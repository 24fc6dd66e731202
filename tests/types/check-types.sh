#!/bin/sh
# The TypeScript checks of the bridge's declarations and the JSON Schema
# checks of the configuration, run by CTest:
#   check-types.sh install  WORK SRC        the tools as pinned in SRC/package-lock.json, into WORK
#   check-types.sh template WORK KIT        a new application's scripts pass `tsc --strict`
#   check-types.sh example  WORK APP        an example bundle's scripts pass `tsc --strict`
#   check-types.sh docs     WORK SRC DATA   the ```ts examples of the docs pass
#   check-types.sh wrong    WORK SRC DATA   wrong calls are compile errors
#   check-types.sh schema   WORK SRC KIT    the Showcase's, a new application's and the reference's
#                                           configurations pass the schema, those of bad-configurations fail
set -eu
mode=$1 work=$2
tsc="$work/node_modules/.bin/tsc"

case "$mode" in
install)
  src=$3
  mkdir -p "$work"
  # Installed once per lock file; npm ci installs exactly what it pins.
  if [ -x "$tsc" ] && [ -d "$work/node_modules/ajv" ] && cmp -s "$src/package-lock.json" "$work/package-lock.json"; then exit 0; fi
  command -v npm >/dev/null || { echo "npm is missing: run scripts/deps.sh" >&2; exit 1; }
  cp "$src/package.json" "$src/package-lock.json" "$work/"
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error)
  "$tsc" --version
  ;;
template)
  kit=$3
  dir=$(mktemp -d "$work/template-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  "$kit" new Typed "$dir" >/dev/null
  "$tsc" -p "$dir/Typed.app/Contents/Resources/jsconfig.json"
  echo "the template's scripts pass tsc --strict"
  ;;
example)
  "$tsc" -p "$3/Contents/Resources/jsconfig.json"
  echo "$(basename "$3")'s scripts pass tsc --strict"
  ;;
docs)
  src=$3 data=$4
  dir=$(mktemp -d "$work/docs-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  cp "$data/js/corvane-async.js" "$data/js/corvane-async.d.ts" "$dir/"
  # Each ```ts block of the page-author documents is a module of its own.
  n=0
  for md in "$src"/docs/*.md "$src"/docs/api/*.md; do
    awk -v dir="$dir" -v base="$(basename "$md" .md)" '
      /^```ts[ \t]*$/ { inblock = 1; n++; file = sprintf("%s/%s-%d.ts", dir, base, n); print "export {};" > file; next }
      /^```/ && inblock { inblock = 0; close(file); next }
      inblock { print >> file }
    ' "$md"
  done
  n=$(ls "$dir"/*.ts 2>/dev/null | grep -vc corvane-async || true)
  [ "$n" -gt 0 ] || { echo "no \`\`\`ts examples found in the docs" >&2; exit 1; }
  "$tsc" --strict --noEmit --target ES2022 --module ES2022 --moduleResolution bundler --lib ES2022,DOM,DOM.Iterable \
    "$data/types/corvane.d.ts" $(ls "$dir"/*.ts | grep -v corvane-async)
  echo "$n examples of the docs pass tsc --strict"
  ;;
wrong)
  src=$3 data=$4
  opts="--strict --noEmit --target ES2022 --module ES2022 --moduleResolution bundler --lib ES2022,DOM"
  dir=$(mktemp -d "$work/wrong-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  cp "$data/js/corvane-async.js" "$data/js/corvane-async.d.ts" "$src/tests/types/wrong-calls.ts" "$dir/"
  # Every marked line must be an error: an unused @ts-expect-error fails.
  "$tsc" $opts "$data/types/corvane.d.ts" "$dir/wrong-calls.ts"
  # And without its mark each of them fails: one variant per mark, all
  # compiled at once, each must have an error of its own.
  grep -n '@ts-expect-error' "$dir/wrong-calls.ts" | cut -d: -f1 > "$dir/marks"
  while read -r line; do sed "${line}d" "$dir/wrong-calls.ts" > "$dir/without-$line.ts"; done < "$dir/marks"
  "$tsc" $opts "$data/types/corvane.d.ts" "$dir"/without-*.ts > "$dir/errors" || true
  while read -r line; do
    if ! grep -q "without-$line.ts(" "$dir/errors"; then
      echo "wrong-calls.ts:$((line + 1)): compiles without its mark: the declarations let a wrong call pass" >&2
      exit 1
    fi
  done < "$dir/marks"
  echo "every wrong call is a compile error"
  ;;
schema)
  src=$3 kit=$4
  dir=$(mktemp -d "$work/schema-XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  "$kit" new Schema "$dir" >/dev/null
  schema=$src/data/schema/project.schema.json
  # The examples of the configuration reference are configurations too.
  awk -v dir="$dir" '
    /^```json[ \t]*$/ { inblock = 1; n++; file = sprintf("%s/reference-%d.json", dir, n); next }
    /^```/ && inblock { inblock = 0; close(file); next }
    inblock { print >> file }
  ' "$src/docs/configuration.md"
  CORVANE_TYPES_WORK=$work node "$src/tests/types/validate-schema.mjs" "$schema" good \
    "$src/examples/Showcase.app/Contents/Resources/public/project.json" \
    "$src/examples/Notes.app/Contents/Resources/public/project.json" "$dir/Schema.app/Contents/Resources/public/project.json" \
    "$dir"/reference-*.json
  CORVANE_TYPES_WORK=$work node "$src/tests/types/validate-schema.mjs" "$schema" bad "$src"/tests/types/bad-configurations/*.json
  ;;
*)
  echo "check-types.sh: unknown mode $mode" >&2
  exit 2
  ;;
esac
