#!/bin/sh
# Installs the build into a fresh tree twice (--prefix, then DESTDIR with a
# prefix inside it), and in each tree asks the agent helper, by name, on a
# private bus whose only service folder is the tree's: the bus must start
# the tree's own helper, which answers.
# usage: installed-helper.sh CMAKE BUILD_DIR WORK_DIR
set -eu
cmake=$1 build=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
name=com.zavrelon.app.mac.xpc.AgentHelper
path=/com/zavrelon/app/mac/xpc/AgentHelper

ask() {  # ask TREE_SERVICE_DIR EXPECTED_EXEC
  services=$1
  grep -qx "Exec=$2" "$services/$name.service" || { echo "wrong Exec in $services/$name.service:"; cat "$services/$name.service"; exit 1; }
  cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=$work</listen><auth>EXTERNAL</auth>
<servicedir>$services</servicedir>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
  out=$(dbus-run-session --config-file="$work/bus.conf" -- \
    gdbus call --session --timeout 60 --dest $name --object-path $path \
      --method org.corvane.AgentHelperProtocol.ProcessMessage '{"ms_type":"PING","con_id":"t"}')
  echo "$out"
  case "$out" in *PONG*) ;; *) echo "no answer from the installed agent helper"; exit 1 ;; esac
}

"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
ask "$work/prefix/share/dbus-1/services" "$work/prefix/libexec/corvane/corvane-agent-helper"

DESTDIR="$work/stage" "$cmake" --install "$build" --prefix /opt/corvane >/dev/null
ask "$work/stage/opt/corvane/share/dbus-1/services" "$work/stage/opt/corvane/libexec/corvane/corvane-agent-helper"
echo ok
