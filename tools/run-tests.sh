#!/usr/bin/env bash
# make test: runs the Windows test programs of every target this machine can run under
# Wine, and the native tests once. A target left out is said so and never counted as
# passed. Ends with one line of totals.
set -u
BUILD=${1:-build}
shift || true
cd "$(dirname "$0")/.."
. tools/targets.sh

if can_run_win32 "$BUILD"; then
  suites=(win32 win64)
  left_out=""
else
  suites=(win64)
  left_out=yes
fi

passed=0 failed=0 status=0
run_suite() {  # dir label ctest-args...
  local dir=$1 label=$2 log
  shift 2
  log=$(mktemp)
  echo "== $label"
  (cd "$dir" && ctest --output-on-failure -j 2 "$@" ${CTEST_ARGS:-}) 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -n "$line" ]; then
    local f t
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
    passed=$((passed + t - f)); failed=$((failed + f))
  elif [ "$rc" -ne 0 ]; then
    failed=$((failed + 1))
  fi
  [ "$rc" -eq 0 ] || status=1
}

for t in "${suites[@]}"; do
  # With both widths, the 64-bit suite's shared-store test also runs 32-bit programs.
  if [ "$t" = win64 ] && [ -z "$left_out" ]; then
    export PAGOREX_OTHER_WIDTH_BIN="$(realpath "$BUILD/win32/bin")"
  fi
  run_suite "$BUILD/$t" "Windows tests, $t, under Wine" -LE native
  unset PAGOREX_OTHER_WIDTH_BIN
done
run_suite "$BUILD/win64" "Native tests (sanitizers) and fuzz runs" -L native

echo
targets_line "$BUILD"
echo "Total: $passed passed, $failed failed"
exit $status
