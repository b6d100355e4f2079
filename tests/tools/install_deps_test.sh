#!/usr/bin/env bash
# The install step's decisions with stand-in apt-get and dpkg on PATH (the machine's packages
# are never touched). State in $FAKE: installed, updates, and knobs: UPDATE_FAILS (refreshes
# that fail), UPDATE_NEEDED (installs fail until a refresh worked), UNRESOLVABLE (packages).
set -u
top=$(cd "$(dirname "$0")/../.." && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'SH'
#!/usr/bin/env bash
. "$FAKE/knobs"
if [ "$1" = update ]; then
  echo x >>"$FAKE/updates"
  [ "$(wc -l <"$FAKE/updates")" -gt "${UPDATE_FAILS:-0}" ] && touch "$FAKE/fresh" && exit 0
  echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"; exit 100
fi
pkgs=$(printf '%s\n' "${@:2}" | grep -v '^-')
[ -z "${UPDATE_NEEDED:-}" ] || [ -f "$FAKE/fresh" ] || { echo "E: Unable to locate package $pkgs"; exit 100; }
for p in $pkgs; do
  [[ " ${UNRESOLVABLE:-} " != *" $p "* ]] || { echo "E: Error, pkgProblemResolver::Resolve generated breaks"; exit 100; }
done
[[ " $* " == *" -s "* ]] || echo "$pkgs" >>"$FAKE/installed"
SH
cat >"$work/bin/dpkg" <<'SH'
#!/usr/bin/env bash
case "$1" in -s) grep -qxF "$2" "$FAKE/installed" ;; --print-foreign-architectures) cat "$FAKE/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$FAKE/arches" ;; esac
SH
chmod +x "$work/bin/"*
required=$(. "$top/tools/install-deps.sh"; printf '%s\n' "${REQUIRED[@]}")

# name | knobs | preinstalled (all, all-but:PKG, none) | runs 32-bit | exit | texts (;-separated)
cases=(
  "index fails once, then works|UPDATE_FAILS=1 UPDATE_NEEDED=1|none|no|0|trying once more;Targets: win64 (x86_64)"
  "32-bit Wine unresolvable|UPDATE_FAILS=9 UNRESOLVABLE=wine32:i386|all|yes|0|32-bit Wine could not be installed: E: Error, pkgProblemResolver::Resolve generated breaks;win32 (i686) left out: 32-bit Wine could not be installed: E: Error, pkgProblemResolver;Mirror sync in progress?"
  "32-bit Wine installs|UPDATE_FAILS=0|all|yes|0|Installing: wine32:i386;Targets: win32 (i686) and win64 (x86_64)"
  "64-bit essential missing|UNRESOLVABLE=wine64|all-but:wine64|yes|1|Cannot go on: wine64 could not be installed"
)
fails=0
for row in "${cases[@]}"; do
  IFS='|' read -r name knobs pre runs32 want texts <<<"$row"
  export FAKE="$work/$RANDOM$RANDOM"; mkdir -p "$FAKE/build"; tr ' ' '\n' <<<"$knobs" >"$FAKE/knobs"
  case "$pre" in all) echo "$required" ;; all-but:*) grep -vxF "${pre#all-but:}" <<<"$required" ;; esac >"$FAKE/installed"
  out=$(PATH="$work/bin:$PATH" PAGOREX_APT_RETRY_WAIT=0 bash -c '. "$1/tools/install-deps.sh"; runs32=$2
    can_run_32bit() { WHY_NO_32="no 32-bit code here"; [ "$runs32" = yes ]; }
    main "$FAKE/build" && targets_line "$FAKE/build"' _ "$top" "$runs32" 2>&1)
  rc=$? problem=""
  [ "$rc" = "$want" ] || problem="exit code $rc, expected $want"
  IFS=';' read -r -a wanted <<<"$texts"
  for t in "${wanted[@]}"; do [[ "$out" == *"$t"* ]] || problem+="; no \"$t\" in the output"; done
  [ "$want" != 0 ] || [ -z "$(grep -vxFf "$FAKE/installed" <<<"$required")" ] || problem+="; a required package is missing"
  if [ -n "$problem" ]; then echo "FAILED: $name: $problem"; sed 's/^/    /' <<<"$out"; fails=$((fails + 1)); else echo "ok: $name"; fi
done
echo "$((${#cases[@]} - fails)) of ${#cases[@]} cases passed"
[ $fails = 0 ]
