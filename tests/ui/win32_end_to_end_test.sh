#!/bin/sh
# Starts the native Windows window under Wine on a virtual X display with a
# window manager, checks what it shows at start, presses its button, gives
# Wine's open-file dialog a log's path (accents included), then checks the
# KML file against the command line's, what the window shows at the end (a
# screenshot is kept), that a click on the globe hands the KML file to the
# shell, and that closing the window ends the program. With a probe of its
# own it reads the window as a screen reader does (names and roles at each
# control's place, the news of a finished run) and drives it with the
# keyboard alone (Tab order, Enter on the focused button, the focus kept
# across dialogs and coming back to the window).
# usage: win32_end_to_end_test.sh <ostrevane.exe> <ostrevane-convert.exe> <work folder> <probe.exe>
# Exits 77 (skipped) where Wine, Xvfb, openbox, xdotool or
# ImageMagick are missing.
set -u
program=$1
converter=$2
work=$3
probe=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${OSTREVANE_ON_XVFB:-}" != 1 ]; then
  for tool in wine wineserver xvfb-run openbox xdotool xprop import convert identify python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
  done
  OSTREVANE_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$@"
fi

fail() {
  echo "FAIL: $*"
  import -window root "$work/screen-at-failure.png" 2>/dev/null &&
    echo "screen at failure: $work/screen-at-failure.png"
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "${manager:-}" ] && kill "$manager" "$holder" 2>/dev/null
  exit 1
}

. "$here/../support/polling.sh"

dialog_gone() { ! xdotool search --onlyvisible --name '^Ouvrir$' >/dev/null 2>&1; }

# What the probe says, without Windows' line ends.
probe() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }
probe_succeeds() { wine "$probe" "$@" >/dev/null 2>&1; }

# The text of the window's control that has the keyboard focus is $1.
focus_is() { [ "$(probe focus)" = "$1" ]; }

# Presses key $1 (through XTEST, as a keyboard would) and checks that the
# focus is then on the control whose text is $2.
key_moves_focus_to() {
  xdotool key "$1"
  retry 10 focus_is "$2" || fail "$1 put the focus on '$(probe focus)', not on '$2'"
}

# Presses the window's button (with the mouse, or with the key $2 where
# given: the button holds the keyboard focus), puts the Unix path $1 in the
# open-file dialog's file-name box as a Windows path, as automation tools do
# (a path typed through X lost or shifted keys on a loaded machine), and
# confirms it with Return. The dialog's completion list may take the first
# Return: one more goes to the dialog while it still shows.
choose_log() {
  if [ -n "${2:-}" ]; then
    xdotool windowactivate --sync "$window" 2>/dev/null
    xdotool key "$2"
  else
    xdotool mousemove --window "$window" $((164 + left)) $((36 + top)) click 1
  fi
  retry 100 find_window '^Ouvrir$' || fail "no open-file dialog called Ouvrir for $1"
  xdotool windowactivate --sync "$found" 2>/dev/null
  retry 25 probe_succeeds filename 'Z:'"$(printf '%s' "$1" | tr / '\\')" ||
    fail "cannot put $1 in the dialog's file-name box: $(probe filename x)"
  xdotool key Return
  retry 15 dialog_gone && return
  xdotool windowactivate --sync "$found" 2>/dev/null
  xdotool key Return
  retry 50 dialog_gone || fail "the dialog stayed open for $1"
}

# The colour of pixel ($2, $3) of picture $1, as RRGGBB.
pixel() { convert "$1" -format "%[hex:p{$2,$3}]" info: 2>/dev/null | cut -c1-6; }

# Checks that client pixel ($2, $3) of screenshot $1 is (or, with "not", is
# not) of colour $5, as $4 says; $6 names the control there.
expect_pixel() {
  colour=$(pixel "$1" $(($2 + left)) $(($3 + top)))
  case "$4" in
    is) [ "$colour" = "$5" ] || fail "$6: pixel ($2, $3) is $colour, not $5 (see $1)" ;;
    not) [ "$colour" != "$5" ] || fail "$6: pixel ($2, $3) is $5, the control shows (see $1)" ;;
  esac
}

light_green=C0FFC0
green=00C000
red=FF0000
black=000000
# What a screen reader reads of the controls (see messages/messages.h).
button_name='Choisir un fichier *.nmea'
globe_name="Ouvrir le fichier .kml avec l'application associée"
folder_name='Ouvrir le répertoire du fichier .kml'
count_name='Nombres de points : 2'
status_name="OPERATION TERMINEE, $count_name"
caption='    Convertisseur de fichiers.nmea en fichiers .kml'
push_button=43

rm -rf "$work" && mkdir -p "$work/Relevés" "$work/reference" "$work/bin" || fail "cannot make $work"
log="$work/Relevés/trajet à vélo.nmea"
kml="$work/Relevés/trajet à vélo.kml"
printf '%s\r\n' \
  '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A' \
  '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47' \
  '' \
  '$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39' >"$log"
cp "$log" "$work/reference/trajet.nmea"

# The shell's handler for .kml files ends in the host's xdg-open: this one
# writes down what it was given.
cat >"$work/bin/xdg-open" <<RECORDER
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened.txt"
RECORDER
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

# Wine speaks French (the dialog is "Ouvrir") only in a French locale that
# exists: one of the test's own, kept between runs, where the system has none.
if ! locale -a 2>/dev/null | grep -qix 'fr_FR.utf8'; then
  if [ ! -d "$work.locale/fr_FR.UTF-8" ]; then
    mkdir -p "$work.locale" && localedef -i fr_FR -f UTF-8 "$work.locale/fr_FR.UTF-8" ||
      fail "cannot make the French locale"
  fi
  export LOCPATH="$work.locale"
fi
export LANG=fr_FR.UTF-8
unset LC_ALL
# Wine names the pointer's shapes after a cursor theme's files ("hand2"):
# without a theme the hand has no name. This one is installed by
# scripts/setup, whatever theme this machine would choose otherwise.
export XCURSOR_THEME=DMZ-White

# An X server that its last client leaves starts afresh, with its first
# keyboard map: a client that stays holds the display open.
xprop -root -spy >/dev/null 2>&1 &
holder=$!
openbox >/dev/null 2>&1 &
manager=$!


# A prefix of the test's own, kept between runs (creating one takes 15 s).
. "$root/scripts/wine-env.sh"
ostrevane_wine_env "$work.wine-prefix"
wine reg add 'HKCR\.kml' /ve /d OstrevaneTrace /f >/dev/null 2>&1 || fail "no .kml association"
wine reg add 'HKCR\OstrevaneTrace\shell\open\command' /ve \
  /d 'C:\windows\system32\winebrowser.exe "%1"' /f >/dev/null 2>&1 || fail "no .kml association"

# The reference: the command line, under Wine too, on a copy of the log.
wine "$converter" 'Z:'"$(printf '%s' "$work/reference/trajet.nmea" | tr / '\\')" >/dev/null 2>&1 ||
  fail "ostrevane-convert failed"
reference="$work/reference/trajet.kml"
[ -f "$reference" ] || fail "ostrevane-convert wrote no $reference"

wine "$program" >"$work/wine-output.txt" 2>&1 &
pid=$!

retry 150 find_window '^    Convertisseur de fichiers\.nmea en fichiers \.kml$' ||
  fail "the window did not appear"
window=$found
# The client area is 306 x 217 at 96 DPI. Wine draws a tool window's frame
# itself, in the X window: its caption is 16 pixels high in Wine 8 and 18 in
# Wine 10, so where the client area starts in the X window ($left, $top) is
# asked, not assumed. Wine learns where the window manager put the window a
# moment after it shows: until then its place is the screen's corner.
client_placed() {
  set -- $(probe client)
  size="${3:-?}x${4:-?}"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  left=$((${1:-0} - X)) top=$((${2:-0} - Y))
  [ "$size" = 306x217 ] && [ "$left" -ge 0 ] && [ "$left" -le 8 ] && [ "$top" -ge 0 ] &&
    [ "$top" -le 40 ] && [ "$WIDTH" -eq $((306 + 2 * left)) ] &&
    [ "$HEIGHT" -eq $((217 + top + left)) ]
}
retry 50 client_placed ||
  fail "the client area is $size at $left,$top in a frame of ${WIDTH}x$HEIGHT, not 306x217 inside"

sleep 0.5
import -window "$window" "$work/window-at-start.png" || fail "no screenshot"
start="$work/window-at-start.png"
expect_pixel "$start" 84 45 is $green "the button"
expect_pixel "$start" 8 2 is $light_green "the home-page line"
expect_pixel "$start" 97 70 not $light_green "Label1"
expect_pixel "$start" 5 110 not $light_green "Label3"
expect_pixel "$start" 5 150 not $light_green "Label8"
expect_pixel "$start" 3 170 not $light_green "Label5"
expect_pixel "$start" 277 164 not $red "the marker"
# The strip of Label4, one pixel high, in the system's button-face colour.
strip=$(pixel "$start" $((140 + left)) $((184 + top)))
[ "$strip" = "$(pixel "$start" $((137 + left)) $((184 + top)))" ] || fail "no strip at Label4"

# The news of a finished run, as a screen reader hears it.
wine "$probe" watch 60 >"$work/events.txt" 2>/dev/null &
watcher=$!
hooked() { grep -q '^hooked' "$work/events.txt"; }
retry 50 hooked || fail "the probe could not watch the window's events"

# The button's middle is 80 + 169 / 2, 24 + 25 / 2.
choose_log "$log"

kml_written() { [ -f "$kml" ] && tail -c 8 "$kml" | grep -q "</kml>"; }
retry 100 kml_written || fail "no KML file written at $kml"
cmp "$reference" "$kml" || fail "the window's KML differs from ostrevane-convert's"
# Three non-empty lines after one fix: three coordinate lines, 34 lines in all.
[ "$(grep -c '^11.5166666666667,48.1173,0' "$kml")" -eq 3 ] || fail "wrong coordinate lines"
[ "$(wc -l <"$kml")" -eq 34 ] || fail "wrong line count in the KML file"

sleep 0.5
shot="$work/window.png"
import -window "$window" "$shot" || fail "no screenshot"
expect_pixel "$shot" 97 70 is $light_green "Label1"
expect_pixel "$shot" 5 110 is $light_green "Label3"
expect_pixel "$shot" 5 150 is $light_green "Label8"
expect_pixel "$shot" 3 170 is $light_green "Label5"
expect_pixel "$shot" 277 164 is $red "the marker"
expect_pixel "$shot" 252 140 not $light_green "the globe"

# The end of the run was said once, with its count, without the focus.
watched() { ! kill -0 "$watcher" 2>/dev/null; }
retry 100 watched || fail "no news of the finished run reached the probe (see $work/events.txt)"
tr -d '\r' <"$work/events.txt" >"$work/events-read.txt"
[ "$(grep -c '^live' "$work/events-read.txt")" -eq 1 ] &&
  grep -qx "live	$status_name" "$work/events-read.txt" ||
  fail "not one live-region event named '$status_name' (see $work/events-read.txt)"
[ "$(grep -c '^name' "$work/events-read.txt")" -eq 1 ] &&
  grep -qx "name	$count_name" "$work/events-read.txt" ||
  fail "not one name event for the count (see $work/events-read.txt)"

# What a screen reader finds at each place: the three buttons as push
# buttons pressed by the default action, the count with its title, the
# banner, and nothing at the strip but the window named by its caption.
# Roles are checked for the buttons only: Wine's own objects are "client".
probe at 164 36 252 140 100 170 120 70 210 70 5 110 140 184 >"$work/objects.txt"
printf '%s\n' "$button_name	$push_button	Appuyer" "$globe_name	$push_button	Appuyer" \
  "$folder_name	$push_button	Appuyer" >"$work/objects-expected.txt"
head -n 3 "$work/objects.txt" | cmp -s - "$work/objects-expected.txt" ||
  fail "the buttons read as $(head -n 3 "$work/objects.txt")"
for spot in "4 $count_name" "5 $count_name" "6 $status_name" "7 $caption"; do
  line=${spot%% *}
  name=${spot#* }
  [ "$(sed -n "${line}p" "$work/objects.txt" | cut -f 1)" = "$name" ] ||
    fail "object $line reads as '$(sed -n "${line}p" "$work/objects.txt")', not '$name'"
done

# The keyboard alone: the focus came back to the button after the dialog,
# Tab goes through the three buttons and Shift+Tab back, the focused one
# shows a ring, Enter presses the focused one. Openbox gives no window the
# keyboard after a dialog: the window is activated as a click would.
retry 25 focus_is "$button_name" || fail "after the dialog the focus is on '$(probe focus)'"
xdotool windowactivate --sync "$window" 2>/dev/null
key_moves_focus_to Tab "$globe_name"
key_moves_focus_to Tab "$folder_name"
key_moves_focus_to Tab "$button_name"
key_moves_focus_to shift+Tab "$folder_name"
key_moves_focus_to shift+Tab "$globe_name"
ring="$work/window-globe-focused.png"
import -window "$window" "$ring" || fail "no screenshot"
expect_pixel "$ring" 240 128 is $black "the globe's focus ring"
xdotool key Return
# The shell starts a Wine program of its own for the globe (winebrowser) and
# for the folder (explorer): on a loaded machine that took over 20 s.
recorded() { [ -s "$work/opened.txt" ]; }
retry 300 recorded || fail "Enter on the globe handed nothing to the shell"
dialog_gone || fail "Enter on the globe opened the dialog"
rm -f "$work/opened.txt"
# Enter on the folder line opens the folder (Wine's explorer) and takes the
# keyboard away; the window gets it back on the folder line.
key_moves_focus_to Tab "$folder_name"
xdotool key Return
retry 300 find_window '^Relevés$' || fail "Enter on the folder line opened no folder"
folder_window=$found
# Once the folder's window has the keyboard, or it would take it back.
# Openbox may withhold it from a window that maps late on a loaded machine
# (it guards against focus stealing): then it is given, as a click would.
folder_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$folder_window" ]; }
retry 50 folder_active || xdotool windowactivate --sync "$folder_window" 2>/dev/null
retry 50 folder_active || fail "the folder's window never got the keyboard"
xdotool windowactivate --sync "$window" 2>/dev/null
retry 10 focus_is "$folder_name" || fail "back in the window, the focus is on '$(probe focus)'"
python3 "$here/close_window.py" "$folder_window" || fail "could not close the folder's window"

# The pointing hand over the three controls that react to a click, and only
# there: not over the marker in front of the folder line, nor elsewhere.
for spot in "164 36 hand2 button" "252 140 hand2 globe" "100 170 hand2 folder-line" \
  "277 164 other marker" "5 110 other end-line" "150 205 other picture"; do
  set -- $spot
  xdotool mousemove --window "$window" $(($1 + left)) $(($2 + top))
  sleep 0.3
  shape=$(python3 "$here/pointer_name.py")
  case "$3" in
    hand2) [ "$shape" = hand2 ] || fail "pointer over the $4 is '$shape', not the hand" ;;
    other) [ "$shape" != hand2 ] || fail "pointer over the $4 is the hand" ;;
  esac
done

# The globe, 240..263 x 128..151: the shell gets the KML file.
xdotool mousemove --window "$window" $((252 + left)) $((140 + top)) click 1
retry 300 recorded || fail "a click on the globe handed nothing to the shell"
opened=$(head -n 1 "$work/opened.txt" |
  python3 -c 'import sys, urllib.parse; print(urllib.parse.unquote(sys.stdin.read().strip()))')
[ "$opened" = "file://$kml" ] || fail "the shell got $opened, not file://$kml"
# The click went to the form: the focus stayed on the folder line.
focus_is "$folder_name" || fail "a click on the globe moved the focus to '$(probe focus)'"

# Closing the window ends the program.
python3 "$here/close_window.py" "$window" || fail "could not ask the window to close"
ended() { ! kill -0 "$pid" 2>/dev/null; }
retry 50 ended || fail "the program still runs after its window closed"
wait "$pid" || fail "the program ended with status $?"

# "Open with": a log named on the command line is converted at once. Windows
# offers it for .nmea in any case, as it matches names: TRACK.NMEA too.
named="$work/Ouvert/Relevé/TRACK.NMEA"
mkdir -p "$work/Ouvert/Relevé" && cp "$log" "$named" || fail "cannot make $work/Ouvert/Relevé"
named_kml="$work/Ouvert/Relevé/TRACK.kml"
wine "$program" 'Z:'"$(printf '%s' "$named" | tr / '\\')" \
  >>"$work/wine-output.txt" 2>&1 &
pid=$!
retry 150 find_window '^    Convertisseur de fichiers\.nmea en fichiers \.kml$' ||
  fail "the window did not appear for a named log"
window=$found
named_written() { [ -f "$named_kml" ] && tail -c 8 "$named_kml" | grep -q "</kml>"; }
retry 150 named_written || fail "the log named on the command line was not converted"
cmp -s "$reference" "$named_kml" || fail "$named_kml differs from ostrevane-convert's"
python3 "$here/close_window.py" "$window" || fail "could not ask the window to close"
retry 50 ended || fail "the program still runs after its window closed"
wait "$pid" || fail "the program ended with status $?"

# Closing the window during a run stops the run, keeps the earlier KML file,
# leaves nothing behind and ends the program. The log is long enough for a
# run of some seconds under Wine.
mkdir -p "$work/Longue" || fail "cannot make $work/Longue"
long_log="$work/Longue/longue.nmea"
long_kml="$work/Longue/longue.kml"
yes '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A' |
  head -n 400000 | sed 's/$/\r/' >"$long_log"
printf 'earlier\r\n' >"$long_kml"
wine "$program" >>"$work/wine-output.txt" 2>&1 &
pid=$!
retry 150 find_window '^    Convertisseur de fichiers\.nmea en fichiers \.kml$' ||
  fail "the window did not appear a second time"
window=$found
sleep 0.5

# A failed run says why in one French message box owned by the window: here
# a folder already has the KML file's name.
mkdir -p "$work/Panne/panne.kml" && cp "$log" "$work/Panne/panne.nmea" || fail "cannot make $work/Panne"
choose_log "$work/Panne/panne.nmea" Return
retry 100 find_window '^Conversion impossible$' || fail "no message box for a failed run"
box=$found
[ "$(xdotool search --onlyvisible --name '^Conversion impossible$' | wc -l)" -eq 1 ] ||
  fail "more than one message box for one failed run"
xprop -id "$box" WM_TRANSIENT_FOR | grep -qi "$(printf '0x%x' "$window")" ||
  fail "the message box is not owned by the window"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key --window "$box" Return
box_gone() { ! xdotool search --onlyvisible --name '^Conversion impossible$' >/dev/null 2>&1; }
retry 50 box_gone || fail "the message box stayed open"
# Wine hands the focus back to the owner on its own time, later on a loaded
# machine: wait for it, within a bound.
retry 25 focus_is "$button_name" || fail "after the message box the focus is on '$(probe focus)'"

choose_log "$long_log" space
sleep 0.3
python3 "$here/close_window.py" "$window" || fail "could not ask the window to close"
retry 100 ended || fail "the program still runs after its window closed during a run"
wait "$pid" || fail "the program ended with status $? after a close during a run"
[ "$(cat "$long_kml")" = "$(printf 'earlier\r')" ] ||
  fail "the earlier KML file was replaced: did the run end before the window closed?"
[ "$(ls -A "$work/Longue" | wc -l)" -eq 2 ] || fail "files left behind: $(ls -A "$work/Longue")"

wineserver -k 2>/dev/null
kill "$manager" "$holder" 2>/dev/null
echo "ok: $kml written, screenshot in $shot"
