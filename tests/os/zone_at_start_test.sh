#!/bin/sh
# Runs SystemTimeZone.ReportsTheZoneItStartedIn in a program started in the
# zone ZONE (TZ), with what this machine's C library says of that zone now.
#   zone_at_start_test.sh ZONE EMULATOR... TEST-PROGRAM
set -eu
zone=$1
shift
TZ=$zone
export TZ
OSTREVANE_EXPECTED_ZONE=$(python3 -c '
import time
time.tzset()
now = time.localtime()
state = 0 if not time.daylight else (2 if now.tm_isdst > 0 else 1)
print(time.timezone // 60, -now.tm_gmtoff // 60, state)')
export OSTREVANE_EXPECTED_ZONE
echo "TZ=$TZ OSTREVANE_EXPECTED_ZONE=$OSTREVANE_EXPECTED_ZONE"
exec "$@" --gtest_filter=SystemTimeZone.ReportsTheZoneItStartedIn
