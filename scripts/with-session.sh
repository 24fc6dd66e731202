#!/bin/bash
# Runs a command inside a desktop session: a virtual X display when none is
# set, and a private D-Bus session bus when none is set. Both are stopped
# when the command ends.
#
# The private bus starts services only from the build tree's service folder
# ($CORVANE_SESSION_SERVICES, by default build/dbus-services beside this
# script's folder), never from the system's: a Corvane package installed on
# the machine (or any other session service) cannot stand in for what the
# build made, and what a test needs it starts itself.
set -e
pids=()
tmp=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -z "$tmp" ] || rm -rf "$tmp"
}
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
  services=${CORVANE_SESSION_SERVICES:-$(cd "$(dirname "$0")/.." && pwd)/build/dbus-services}
  tmp=$(mktemp -d)
  cat > "$tmp/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:tmpdir=$tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_message_size">1000000000</limit>
  <limit name="service_start_timeout">120000</limit>
  <limit name="auth_timeout">240000</limit>
  <limit name="pending_fd_timeout">150000</limit>
  <limit name="max_completed_connections">100000</limit>
  <limit name="max_incomplete_connections">10000</limit>
  <limit name="max_connections_per_user">100000</limit>
  <limit name="max_pending_service_starts">10000</limit>
  <limit name="max_names_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <limit name="max_replies_per_connection">50000</limit>
</busconfig>
CONF
  out=$(dbus-daemon --config-file="$tmp/session.conf" --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$out" | sed -n 1p)
  pids+=("$(echo "$out" | sed -n 2p)")
fi

"$@"
