#!/bin/sh
# Inspects the Debian package: its files, its control fields, lintian's
# verdict, and both programs run from its contents.
# usage: package_test.sh <ostrevane_*.deb>
set -u
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

[ "$(basename "$deb")" = ostrevane_1.0.0-1_amd64.deb ] || fail "package named $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' >"$work/contents"
for file in usr/bin/ostrevane usr/bin/ostrevane-convert \
  usr/share/applications/ostrevane.desktop usr/share/mime/packages/ostrevane.xml \
  usr/share/icons/hicolor/32x32/apps/ostrevane.png usr/share/icons/hicolor/48x48/apps/ostrevane.png \
  usr/share/icons/hicolor/128x128/apps/ostrevane.png usr/share/doc/ostrevane/copyright \
  usr/share/doc/ostrevane/changelog.Debian.gz usr/share/man/fr/man1/ostrevane.1.gz \
  usr/share/man/fr/man1/ostrevane-convert.1.gz usr/share/man/man1/ostrevane.1.gz \
  usr/share/man/man1/ostrevane-convert.1.gz; do
  grep -q " \./$file\$" "$work/contents" || fail "$file missing from the package"
done
grep -Ev '^(d|-)r..r..r.. root/root ' "$work/contents" && fail "files not owned by root or not readable by all"
grep -E '^-rwxr-xr-x root/root \./usr/bin/ostrevane$' "$work/contents" >/dev/null || fail "ostrevane not executable"

dpkg-deb -f "$deb" Depends >"$work/depends"
for library in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libxcb1 xdg-utils; do
  grep -q "$library" "$work/depends" || fail "Depends lacks $library: $(cat "$work/depends")"
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.0.0-1 ] || fail "version"

dpkg-deb -x "$deb" "$work/root"
grep -qx 'Exec=ostrevane %f' "$work/root/usr/share/applications/ostrevane.desktop" || fail "Exec line"
grep -qx 'MimeType=text/x-nmea;' "$work/root/usr/share/applications/ostrevane.desktop" || fail "MimeType"
grep -q '<glob pattern="\*.nmea" case-sensitive="true"/>' "$work/root/usr/share/mime/packages/ostrevane.xml" ||
  fail "no *.nmea glob"
# The desktop's MIME database, built from the package's type alone, names
# .nmea files by it (cs: case-sensitive, as the program).
cp -r "$work/root/usr/share/mime" "$work/mime"
update-mime-database "$work/mime" >/dev/null 2>&1 || fail "update-mime-database refuses the type"
grep -q ':text/x-nmea:\*\.nmea:cs$' "$work/mime/globs2" || fail "*.nmea not typed text/x-nmea"
grep -q '^License: Expat' "$work/root/usr/share/doc/ostrevane/copyright" || fail "copyright lacks MIT"
grep -q '^License: SIL-OFL-1.1' "$work/root/usr/share/doc/ostrevane/copyright" || fail "copyright lacks the font's licence"
zcat "$work/root/usr/share/man/fr/man1/ostrevane-convert.1.gz" >"$work/man"
for part in '\\-\\-help' '\\-\\-version' 'CODE DE RETOUR' 'EXEMPLE'; do
  grep -q "$part" "$work/man" || fail "ostrevane-convert(1) lacks $part"
done

# Both languages' ostrevane-convert(1): status 1 covers a standard output
# that can't be written, and the examples include following a log.
while read -r page status_words; do
  zcat "$work/root/usr/share/man/$page/ostrevane-convert.1.gz" | sed 's/\\-/-/g' >"$work/man"
  sed -n '/^\.B 1$/,/^\.TP$/p' "$work/man" | tr '\n' ' ' | grep -q "$status_words" ||
    fail "$page/ostrevane-convert(1): status 1 doesn't mention $status_words"
  grep -q '^\$ ostrevane-convert --suivre ' "$work/man" || fail "$page/ostrevane-convert(1) lacks the --suivre example"
done <<EOF
fr/man1 sortie standard
man1 standard output
EOF

# The programs from the package, against the libraries of this system.
printf '$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n' >"$work/a.nmea"
"$work/root/usr/bin/ostrevane-convert" "$work/a.nmea" >/dev/null || fail "ostrevane-convert from the package"
grep -q '^11.5166666666667,48.1173,0' "$work/a.kml" || fail "no coordinate written"
# Each example of ostrevane-convert(1) that converts, in both languages,
# prints what the program prints when run in a folder holding its logs.
for page in fr/man1 man1; do
  zcat "$work/root/usr/share/man/$page/ostrevane-convert.1.gz" | sed 's/\\-/-/g' |
    awk -v dir="$work/examples-${page%/*}" '
      /^\$ ostrevane-convert / && !/--suivre/ { n++; sub(/^\$ ostrevane-convert /, ""); print >(dir "." n ".args"); printf "" >(dir "." n ".out"); taking = 1; next }
      /^\$ / || /^\.fi$/ { taking = 0 }
      taking { print >>(dir "." n ".out") }'
  examples=0
  for args in "$work/examples-${page%/*}".*.args; do
    [ -f "$args" ] || break
    examples=$((examples + 1))
    rm -rf "$work/example" && mkdir "$work/example"
    eval "set -- $(cat "$args")"
    for name in "$@"; do
      case "$name" in *.nmea) cp "$work/a.nmea" "$work/example/$name" ;; esac
    done
    (cd "$work/example" && "$work/root/usr/bin/ostrevane-convert" "$@") >"$work/printed" 2>&1
    cmp -s "$work/printed" "${args%.args}.out" ||
      fail "$page/ostrevane-convert(1): 'ostrevane-convert $(cat "$args")' prints $(cat "$work/printed"), the page says $(cat "${args%.args}.out")"
  done
  [ "$examples" -ge 2 ] || fail "$page/ostrevane-convert(1): $examples examples found"
done
"$work/root/usr/bin/ostrevane-convert" --help | tr '\n' ' ' | grep -q '1 si .* sortie standard' ||
  fail "--help doesn't say that status 1 covers standard output"
QT_QPA_PLATFORM=offscreen OSTREVANE_AUTORUN="$work/a.nmea" "$work/root/usr/bin/ostrevane" 2>/dev/null ||
  fail "ostrevane from the package"

if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1
  cat "$work/lintian"
  grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
fi
echo "ok: $deb ($(du -k "$deb" | cut -f1) KiB)"
