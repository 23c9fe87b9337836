#!/usr/bin/env bash
# Installs a build into a throw-away prefix, checks that every desktop file is
# there and valid, and that the menu entry opens the window on an X screen.
# usage: InstallCheck.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
xvfb_pid=""
# The window started through the menu entry is no child of this script; it
# ends when its X screen goes away.
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

prefix="$work/prefix with blank"
cmake --install "$build" --prefix "$prefix" >/dev/null
id=de.nerk.QV_Backup
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[ -x "$prefix/bin/QV_Backup" ] || fail "no executable"
# The window is a module of its own; the executable needs none of its libraries.
compgen -G "$prefix/lib*/QV_Backup/qvb_window.so" >/dev/null || fail "no window module"
! readelf -d "$prefix/bin/QV_Backup" | grep -E 'NEEDED.*(Qt6Widgets|Qt6Gui|Qt6Network|xcb|jpeg)' ||
  fail "the executable needs a window library"
# So is what talks to the desktop over D-Bus.
compgen -G "$prefix/lib*/QV_Backup/qvb_desktopbus.so" >/dev/null || fail "no D-Bus module"
! readelf -d "$prefix/bin/QV_Backup" | grep -E 'NEEDED.*(Qt6DBus|dbus-1)' ||
  fail "the executable needs a D-Bus library"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || fail "no icon of $size pixels"
  # The PNG header holds width and height as big-endian numbers at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "icon $png is ${w}x$h"
done

desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -qx "Exec=\"$prefix/bin/QV_Backup\"" "$desktop" || fail "Exec does not name the installed program"
grep -qx "Categories=Utility;Archiving;" "$desktop" || fail "categories"

# The menu entry, started the way a desktop starts it, opens the window.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY=
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_RUNTIME_DIR="$work/runtime"
# On a busy machine the screen may name itself before it takes connections.
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
xwininfo -root >/dev/null 2>&1 || fail "the Xvfb screen takes no connection"
gio launch "$desktop" >"$work/window.log" 2>&1
# Generous: the machine may be busy with the other tests.
for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -q '("QV_Backup" "QV_Backup")'; then
    echo "install check passed"
    exit 0
  fi
  sleep 0.1
done
xwininfo -root -tree >&2 || true
cat "$work/window.log" >&2
fail "the menu entry opened no window"
