#!/bin/sh
# What a user of the Debian package meets on a brand-new system with a bare
# window manager (openbox): installing the package, "Open with Ostrevane" on a
# log as a file manager runs it, the globe without and then with mimetype
# (what its message names), and removing the package. A stand-in viewer,
# installed for KML files as a viewer's package would be, writes down what it
# is asked to open. It installs and removes packages as root, so it runs
# only in a throwaway root, for example Debian 13's:
#   FILES=build/ostrevane_1.0.0-1_amd64.deb SUITE=trixie ../shared/tools/fresh-debian \
#     'FRESH_ROOT=yes sh tests/package/fresh_install_test.sh /work/files/ostrevane_1.0.0-1_amd64.deb'
# usage: FRESH_ROOT=yes fresh_install_test.sh <ostrevane_*.deb>
set -u
deb=$1
[ "${FRESH_ROOT:-}" = yes ] ||
  { echo "refused: this installs and removes packages; run it in a throwaway root with FRESH_ROOT=yes"; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/polling.sh"
work=$(mktemp -d)
fail() {
  echo "FAIL: $*"
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${display_server:-}" ] && kill "$display_server" 2>/dev/null
  exit 1
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
export DEBIAN_FRONTEND=noninteractive

# The desktop the user sits at: a display, openbox, the MIME database, the
# cache of which desktop entries open which type (desktop-file-utils, which
# GLib's file managers read), and GLib's gio, which launches an application
# as a file manager does; and xdotool and xprop for the user's mouse and eyes.
apt-get update -qq || fail "apt-get update"
apt-get install -y -qq --no-install-recommends xvfb xauth openbox xdotool x11-utils \
  shared-mime-info desktop-file-utils libglib2.0-bin >/dev/null || fail "the desktop's packages"
# The package as apt installs it, without what it only recommends, so that
# the globe first meets a desktop without mimetype.
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null || fail "apt-get install $deb"
installed libfile-mimeinfo-perl && fail "libfile-mimeinfo-perl came without recommends"
dpkg-query -W -f='${Recommends}' ostrevane | grep -q libfile-mimeinfo-perl ||
  fail "the package doesn't recommend libfile-mimeinfo-perl"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}, Depends: ${Depends}' ostrevane)"
for file in /usr/bin/ostrevane /usr/bin/ostrevane-convert /usr/share/applications/ostrevane.desktop; do
  [ -f "$file" ] || fail "$file not installed"
done

# The stand-in viewer.
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >"%s/viewer-opened.txt"\n' "$work" >/usr/local/bin/globe-de-remplacement
chmod +x /usr/local/bin/globe-de-remplacement
printf '%s\n' '[Desktop Entry]' 'Type=Application' 'Name=Globe de remplacement' \
  'Exec=globe-de-remplacement %f' 'MimeType=application/vnd.google-earth.kml+xml;' \
  >/usr/share/applications/globe-de-remplacement.desktop

Xvfb :71 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
display_server=$!
export DISPLAY=:71
display_up() { xdotool getmouselocation >/dev/null 2>&1; }
retry 50 display_up || fail "Xvfb did not start"
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
retry 50 wm_up || fail "openbox did not start"

# "Open with Ostrevane": the file manager's list for .nmea logs holds it,
# and launching its entry on a log opens the window and converts the log.
mkdir -p "$work/Sorties" && cp "$here/../../examples/promenade.nmea" "$work/Sorties/" ||
  fail "no example log"
log="$work/Sorties/promenade.nmea"
kml="$work/Sorties/promenade.kml"
[ "$(gio info -a standard::content-type "$log" | sed -n 's/^ *standard::content-type: //p')" = text/x-nmea ] ||
  fail ".nmea logs are not typed text/x-nmea: $(gio info -a standard::content-type "$log")"
gio mime text/x-nmea | grep -q ostrevane.desktop || fail "ostrevane is not offered for .nmea logs: $(gio mime text/x-nmea)"
gio launch /usr/share/applications/ostrevane.desktop "$log" || fail "gio launch failed"
retry 150 find_window 'Convertisseur de fichiers' || fail "\"Open with\" opened no window"
window=$found
written() { [ -f "$kml" ] && tail -c 8 "$kml" | grep -q "</kml>"; }
retry 150 written || fail "\"Open with\" converted nothing"
echo "open with: $kml written"

# The globe, 240..263 x 128..151, on openbox without mimetype: xdg-open takes
# the KML file for XML, the viewer isn't asked, and the window says what to
# install.
xdotool mousemove --window "$window" 252 140 click 1
retry 100 find_window '^Ouvrir le fichier \.kml$' || fail "without mimetype, the globe said nothing"
box=$found
[ -s "$work/viewer-opened.txt" ] && fail "the viewer started without mimetype: the test shows nothing"
echo "globe without mimetype: the window says what to install"
xdotool windowactivate --sync "$box" key --window "$box" Return 2>/dev/null
box_gone() { ! xdotool search --onlyvisible --name '^Ouvrir le fichier \.kml$' >/dev/null 2>&1; }
retry 50 box_gone || fail "the message box stayed open"

# What the message names, the viewer aside (the stand-in is one).
apt-get install -y -qq --no-install-recommends libfile-mimeinfo-perl >/dev/null ||
  fail "apt-get install libfile-mimeinfo-perl"
xdotool mousemove --window "$window" 252 140 click 1
viewer_started() { [ -s "$work/viewer-opened.txt" ]; }
retry 100 viewer_started || fail "with mimetype, the globe started no viewer"
[ "$(cat "$work/viewer-opened.txt")" = "$kml" ] || fail "the viewer got $(cat "$work/viewer-opened.txt"), not $kml"
echo "globe with mimetype: the viewer got $kml"
program=$(xdotool getwindowpid "$window") || fail "the window names no process"
kill "$program"
window_gone() { ! xdotool search --onlyvisible --name 'Convertisseur de fichiers' >/dev/null 2>&1; }
retry 50 window_gone || fail "the window stayed open"

# Removing the package takes its programs, entry and type away.
apt-get remove -y -qq ostrevane >/dev/null || fail "apt-get remove"
installed ostrevane && fail "still installed"
for file in /usr/bin/ostrevane /usr/bin/ostrevane-convert /usr/share/applications/ostrevane.desktop \
  /usr/share/mime/packages/ostrevane.xml; do
  [ -e "$file" ] && fail "$file left behind"
done
gio mime text/x-nmea 2>/dev/null | grep -q ostrevane.desktop && fail "still offered for .nmea logs"
kill "$wm" "$display_server" 2>/dev/null
rm -rf "$work"
echo "ok: installed, opened a log with \"Open with\", the globe reached the viewer, removed ($(. /etc/os-release && echo "$PRETTY_NAME"))"
