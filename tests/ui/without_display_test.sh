#!/bin/sh
# Started without any display, the window program must fail with one line
# that says so, not with Qt's list of platform plugins and an abort.
# usage: without_display_test.sh <ostrevane>
program=$1
output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1)
status=$?
echo "$output"
[ "$status" -ne 0 ] && [ "$status" -lt 128 ] || { echo "FAIL: exit status $status"; exit 1; }
[ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] || { echo "FAIL: not one line"; exit 1; }
printf '%s' "$output" | grep -q "affichage" || { echo "FAIL: no word of the display"; exit 1; }
