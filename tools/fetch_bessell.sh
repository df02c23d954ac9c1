#!/usr/bin/env bash
# Fetches the Bessell (1990) UBVRI bandpass files that Debian's python3-sncosmo package
# ships, without installing the package or its dependencies: `apt-get download` and
# `dpkg -x` into CACHEDIR. Prints the directory that holds bessell_ux.dat,
# bessell_b.dat, bessell_v.dat and bessell_r.dat; on failure says why on standard
# error and exits with status 3. A second call reuses the cache.
#
#   usage: tools/fetch_bessell.sh CACHEDIR
set -euo pipefail

cache=${1:?usage: fetch_bessell.sh CACHEDIR}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
log="$cache/fetch.log"

fail() {
  echo "fetch_bessell: cannot obtain the Bessell filter curves: $*" >&2
  echo "fetch_bessell: they come from Debian's python3-sncosmo package (apt-get download python3-sncosmo);" \
       "without them no filters.dat is written. Details: $log" >&2
  exit 3
}

find_curves() {
  local u
  u=$(find "$cache/extract" -type f -path '*bandpasses/bessell/bessell_ux.dat' 2>/dev/null | head -n 1)
  [ -n "$u" ] || return 1
  local d
  d=$(dirname "$u")
  for f in bessell_ux.dat bessell_b.dat bessell_v.dat bessell_r.dat; do
    [ -s "$d/$f" ] || return 1
  done
  echo "$d"
}

# One fetch at a time (tests may ask in parallel).
exec 9>"$cache/.lock"
flock 9

if find_curves; then exit 0; fi

command -v apt-get >/dev/null || fail "apt-get is not available on this machine"
command -v dpkg >/dev/null || fail "dpkg is not available on this machine"

: >"$log"
download() {
  rm -f "$cache"/python3-sncosmo_*.deb
  (cd "$cache" && apt-get download python3-sncosmo) >>"$log" 2>&1
}
if ! download; then
  # The package lists may be missing or stale: refresh them once when allowed to.
  if [ "$(id -u)" = 0 ]; then
    apt-get update -q >>"$log" 2>&1 || true
    download || fail "apt-get download python3-sncosmo failed (no network, or no Debian package source?)"
  else
    fail "apt-get download python3-sncosmo failed (no network? run 'apt-get update' as root and try again)"
  fi
fi

deb=$(ls "$cache"/python3-sncosmo_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "apt-get reported success but left no package file"
rm -rf "$cache/extract"
dpkg -x "$deb" "$cache/extract" >>"$log" 2>&1 || fail "dpkg -x could not unpack $deb"
find_curves || fail "the package $deb holds no bandpasses/bessell/bessell_{ux,b,v,r}.dat"
