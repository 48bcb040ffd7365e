#!/usr/bin/env bash
# A real KML client follows a log while it is written: CesiumJS in headless
# Chromium (../shared/tools/globe-viewer) opens the companion of
# `ostrevane-convert --suivre` while a writer appends a 10 Hz receiver's log
# at its own pace; then following stops. Passes when the viewer ends up
# holding exactly the points of the one-shot conversion of the whole log,
# with no error; prints what the viewer read.
#   tests/run/globe_viewer_check.sh CONVERT [WRITE_SECONDS] [HOURS_ALREADY] [INTERVAL]
set -euo pipefail
convert=$(realpath "$1")
write_seconds=${2:-60}
hours_already=${3:-0.25}
interval=${4:-0.2}
root=$(cd "$(dirname "$0")/../.." && pwd)
viewer=${GLOBE_VIEWER:-$root/../shared/tools/globe-viewer}
generator=$root/../shared/bench/make-nmea-log.py
for needed in "$viewer" "$generator"; do
  [ -e "$needed" ] || { echo "globe viewer check: $needed missing, skipped"; exit 0; }
done
work=$(mktemp -d)
follower=
writer=
cleanup() {
  for p in $writer $follower; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Ten epochs of the generator make a second of a 10 Hz receiver.
already=$(python3 -c "print(int($hours_already * 36000))")
python3 "$generator" --epochs $((already + write_seconds * 10)) --eol crlf --out "$work/source.nmea"
head -n $((already * 6)) "$work/source.nmea" >"$work/live.nmea"
tail -n +$((already * 6 + 1)) "$work/source.nmea" >"$work/to-come.nmea"

"$convert" --suivre --intervalle="$interval" "$work/live.nmea" >"$work/follower.out" 2>&1 &
follower=$!
for _ in $(seq 100); do [ -s "$work/live.suivi.kml" ] && break; sleep 0.1; done
[ -s "$work/live.suivi.kml" ] || { echo "no companion"; cat "$work/follower.out"; exit 1; }

# Six sentences every tenth of a second, as the receiver writes them.
python3 - "$work/to-come.nmea" "$work/live.nmea" <<'PY' &
import sys, time
lines = open(sys.argv[1], "rb").readlines()
start = time.monotonic()
with open(sys.argv[2], "ab", buffering=0) as log:
    for i in range(0, len(lines), 6):
        time.sleep(max(0, start + i / 60 - time.monotonic()))
        log.write(b"".join(lines[i:i + 6]))
PY
writer=$!

# The viewer watches the writing, the stop, and long enough after it for
# every list to be reloaded once more (the last is reloaded every 512
# intervals).
watch=$(python3 -c "print(int($write_seconds + 20 + 512 * $interval + 10))")
"$viewer" "$work/live.suivi.kml" "$watch" >"$work/viewer.out" 2>&1 &
viewing=$!
wait "$writer"
writer=
sleep 5
# A background job of a script ignores SIGINT: SIGTERM, as a service manager sends.
kill -TERM "$follower"
wait "$follower" || { echo "the follower failed"; cat "$work/follower.out"; exit 1; }
follower=
# The viewer installs CesiumJS from the npm registry on first use, quietly:
# where that failed, say so rather than leave only apt's lines.
viewer_failed() {
  echo "the viewer failed"
  cat "$work/viewer.out"
  [ -d /var/tmp/globe-viewer/node_modules/cesium ] ||
    echo "CesiumJS is not in /var/tmp/globe-viewer: npm could not install it (is the npm registry reachable, its certificate trusted?)"
  exit 1
}
wait "$viewing" || viewer_failed

[ -z "${KEEP_VIEWER_OUTPUT:-}" ] || cp "$work/viewer.out" "$KEEP_VIEWER_OUTPUT"
cp "$work/live.nmea" "$work/whole.nmea"
"$convert" "$work/whole.nmea" >/dev/null
cmp "$work/whole.kml" "$work/live.kml" || { echo "the final KML file differs from the one-shot conversion"; exit 1; }
expected=$(awk '/<coordinates>/{on=1; next} /<\/coordinates>/{on=0} on' "$work/whole.kml" | wc -l)
# Every tenth second, and the bytes it read in a second (no head: a cut pipe
# would fail the check).
grep -E '^[0-9:]+ points' "$work/viewer.out" | awk 'NR % 10 == 1'
grep -E 'read by the viewer in one second|^what the viewer read' "$work/viewer.out" || true
held=$(grep -E '^[0-9:]+ points' "$work/viewer.out" | tail -n 1 | awk '{print $3}')
echo "one-shot conversion: $expected points; the viewer holds $held at the end"
if grep -q "viewer error" "$work/viewer.out"; then grep -m 5 "viewer error" "$work/viewer.out"; exit 1; fi
[ "$held" = "$expected" ]
