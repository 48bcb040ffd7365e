# Sourced by the scripts that run Windows programs under Wine. Gives them a
# Wine prefix of their own, apart from the user's ~/.wine: quiet, without
# menu entries written into $HOME, without Mono or Gecko prompts, and with
# the fonts a window needs (a fresh prefix has none).

# ostrevane_wine_env PREFIX: exports the variables Wine reads, and creates
# the prefix on first use (about 15 s; later uses reuse it). Several
# programs may start at once: the first creates it, the others wait. A
# relative PREFIX is taken from the current folder: Wine itself refuses one.
ostrevane_wine_env() {
  export WINEPREFIX
  WINEPREFIX=$(realpath -m -- "$1")
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
  export WINEARCH=win64
  [ -f "$WINEPREFIX/.ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.ready" ]; then
      rm -rf "$WINEPREFIX"
      DISPLAY= wine wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
      if [ -d /usr/share/wine/fonts ]; then
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
      fi
      [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "Wine: impossible de créer $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
