#!/bin/sh
# Reads the real window as a screen reader does, through AT-SPI, and drives
# it with the keyboard alone (screen_reader_check.py): on a virtual X display
# with openbox, a session bus and an accessibility bus of its own, the
# program converts a first log named to it, then a second one chosen in the
# open-file dialog.
# usage: screen_reader_test.sh <ostrevane> <work folder>
# Exits 77 (skipped) where xvfb-run, openbox, xdotool, dbus-daemon, the AT-SPI
# bus (at-spi2-core) or pyatspi for /usr/bin/python3 are missing.
set -u
program=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher

if [ "${OSTREVANE_ON_XVFB:-}" != 1 ]; then
  for tool in xvfb-run openbox xdotool xprop dbus-daemon timeout; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
  done
  [ -x "$launcher" ] || { echo "skipped: at-spi2-core is not installed"; exit 77; }
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
    { echo "skipped: python3-pyatspi is not installed"; exit 77; }
  OSTREVANE_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$program" "$work"
fi

pids=""
stop() {
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap stop EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
# Polls the command given for up to ten seconds.
await() {
  what=$1
  shift
  tries=0
  until "$@" >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "$what"
    sleep 0.1
  done
}
window_manager_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
accessibility_bus_up() { xprop -root AT_SPI_BUS 2>/dev/null | grep -q '='; }

rm -rf "$work" && mkdir -p "$work/home" "$work/runtime" "$work/bin" "$work/Sortie du jour" ||
  fail "cannot make $work"
chmod 700 "$work/runtime"
# A session of its own: nothing of the caller's desktop or buses.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
unset AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORM \
  QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP OSTREVANE_AUTORUN

fix='$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A'
printf '%s\r\n' "$fix" "$fix" "$fix" >"$work/Sortie du jour/premier.nmea"
printf '%s\r\n' "$fix" "$fix" "$fix" "$fix" "$fix" >"$work/Sortie du jour/second.nmea"
# The desktop's open command: notes what it is given and finds no
# application for KML files, as on a desktop without a globe viewer.
cat >"$work/bin/xdg-open" <<'EOF'
#!/bin/sh
printf '%s\n' "$1" >>"$OSTREVANE_OPENED"
case "$1" in *.kml) exit 3 ;; esac
EOF
chmod +x "$work/bin/xdg-open"
: >"$work/opened"

openbox --sm-disable >/dev/null 2>&1 &
pids="$pids $!"
await "openbox did not start" window_manager_up
dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>/dev/null &
pids="$pids $!"
await "no session bus" test -s "$work/bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
"$launcher" --launch-immediately >/dev/null 2>&1 &
pids="$pids $!"
await "no accessibility bus" accessibility_bus_up

# Qt speaks to the accessibility bus only when asked, as a screen reader
# asks on a desktop.
env PATH="$work/bin:$PATH" OSTREVANE_OPENED="$work/opened" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "$program" "$work/Sortie du jour/premier.nmea" &
pid=$!
pids="$pid $pids"
window=$(timeout 20 xdotool search --sync --onlyvisible --name "Convertisseur de fichiers" | head -n 1)
[ -n "$window" ] || fail "the window did not appear"

timeout 60 /usr/bin/python3 "$here/screen_reader_check.py" "$pid" "$window" \
  "$work/Sortie du jour/second.nmea" "$work/opened"
status=$?
[ "$status" -eq 124 ] && fail "the check did not end within 60 s"
[ "$status" -eq 0 ] || exit 1
echo "ok: read and driven through AT-SPI"
