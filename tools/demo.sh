#!/usr/bin/env bash
# Starts the program for record 1 of a demo store in the build tree, with the virtual
# scanner as its TWAIN source. With a display it runs until you close it (File >
# Acquire... scans a page; Save Image keeps it). Without one it runs in Xvfb through a
# scripted session: acquire a page, press Scan in the scanner's window, save the page
# into the store, close, and print what happened.
#
#   demo.sh BUILD [win32|win64]   the 32-bit program where this machine runs 32-bit code,
#                                 otherwise the 64-bit one, unless a target is named
set -eu
cd "$(dirname "$0")/.."
. tools/targets.sh
TOP=${1:-build}
TARGET=${2:-}
if [ -z "$TARGET" ]; then
  if can_run_win32 "$TOP"; then
    TARGET=win32
    echo "Running the 32-bit program ($TOP/win32)."
  else
    TARGET=win64
    echo "Running the 64-bit program ($TOP/win64): $WHY_NO_WIN32."
  fi
else
  echo "Running the $TARGET program."
fi
BUILD="$TOP/$TARGET"
DEMO="$TOP/demo"
if [ ! -f "$DEMO/pagorex.idx" ]; then
  python3 tools/demo-store.py "$DEMO"
fi
WIN_DEMO="$("$BUILD/wine-run" winepath -w "$(realpath "$DEMO")" 2>/dev/null | tr -d '\r')"
echo "Demo store: $DEMO ($WIN_DEMO)"
# The scanner writes every TWAIN call it receives here.
export VSCANNER_LOG="$WIN_DEMO\\scanner.log"
rm -f "$DEMO/scanner.log"
if [ -n "${DISPLAY:-}" ] && [ -z "${PAGOREX_SCRIPTED:-}" ]; then
  exec "$BUILD/wine-run" "$BUILD/bin/pagorex.exe" 1 "$WIN_DEMO\\HOST.DB"
fi
"$BUILD/wine-run" --start
# Nothing of the session stays behind: the wineserver and the Xvfb started for it end.
trap '"$BUILD/wine-run" --stop' EXIT
echo "Scripted session: record 1 opens with its stored image; File > Acquire... (100) scans"
echo "a page from the virtual scanner, whose window is answered with Scan; Save Image (115)"
echo "stores it; the window is closed."
"$BUILD/wine-run" "$BUILD/bin/pgxdrive.exe" "$BUILD/bin/pagorex.exe" "$WIN_DEMO" "1 $WIN_DEMO\\HOST.DB" \
  wait show index post:100 "dialog:1:Virtual Scanner" sleep:1000 show cmd:115 index sleep:1000 close
echo "The scanner saw:"
grep -E "MSG_OPENDS|MSG_ENABLEDS|dialog: |XFERDONE|MSG_CLOSEDS" "$DEMO/scanner.log" | sed 's/^/  /' || true
echo "The next run for record 1 shows the scanned page."