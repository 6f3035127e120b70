# Sourced by the Windows stages: sets up and boots a wine prefix of its own
# for the tests, and stops its wine server when the stage's shell exits.
#   . tools/wine-prefix.sh PREFIX_DIR [win64]
# Exports WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES (and WINEARCH=win64 for a
# 64-bit prefix); sets WINE_LOADER to the loader to boot it with.
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE_LOADER=wine
if [ "${2:-}" = win64 ]; then
  export WINEARCH=win64
  # Debian keeps the 64-bit loader out of PATH.
  WINE_LOADER=/usr/lib/wine/wine64
  [ -x "$WINE_LOADER" ] || WINE_LOADER=$(command -v wine64)
fi
mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true  # already running for this prefix is fine
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# Boot the prefix now, with its output going nowhere: the first program of a
# fresh server starts wine's background services, which inherit that
# program's standard handles; under ctest those are pipes that would then
# never reach end of file.
"$WINE_LOADER" wineboot -i >/dev/null 2>&1 </dev/null || true
