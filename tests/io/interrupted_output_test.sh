#!/bin/sh
# Ends a conversion of a large log half-way, as a user or the system would
# (kill -9, and SIGINT, which Wine hands the program as Ctrl-C), and checks
# that the earlier KML file is intact and that no temporary file is left;
# then lets one run to its end, which replaces the earlier file.
# usage: interrupted_output_test.sh <log generator> <work folder> <program...>
# (the program with the emulator that starts it). Exits 77 (skipped) where
# python3 or the log generator is missing.
set -u
generator=$1
work=$2
shift 2

for tool in python3 "$generator"; do
  command -v "$tool" >/dev/null 2>&1 || [ -f "$tool" ] || {
    echo "skipped: $tool is missing"
    exit 77
  }
done

fail() {
  echo "FAIL: $*"
  [ -n "${pid:-}" ] && kill -9 "$pid" 2>/dev/null
  exit 1
}

# Polls every 0.1 s: a conversion is caught in the middle.
retry_step=0.1
. "$(dirname "$0")/../support/polling.sh"

# A log of some 40 MB takes seconds to convert under Wine. Kept between runs
# beside the work folder: making it takes longer than converting it.
big_log="$work.nmea"
if [ ! -s "$big_log" ]; then
  python3 "$generator" --epochs 100000 --out "$big_log.part" && mv "$big_log.part" "$big_log" ||
    fail "cannot make the log"
fi

rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"
cp "$big_log" "$work/trajet.nmea" || fail "cannot copy the log"
kml="$work/trajet.kml"

# What the folder holds besides the log and the KML file.
others() { ls -A "$work" | grep -v -x -e trajet.nmea -e trajet.kml; }
temporary_growing() {
  name=$(others | head -n 1)
  [ -n "$name" ] && [ "$(stat -c %s "$work/$name" 2>/dev/null || echo 0)" -gt 1000000 ]
}
running() { kill -0 "$pid" 2>/dev/null; }
left_as_before() { [ -z "$(others)" ] && [ "$(cat "$kml")" = "$(printf 'earlier\r')" ]; }

for signal in KILL INT; do
  printf 'earlier\r\n' >"$kml"
  (cd "$work" && exec "$@" trajet.nmea) >"$work.output" 2>&1 &
  pid=$!
  until temporary_growing; do
    running || fail "the conversion ended before it was interrupted (SIG$signal)"
    sleep 0.05
  done
  kill -"$signal" "$pid"
  wait "$pid"
  pid=
  # The system removes the temporary once the ended program's handles close.
  retry 50 left_as_before ||
    fail "after SIG$signal: left $(others | tr '\n' ' '); KML starts $(head -c 20 "$kml")"
done

(cd "$work" && exec "$@" trajet.nmea) >"$work.output" 2>&1 || fail "the full run failed"
[ -z "$(others)" ] || fail "the full run left $(others | tr '\n' ' ')"
tail -c 8 "$kml" | grep -q '</kml>' || fail "the full run did not replace the earlier KML file"
echo "ok: interrupted twice, nothing left, the earlier KML file intact each time"
