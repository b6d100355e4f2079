#!/usr/bin/env bash
# make dist-check: this commit, cloned twice into directories of different names and built
# from nothing in each (no compiler cache), gives the same release archives byte for byte:
# no build time and no build path gets into them. Two builds of both programs for both
# targets take minutes: a make target of its own, not part of make test; CI runs it.
set -euo pipefail
cd "$(dirname "$0")/../.."
commit=$(git rev-parse HEAD)
work=$(mktemp -d /tmp/pagorex-dist-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
for copy in one another-copy; do
  git clone -q --no-checkout . "$work/$copy"
  git -C "$work/$copy" checkout -q "$commit"
  echo "dist-check: make dist in $work/$copy"
  (cd "$work/$copy" && CCACHE_DISABLE=1 make dist JOBS="${JOBS:-$(nproc)}" >"$work/$copy.log" 2>&1) ||
    { tail -n 40 "$work/$copy.log"; echo "dist-check: make dist failed in the clone $copy"; exit 1; }
done
if ! diff -r "$work/one/dist" "$work/another-copy/dist"; then
  trap - EXIT
  echo "dist-check: FAILED, the two builds of $commit differ (both kept in $work)"
  exit 1
fi
echo "dist-check: the two builds of $commit gave the same archives: $(cat "$work/one/dist/SHA256SUMS")"
