#!/bin/sh
# Drops files onto the native Windows window under Wine, as a file manager
# does (a real XDND drag, which Wine turns into WM_DROPFILES): a file that is
# not a log is refused with the reason and converts nothing; a log is
# converted, into the same KML file as ostrevane-convert's. Names in UTF-8
# with accents and spaces.
# usage: win32_drop_test.sh <ostrevane.exe> <ostrevane-convert.exe> <work folder>
# Exits 77 (skipped) where Wine, Xvfb, openbox, xdotool or python3 are missing.
set -u
program=$1
converter=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${OSTREVANE_ON_XVFB:-}" != 1 ]; then
  for tool in wine wineserver xvfb-run openbox xdotool python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
  done
  OSTREVANE_ON_XVFB=1 exec xvfb-run -a -s "-noreset -screen 0 1024x768x24" sh "$0" "$@"
fi

fail() {
  echo "FAIL: $*"
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "${manager:-}" ] && kill "$manager" 2>/dev/null
  exit 1
}

. "$here/../support/polling.sh"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$work" && mkdir -p "$work/Déposés" "$work/reference" || fail "cannot make $work"
log="$work/Déposés/trajet déposé.nmea"
kml="$work/Déposés/trajet déposé.kml"
printf '%s\r\n' \
  '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A' \
  '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47' \
  '' \
  '$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39' >"$log"
# The same lines under a name that is not a log's.
notes="$work/Déposés/notes déposées.txt"
cp "$log" "$notes" && cp "$log" "$work/reference/trajet.nmea" || fail "cannot copy the log"

openbox >/dev/null 2>&1 &
manager=$!

# A prefix of the test's own, kept between runs (creating one takes 15 s).
. "$root/scripts/wine-env.sh"
ostrevane_wine_env "$work.wine-prefix"

wine "$converter" "$(windows_path "$work/reference/trajet.nmea")" >/dev/null 2>&1 ||
  fail "ostrevane-convert failed"
reference="$work/reference/trajet.kml"

wine "$program" >"$work/wine-output.txt" 2>&1 &
pid=$!
retry 150 find_window '^    Convertisseur de fichiers\.nmea en fichiers \.kml$' ||
  fail "the window did not appear"
window=$found
sleep 0.5
# A point well inside the client area, in root coordinates: the client area
# starts 3 pixels right of the corner of the frame that Wine draws, and 19
# (Wine 8) or 21 (Wine 10) below it.
eval "$(xdotool getwindowgeometry --shell "$window")"
x=$((X + 3 + 150))
y=$((Y + 19 + 150))

python3 "$here/drop_files.py" "$window" "$x" "$y" "$notes" >/dev/null ||
  fail "the window did not take the drop of $notes"
retry 50 find_window '^Conversion impossible$' || fail "no message box refused $notes"
box=$found
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key Return
box_gone() { ! xdotool search --onlyvisible --name '^Conversion impossible$' >/dev/null 2>&1; }
retry 50 box_gone || fail "the message box stayed open"

python3 "$here/drop_files.py" "$window" "$x" "$y" "$log" >/dev/null ||
  fail "the window did not take the drop of $log"
kml_written() { [ -f "$kml" ] && tail -c 8 "$kml" | grep -q "</kml>"; }
retry 100 kml_written || fail "the dropped log was not converted into $kml"
cmp "$reference" "$kml" || fail "the dropped log's KML differs from ostrevane-convert's"
[ "$(ls "$work/Déposés" | grep -c '\.kml$')" -eq 1 ] ||
  fail "KML files in $work/Déposés: $(ls "$work/Déposés" | tr '\n' ' ')"

python3 "$here/close_window.py" "$window" || fail "could not ask the window to close"
ended() { ! kill -0 "$pid" 2>/dev/null; }
retry 50 ended || fail "the program still runs after its window closed"
wait "$pid" || fail "the program ended with status $?"

wineserver -k 2>/dev/null
kill "$manager" 2>/dev/null
echo "ok: $notes refused, $log converted"
