# Sourced by the end-to-end test scripts: waiting for what a program does
# on its own time, without ever waiting forever.

# Polls `$@` every $retry_step seconds (0.2 unless set) for up to $1 tries.
retry() {
  tries=$1
  shift
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep "${retry_step:-0.2}"
  done
}

# The first visible X window whose name matches the regular expression $1,
# in $found.
find_window() {
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
  [ -n "$found" ]
}
