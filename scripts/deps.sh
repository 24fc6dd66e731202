#!/bin/sh
# Installs every Debian 12 package the build, the packaging, the tests and
# the demo need, plus any packages named as arguments. Safe to run again:
# only what is missing is installed.
set -e
PKGS="$* build-essential cmake pkg-config git
 libglib2.0-dev libgtk-3-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libmicrohttpd-dev
 nlohmann-json3-dev libspdlog-dev libfmt-dev libplist-dev libplist-utils
 libgtest-dev libgmock-dev googletest
 libavahi-client-dev libnotify-dev
 libgstreamer1.0-dev libfontconfig-dev libpango1.0-dev libxss-dev
 gstreamer1.0-plugins-base gstreamer1.0-plugins-good sound-theme-freedesktop
 fontconfig fonts-dejavu-core dunst xclip
 libmagick++-6.q16-dev libcairo2-dev libgdk-pixbuf-2.0-dev
 poppler-utils graphicsmagick libopenjp2-tools
 xvfb xauth dbus dbus-x11 curl
 libxres-dev xdotool x11-utils openbox
 librsvg2-common shared-mime-info libglib2.0-bin
 dpkg-dev binutils file lintian desktop-file-utils appstream flatpak-builder
 xdg-desktop-portal xdg-desktop-portal-gtk"
# Node.js and npm for the TypeScript checks of the bridge's declarations
# (the compiler itself comes from npm, pinned by tests/types). A Node.js
# installed some other way, with its own npm, is kept.
command -v npm >/dev/null 2>&1 || PKGS="$PKGS nodejs npm"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends $missing
fi
