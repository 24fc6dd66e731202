#!/bin/bash
# The packages as a user gets them: the shell's package (cpack), the
# Showcase's and the Notes example's (the installed corvane-kit) are checked with lintian,
# desktop-file-validate and appstreamcli, installed with apt-get, started
# through the desktop entry on the session's display and a session bus of
# their own (the system's configuration: installed services are found);
# the window's class and icon are read with xprop, a document is opened
# with gio open, an upgrade keeps the user's data, a standalone package
# runs without the corvane package, and apt-get purge leaves nothing.
#
# usage: install-packages.sh BUILD_DIR SOURCE_DIR WORK_DIR
# CORVANE_SHELL_DEB names a ready shell package (CI packages its release
# build); otherwise cpack packages BUILD_DIR.
# Runs as root only (it installs packages); exits 77 (skipped) otherwise.
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) work=$3
shell_pkg=corvane showcase_pkg=app.corvane.showcase notes_pkg=app.corvane.notes test_pkg=org.example.packtest
lintian_allowed=""  # lintian tags docs/packaging.md lists as justified

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the package tests install packages and must run as root"
  exit 77
fi
for p in $shell_pkg $showcase_pkg $notes_pkg; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    echo "SKIPPED: $p is installed on this machine; the test installs and purges it itself"
    exit 77
  fi
done

fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $*"; }

rm -rf "$work"
mkdir -p "$work/home" "$work/debs"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # Only what is installed: apt-get purges nothing when one name is unknown.
  local installed
  installed=$({ dpkg-query -W -f='${Package} ${Status}\n' $test_pkg $notes_pkg $showcase_pkg $shell_pkg 2>/dev/null || true; } |
    awk '/ ok installed$/ { print $1 }')
  [ -z "$installed" ] || DEBIAN_FRONTEND=noninteractive apt-get purge -y -q $installed >/dev/null 2>&1 || true
}
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive

# The user's session: a home of the test's own and a session bus that reads
# the system's service folders, as on a desktop.
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_DATA_DIRS XDG_CONFIG_DIRS
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p)
pids+=("$(echo "$bus" | sed -n 2p)")
[ -n "${DISPLAY:-}" ] || fail "no display (run under scripts/with-session.sh)"

install_deb() { apt-get install -y -q --no-install-recommends "$1" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install $1"; }; }

lint() {  # lint DEB: no error and no warning but those the docs justify
  local suppress=()
  [ -z "$lintian_allowed" ] || suppress=(--suppress-tags "$lintian_allowed")
  lintian --fail-on error,warning "${suppress[@]}" "$1" > "$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian on $(basename "$1")"; }
  grep -E "^[EW]: " "$work/lintian.log" && fail "lintian reported on $(basename "$1")" || true
}

no_build_paths() {  # no_build_paths DEB: no file of the package names the build or source folder
  local root="$work/unpacked-$(basename "$1")"
  rm -rf "$root" && dpkg-deb -x "$1" "$root"
  if grep -rlaF -e "$build" -e "$source" -e "_CPack_Packages" "$root"; then
    fail "$(basename "$1") holds a build-folder path (files above)"
  fi
  echo "$root"
}

# ---- the shell's package -------------------------------------------------------
step "the shell's package"
if [ -n "${CORVANE_SHELL_DEB:-}" ]; then
  shell_deb=$(cd "$(dirname "$CORVANE_SHELL_DEB")" && pwd)/$(basename "$CORVANE_SHELL_DEB")
else
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
  shell_deb=$(ls "$work"/cpack/corvane_*.deb)
fi
[ -f "$shell_deb" ] || fail "no shell package"
lint "$shell_deb"
root=$(no_build_paths "$shell_deb")
# Test-only code never ships: no test service, no test switches.
find "$root" -type f | while read -r f; do
  if head -c4 "$f" | grep -q "ELF" && grep -qaE "TestService|CORVANE_TEST_" "$f"; then
    fail "test-only code in ${f#$root}"
  fi
done
grep -qx "Exec=/usr/libexec/corvane/corvane-agent-helper" \
  "$root/usr/share/dbus-1/services/com.zavrelon.app.mac.xpc.AgentHelper.service" ||
  fail "the agent helper's service file does not name its installed path"
for f in "$root"/usr/bin/* "$root"/usr/libexec/corvane/* "$root"/usr/lib/corvane/*/*.so; do
  file "$f" | grep -q ", stripped" || fail "${f#$root} is not stripped"
done
install_deb "$shell_deb"
dpkg -L $shell_pkg > "$work/files-$shell_pkg"

example_package() {  # example_package NAME PACKAGE: made with the installed kit, checked, installed
  local deb root
  deb=$(/usr/bin/corvane-kit package deb "$build/examples/$1.app" -o "$work/debs") ||
    fail "corvane-kit package deb $1.app"
  lint "$deb"
  root=$(no_build_paths "$deb")
  desktop-file-validate "$root/usr/share/applications/$2.desktop" || fail "desktop-file-validate $1"
  appstreamcli validate --no-net "$root/usr/share/metainfo/$2.metainfo.xml" || fail "appstreamcli validate $1"
  install_deb "$deb"
  dpkg -L "$2" > "$work/files-$2"
}

# ---- the Showcase's package, made with the installed kit -----------------------
step "the Showcase's package"
example_package Showcase $showcase_pkg

wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local until=$((SECONDS + $1)); shift
  until "$@" > /dev/null 2>&1; do
    [ $SECONDS -lt $until ] || return 1
    sleep 0.3
  done
}

step "started through its desktop entry"
gio launch /usr/share/applications/app.corvane.showcase.desktop > "$work/showcase.log" 2>&1 ||
  fail "gio launch"
window=""
find_window() { window=$(xdotool search --class '^app\.corvane\.showcase$' | head -1); [ -n "$window" ]; }
wait_for 60 find_window || { cat "$work/showcase.log"; fail "no window of class app.corvane.showcase"; }
showcase_pid=$(xdotool getwindowpid "$window")
pids+=("$showcase_pid")
xprop -id "$window" WM_CLASS | grep -q '"app.corvane.showcase"$' || fail "WM_CLASS: $(xprop -id "$window" WM_CLASS)"
wait_for 20 sh -c "xprop -len 16000000 -id $window _NET_WM_ICON | grep -q 'Icon (256 x 256)'" ||
  fail "no window icon: $(xprop -id "$window" _NET_WM_ICON | head -2)"

step "a document opened with gio open"
echo "a note" > "$work/home/first.showcase"
[ "$(gio info -a standard::content-type "$work/home/first.showcase" | sed -n 's/.*content-type: //p')" = \
  "application/x-app.corvane.showcase-showcase-note" ] || fail "the note's MIME type is not the Showcase's"
gio open "$work/home/first.showcase" || fail "gio open"
wait_for 30 grep -q "Showcase received: $work/home/first.showcase" "$work/showcase.log" ||
  { cat "$work/showcase.log"; fail "the page did not receive the opened file"; }
kill "$showcase_pid"
wait_for 20 sh -c "! kill -0 $showcase_pid" || fail "the Showcase did not end on SIGTERM"

# ---- the Notes example: its package, and a Markdown file opened with it ----------
step "the Notes example's package"
example_package Notes $notes_pkg
grep -q "^MimeType=.*text/markdown;" /usr/share/applications/app.corvane.notes.desktop ||
  fail "Notes does not declare text/markdown"
# The person's choice of Notes for Markdown (other installed editors may claim it too).
mkdir -p "$HOME/.config"
printf '[Default Applications]\ntext/markdown=app.corvane.notes.desktop\n' > "$HOME/.config/mimeapps.list"
printf '# Groceries\n' > "$work/home/groceries.md"
gio open "$work/home/groceries.md" > "$work/notes.log" 2>&1 || fail "gio open groceries.md"
# The page names the document it opened in the window's title.
find_notes() { window=$(xdotool search --onlyvisible --name '^groceries\.md — Notes$' | head -1); [ -n "$window" ]; }
wait_for 60 find_notes || { cat "$work/notes.log"; fail "Notes did not open groceries.md"; }
notes_pid=$(xdotool getwindowpid "$window")
pids+=("$notes_pid")
kill "$notes_pid"
wait_for 20 sh -c "! kill -0 $notes_pid" || fail "Notes did not end on SIGTERM"

# ---- an upgrade keeps the user's data ------------------------------------------
packtest() {  # packtest VERSION [OPTIONS]: PackTest at VERSION, packaged with the installed kit
  rm -rf "$work/PackTest.app"
  cp -r "$source/tests/kit/PackTest.app" "$work/PackTest.app"
  sed -i "s|<string>1.0</string>|<string>$1</string>|" "$work/PackTest.app/Contents/Info.plist"
  shift
  /usr/bin/corvane-kit package deb "$work/PackTest.app" -o "$work/debs" "$@"
}
run_packtest() {  # run_packtest EXPECTED: runs the installed PackTest, which quits by itself
  timeout 60 /usr/bin/$test_pkg > "$work/packtest.log" 2>&1 || { cat "$work/packtest.log"; fail "PackTest did not end well"; }
  grep -q "PACKTEST $1\$" "$work/packtest.log" || { cat "$work/packtest.log"; fail "PackTest did not see: $1"; }
  grep -q "PACKTEST saved true" "$work/packtest.log" || fail "PackTest could not save"
}
step "an upgrade keeps the user's data"
install_deb "$(packtest 1.0)"
run_packtest "version=1.0 local=0 defaults=0"
newer=$(packtest 1.1)
lint "$newer"
install_deb "$newer"
[ "$(dpkg-query -W -f='${Version}' $test_pkg)" = "1.1" ] || fail "the upgrade did not install 1.1"
run_packtest "version=1.1 local=1 defaults=1"

# ---- a standalone package without the corvane package ----------------------------
step "a standalone package runs without the shell's package"
standalone=$(packtest 1.2 --standalone)
lint "$standalone"
no_build_paths "$standalone" > /dev/null
for p in $test_pkg $notes_pkg $showcase_pkg $shell_pkg; do
  [ -f "$work/files-$p" ] || dpkg -L $p > "$work/files-$p"
done
apt-get purge -y -q $test_pkg $notes_pkg $showcase_pkg $shell_pkg > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
install_deb "$standalone"
dpkg-query -W -f='${Status}' $shell_pkg 2>/dev/null | grep -q "ok installed" && fail "the standalone package pulled in corvane"
run_packtest "version=1.2 local=2 defaults=2"

# ---- purge leaves nothing behind --------------------------------------------------
step "purge leaves nothing behind"
apt-get purge -y -q $test_pkg > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
for p in $shell_pkg $showcase_pkg $notes_pkg $test_pkg; do
  while read -r f; do
    # Folders the packages share with others (/usr/share/icons/hicolor/...) stay.
    if [ -e "$f" ] || [ -L "$f" ]; then [ -d "$f" ] && [ ! -L "$f" ] || fail "$p left $f behind"; fi
  done < "$work/files-$p"
  [ ! -e "/usr/lib/$p" ] && [ ! -e "/usr/share/doc/$p" ] || fail "$p left its folders behind"
done
grep -q "showcase-note" /usr/share/mime/globs2 && fail "the Showcase's MIME type is still in the MIME database"
grep -q "app.corvane.showcase" /usr/share/applications/mimeinfo.cache && fail "the Showcase is still in the MIME cache"
echo "ok"
