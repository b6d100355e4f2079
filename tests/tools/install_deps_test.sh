#!/usr/bin/env bash
# The install step's decisions, with stand-in apt-get and dpkg on PATH: the machine's own
# packages are never touched. Each row: a name, what the stand-ins do, whether this machine
# "runs 32-bit code", the exit code expected and texts the output must hold.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# State lives in $FAKE: installed (one package per line), updates (a line per refresh),
# and the knobs UPDATE_FAILS (how many refreshes fail), UPDATE_NEEDED (an install fails
# until a refresh worked) and UNRESOLVABLE (packages apt cannot place).
cat >"$work/bin/apt-get" <<'SH'
#!/usr/bin/env bash
. "$FAKE/knobs"
case "$1" in
  update)
    echo x >>"$FAKE/updates"
    if [ "$(wc -l <"$FAKE/updates")" -le "${UPDATE_FAILS:-0}" ]; then
      echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      exit 100
    fi
    touch "$FAKE/fresh"; exit 0 ;;
  install)
    shift; sim=0; pkgs=()
    for a in "$@"; do case "$a" in -s) sim=1 ;; -*) ;; *) pkgs+=("$a") ;; esac; done
    if [ -n "${UPDATE_NEEDED:-}" ] && [ ! -f "$FAKE/fresh" ]; then
      echo "E: Unable to locate package ${pkgs[0]}"; exit 100
    fi
    for p in "${pkgs[@]}"; do
      if [[ " ${UNRESOLVABLE:-} " == *" $p "* ]]; then
        echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
        exit 100
      fi
    done
    [ $sim = 1 ] || printf '%s\n' "${pkgs[@]}" >>"$FAKE/installed"
    exit 0 ;;
esac
exit 0
SH
cat >"$work/bin/dpkg" <<'SH'
#!/usr/bin/env bash
case "$1" in
  -s) grep -qxF "$2" "$FAKE/installed" ;;
  --print-foreign-architectures) cat "$FAKE/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$FAKE/arches" ;;
esac
SH
chmod +x "$work/bin/"*

all_required=$(. "$top/tools/install-deps.sh"; printf '%s\n' "${REQUIRED[@]}")

# name | knobs | preinstalled (all, all-but:PKG or none) | runs 32-bit | exit | texts (;-separated)
cases=(
  "index fails once, then works|UPDATE_FAILS=1 UPDATE_NEEDED=1|none|no|0|trying once more;Targets: win64 (x86_64)"
  "32-bit Wine unresolvable|UPDATE_FAILS=9 UNRESOLVABLE=wine32:i386|all|yes|0|32-bit Wine could not be installed: E: Error, pkgProblemResolver::Resolve generated breaks;win32 (i686) left out: 32-bit Wine could not be installed: E: Error, pkgProblemResolver;Mirror sync in progress?"
  "32-bit Wine installs|UPDATE_FAILS=0|all|yes|0|Installing: wine32:i386;Targets: win32 (i686) and win64 (x86_64)"
  "64-bit essential missing|UNRESOLVABLE=wine64|all-but:wine64|yes|1|Cannot go on: wine64 could not be installed"
)

fails=0
for row in "${cases[@]}"; do
  IFS='|' read -r name knobs pre runs32 want texts <<<"$row"
  export FAKE="$work/$RANDOM$RANDOM"
  mkdir -p "$FAKE" "$FAKE/build"
  tr ' ' '\n' <<<"$knobs" >"$FAKE/knobs"
  case "$pre" in
    all) echo "$all_required" >"$FAKE/installed" ;;
    all-but:*) grep -vxF "${pre#all-but:}" <<<"$all_required" >"$FAKE/installed" ;;
    none) : >"$FAKE/installed" ;;
  esac
  out=$(PATH="$work/bin:$PATH" PAGOREX_APT_RETRY_WAIT=0 bash -c '
    . "$1/tools/install-deps.sh"
    if [ "$2" = yes ]; then can_run_32bit() { WHY_NO_32=""; return 0; }
    else can_run_32bit() { WHY_NO_32="no 32-bit code here"; return 1; }; fi
    main "$FAKE/build"; rc=$?
    [ $rc = 0 ] && targets_line "$FAKE/build"
    exit $rc' _ "$top" "$runs32" 2>&1)
  rc=$?
  problem=""
  [ "$rc" = "$want" ] || problem="exit code $rc, expected $want"
  IFS=';' read -r -a wanted <<<"$texts"
  for t in "${wanted[@]}"; do
    [[ "$out" == *"$t"* ]] || problem="${problem:+$problem; }no \"$t\" in the output"
  done
  if [ "$want" = 0 ] && [ -n "$(grep -vxFf "$FAKE/installed" <<<"$all_required")" ]; then
    problem="${problem:+$problem; }a required package was not installed"
  fi
  if [ -n "$problem" ]; then
    echo "FAILED: $name: $problem"; echo "$out" | sed 's/^/    /'; fails=$((fails + 1))
  else
    echo "ok: $name"
  fi
done
echo "$((${#cases[@]} - fails)) of ${#cases[@]} cases passed"
[ $fails = 0 ]
