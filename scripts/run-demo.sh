#!/bin/sh
# Installs what is missing, builds the shell and runs the Notes example, a
# Markdown editor, on a sample note (build/demo/Sample note.md, made from
# the bundle's welcome text on the first run and kept afterwards). Without
# a display it starts a virtual one, saves a screenshot of the window under
# build/ and says where. The build stages the bundle as
# build/examples/Notes.app; the member-by-member tour of the bridge is
# build/examples/Showcase.app (`build/bin/corvane --bundle build/examples/Showcase.app`).
set -e
cd "$(dirname "$0")/.."
sh scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
note="$(pwd)/build/demo/Sample note.md"
if [ ! -f "$note" ]; then
  mkdir -p build/demo
  cp build/examples/Notes.app/Contents/Resources/Welcome.md "$note"
fi
if [ -z "${DISPLAY:-}" ]; then
  shot="$(pwd)/build/notes.png"
  rm -f "$shot"
  CORVANE_SCREENSHOT="$shot" CORVANE_SCREENSHOT_QUIT=1 \
    bash scripts/with-session.sh build/bin/corvane --bundle build/examples/Notes.app "$note" "$@"
  if [ -f "$shot" ]; then
    echo "No display here: the Notes window was drawn on a virtual display; screenshot saved to $shot"
  else
    echo "No display here, and the screenshot could not be made" >&2
    exit 1
  fi
  exit 0
fi
exec build/bin/corvane --bundle build/examples/Notes.app "$note" "$@"
