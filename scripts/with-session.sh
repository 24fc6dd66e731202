#!/bin/bash
# Runs a command inside a desktop session: a virtual X display when none is
# set, and a private D-Bus session bus when none is set. Both are stopped
# when the command ends.
set -e
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null & echo "pid $!")
  read -r _ xpid <&3
  pids+=("$xpid")
  # -displayfd writes the display number once the server accepts clients;
  # a loaded machine may take a while to get there.
  read -r -t 60 num <&3 || true
  [ -n "${num:-}" ] || { echo "with-session: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$num"
fi

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$out" | sed -n 1p)
  pids+=("$(echo "$out" | sed -n 2p)")
fi

"$@"
