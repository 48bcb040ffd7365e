#!/bin/sh
# Starts the real window program on a virtual X display, presses its button
# with the mouse, types a log's path into the open-file dialog, then checks
# the KML file written, takes a screenshot of the window and closes it the way
# a window manager's close button does.
# usage: window_end_to_end_test.sh <ostrevane> <work folder>
# Exits 77 (skipped) where xvfb-run, xdotool or ImageMagick are missing.
set -u
program=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)

if [ "${OSTREVANE_ON_XVFB:-}" != 1 ]; then
  for tool in xvfb-run xdotool xprop xwininfo import identify convert; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
  done
  OSTREVANE_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$program" "$work"
fi

fail() {
  echo "FAIL: $*"
  import -window root "$work/screen-at-failure.png" 2>/dev/null
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  exit 1
}

# Waits until X gives the keyboard to window $1, so that no key is lost.
await_focus() {
  tries=0
  until [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "window $1 never got the keyboard"
    sleep 0.1
  done
}

# Blanks but no accents: xdotool types characters missing from the keyboard
# map by remapping a key on the fly, which loses some under load. The
# offscreen tests cover accented paths.
rm -rf "$work" && mkdir -p "$work/Sortie du jour" || fail "cannot make $work"
log="$work/Sortie du jour/trajet matin.nmea"
kml="$work/Sortie du jour/trajet matin.kml"
printf '%s\r\n' \
  '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A' \
  '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47' \
  '' \
  '$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39' >"$log"

# A window manager frames the window, as on a desktop, where one is installed.
if command -v openbox >/dev/null 2>&1; then
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  tries=0
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    tries=$((tries + 1))
    [ "$tries" -le 50 ] || fail "openbox did not start"
    sleep 0.1
  done
fi

# A stand-in globe viewer, installed for KML files as a viewer's package
# installs itself (its desktop entry, and the desktop's cache of them), which
# writes down what it was asked to open. The window runs with no desktop
# named, as under openbox, and sees only the user folders made here.
mkdir -p "$work/data/applications" "$work/config" || fail "cannot make $work/data"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >"%s/viewer-opened.txt"\n' "$work" >"$work/viewer"
chmod +x "$work/viewer"
printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Globe de remplacement' \
  "Exec=$work/viewer %f" 'MimeType=application/vnd.google-earth.kml+xml;' \
  >"$work/data/applications/globe-de-remplacement.desktop"
update-desktop-database "$work/data/applications" || fail "update-desktop-database failed"

# Qt's own dialog, whatever desktop the test runs from.
env -u XDG_CURRENT_DESKTOP -u QT_QPA_PLATFORMTHEME -u OSTREVANE_AUTORUN -u DESKTOP_SESSION \
  -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID XDG_DATA_HOME="$work/data" \
  XDG_CONFIG_HOME="$work/config" "$program" 2>"$work/program-output.txt" &
pid=$!

# Waits up to $1 seconds for the window to show, in $window. A program that
# ends first (no display, a missing library) is said at once, with why.
await_window() {
  tries=0
  until window=$(xdotool search --onlyvisible --name "Convertisseur de fichiers" 2>/dev/null | head -n 1) &&
    [ -n "$window" ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      fail "the program ended with status $? before its window appeared: $(head -c 2000 "$work/program-output.txt")"
    fi
    tries=$((tries + 1))
    [ "$tries" -le $(($1 * 5)) ] || fail "the window did not appear within $1 s"
    sleep 0.2
  done
}

# The first Qt program on a new system builds the font caches first: on a
# loaded machine that took over 20 s.
await_window 90
await_focus "$window"

# A tool window: no taskbar entry.
xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR || fail "listed in the taskbar"
# Its frame, caption bar included, centred on the 1024 x 768 screen.
if [ -n "${wm:-}" ]; then
  sleep 0.5
  set -- $(xprop -id "$window" _NET_FRAME_EXTENTS | tr -dc '0-9 ')
  left=$1 right=$2 top=$3 bottom=$4
  x=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left Y: *//p')
  across=$((2 * (x - left) + left + 306 + right - 1024))
  down=$((2 * (y - top) + top + 217 + bottom - 768))
  [ "${across#-}" -le 1 ] && [ "${down#-}" -le 1 ] ||
    fail "frame not centred: client at $x,$y, frame extents $left $right $top $bottom"
fi
# The middle of the button: 80 + 169 / 2, 24 + 25 / 2 at 96 DPI.
xdotool mousemove --window "$window" 164 36 click 1

# The dialog speaks French: Qt's translations were loaded.
dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "^Ouvrir$" | head -n 1)
[ -n "$dialog" ] || fail "no French open-file dialog"
await_focus "$dialog"
sleep 0.5
xdotool type --delay 15 "$log"
xdotool key Return

tries=0
until [ -f "$kml" ] && tail -c 8 "$kml" | grep -q "</kml>"; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "no KML file written at $kml"
  sleep 0.2
done

# Three non-empty lines after one fix: three coordinate lines, 34 lines in all.
[ "$(grep -c '^11.5166666666667,48.1173,0' "$kml")" -eq 3 ] || fail "wrong coordinate lines"
[ "$(wc -l <"$kml")" -eq 34 ] || fail "wrong line count in the KML file"
[ "$(tail -c 8 "$kml" | od -An -c | tr -d ' \n')" = '</kml>\r\n' ] || fail "wrong file end"

sleep 0.5
import -window "$window" "$work/window.png" || fail "no screenshot"
[ "$(identify -format '%wx%h' "$work/window.png")" = 306x217 ] || fail "screenshot not 306x217"

# The globe, 240..263 x 128..151: the desktop's viewer for KML files gets
# the KML file. Where xdg-open types files with `file` (no mimetype), it
# takes the file for plain XML and never asks the viewer.
xdotool mousemove --window "$window" 252 140 click 1
viewer_started() { [ -s "$work/viewer-opened.txt" ]; }
tries=0
until viewer_started; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] ||
    fail "the globe started no viewer: xdg-mime types the file as $(XDG_DATA_HOME="$work/data" xdg-mime query filetype "$kml")"
  sleep 0.2
done
[ "$(cat "$work/viewer-opened.txt")" = "$kml" ] || fail "the viewer got $(cat "$work/viewer-opened.txt"), not $kml"

# Closing the window ends the program.
if command -v python3 >/dev/null 2>&1; then
  python3 "$here/close_window.py" "$window" || fail "could not ask the window to close"
  tries=0
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 50 ] || fail "the program still runs after its window closed"
    sleep 0.2
  done
  wait "$pid" || fail "the program ended with status $?"
else
  kill "$pid"
fi

# "Open with": the log named on the command line is converted at once. At
# 144 DPI the window, its controls and texts grow by half, and the picture
# keeps its pixel size: its pixel (379, 280) shows there unmoved, and the
# form's grey lies beyond its 381 columns.
rm -f "$kml"
env -u XDG_CURRENT_DESKTOP -u OSTREVANE_AUTORUN QT_FONT_DPI=144 "$program" "$log" \
  2>"$work/program-output.txt" &
pid=$!
await_window 60
tries=0
until [ -f "$kml" ] && tail -c 8 "$kml" | grep -q "</kml>"; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "the log named on the command line was not converted"
  sleep 0.2
done
sleep 0.5
import -window "$window" "$work/window-144.png" || fail "no screenshot at 144 DPI"
[ "$(identify -format '%wx%h' "$work/window-144.png")" = 459x326 ] || fail "window not 459x326 at 144 DPI"
pixel() { convert "$1" -format "%[pixel:p{$2}]" info:; }
[ "$(pixel "$work/window-144.png" 379,280)" = "$(pixel "$here/../../ui/images/background.png" 379,280)" ] ||
  fail "picture scaled at 144 DPI"
[ "$(pixel "$work/window-144.png" 383,280)" = "srgb(192,192,192)" ] || fail "no form grey beside the picture"
kill "$pid"
wait "$pid" 2>/dev/null
[ -n "${wm:-}" ] && kill "$wm"
echo "ok: $kml written, screenshots in $work/window.png and $work/window-144.png"
