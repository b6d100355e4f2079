#!/usr/bin/env bash
# Starts the program for record 1 of a demo store in the build tree. With a display it
# runs until you close it; without one it runs in Xvfb through a short scripted session.
set -eu
BUILD=${1:-build}
DEMO="$BUILD/demo"
if [ ! -f "$DEMO/pagorex.idx" ]; then
  python3 tools/demo-store.py "$DEMO"
fi
WIN_DEMO="$("$BUILD/wine-run" winepath -w "$(realpath "$DEMO")" 2>/dev/null | tr -d '\r')"
echo "Demo store: $DEMO ($WIN_DEMO)"
if [ -n "${DISPLAY:-}" ] && [ -z "${PAGOREX_SCRIPTED:-}" ]; then
  exec "$BUILD/wine-run" "$BUILD/bin/pagorex.exe" 1 "$WIN_DEMO\\HOST.DB"
fi
"$BUILD/wine-run" --start
"$BUILD/wine-run" "$BUILD/bin/pgxdrive.exe" "$BUILD/bin/pagorex.exe" "$WIN_DEMO" "1 $WIN_DEMO\\HOST.DB" \
  wait show sleep:1500 close
