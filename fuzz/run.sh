#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in their own build directory and runs each for a bounded time on seed corpora made
# from the examples, the generated data directory and, where present, slices of the
# shared atomic data. Fails on any crash, sanitizer report, leak or input that takes
# over a second; the input is kept under BUILD/fuzz-artifacts/.
#
#   FUZZ_SECONDS  seconds per harness (default 30)
#   FUZZ_JOBS     harnesses run at the same time (default 2)
#   FUZZ_TARGETS  harnesses to run (default: all)
#   FUZZ_BUILD    build directory (default build-fuzz)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD:-$repo/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}
targets=${FUZZ_TARGETS:-"dica comp zones hydro nbba nbia ihea nama varn1 varn2 filters format"}
shared=${MCSPEC_SHARED_DIR:-$repo/../shared}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMCSPEC_FUZZ=ON -DMCSPEC_TESTS=OFF -DMCSPEC_BENCH=OFF -DMCSPEC_WERROR=OFF >/dev/null
fi
build_targets=(mkdata)
for t in $targets; do build_targets+=("fuzz_$t"); done
if ! cmake --build "$build" -j "$jobs" --target "${build_targets[@]}" >"$build/fuzz-build.log" 2>&1; then
  tail -n 30 "$build/fuzz-build.log" >&2
  echo "fuzz: the build failed (log: $build/fuzz-build.log)" >&2
  exit 1
fi

# The good data directory the harnesses run against (the hydrogen example's).
data="$build/fuzz-data/mcdata"
if [ ! -f "$data/lines/varn2" ] || [ "$build/mkdata" -nt "$data/lines/varn2" ]; then
  rm -rf "$build/fuzz-data"
  mkdir -p "$build/fuzz-data"
  bessell=$repo/data/sources/speclite/speclite/data/filters
  if [ -d "$bessell" ]; then
    ASAN_OPTIONS=detect_leaks=0 "$build/mkdata" --bessell "$bessell" "$data" >/dev/null
  else
    ASAN_OPTIONS=detect_leaks=0 "$build/mkdata" --without-filters "$data" >/dev/null
  fi
fi
export MCSPEC_FUZZ_DATA=$data MCSPEC_FUZZ_RUN=$repo/examples/hydrogen-envelope

# Seed corpora.
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
seed() {  # seed HARNESS NAME FILE [BYTES]: the file, or its first BYTES bytes
  [ -f "$3" ] || return 0
  mkdir -p "$seeds/$1"
  if [ -n "${4:-}" ]; then head -c "$4" "$3" >"$seeds/$1/$2"; else cp "$3" "$seeds/$1/$2"; fi
}
example=$repo/examples/hydrogen-envelope
ia=$shared/examples/sn-ia-max
sd=$shared/mcdata
seed dica hydrogen "$example/dica.dat";  seed dica sn-ia-max "$ia/dica.dat"
seed comp hydrogen "$example/comp.ind";  seed comp sn-ia-max "$ia/comp.ind"
mkdir -p "$seeds/zones"
printf '# two zones\nv_outer H He Ni56\n 9000 0.60 0.38 0.02\n30000 0.70 0.30 0.00\n' >"$seeds/zones/two-zones"
seed zones w7 "$repo/examples/sn2011fe-w7-layered/zones.dat"
seed hydro hydrogen "$example/hydro.dat"; seed hydro w7 "$sd/rhw7.dat"
for f in nbba nbia ihea nama; do seed "$f" generated "$data/$f.ind"; seed "$f" shared "$sd/$f.ind"; done
seed varn1 generated "$data/lines/varn1.new"; seed varn1 shared-slice "$sd/lines/varn1.new" 6000
seed varn2 generated "$data/lines/varn2" 20000; seed varn2 shared-slice "$sd/lines/varn2" 6000
seed filters shared "$sd/filters.dat"; seed filters bessell "$data/filters.dat"
mkdir -p "$seeds/filters" "$seeds/format"
awk 'BEGIN { for (i = 0; i < 109; i++) { w = 3000 + 50 * i; printf "%9.1f%8.3f%8.3f%8.3f%8.3f\n", w, (w < 4000 ? 1 : 0), (w < 5500 ? 0.5 : 0), 0.7, 0.3 } }' \
  >"$seeds/filters/triangles"
printf '\000\001\014\005\003\100\344\000\000\000\000\000' >"$seeds/format/f12.5"
printf '\001\030(/ 5X I6, 2(F8.3, E12.4))\004\000\000\000\000\000\000\000\007\001\100\000\000\000\000\000\000\000' \
  >"$seeds/format/group"

# One run per harness, FUZZ_JOBS at a time.
logs="$build/fuzz-logs"
mkdir -p "$logs" "$build/fuzz-artifacts"
# libFuzzer's timeout is wall-clock time: on a machine busy with other work a process
# can stall past it on an input that takes milliseconds. A timeout whose input runs
# alone in under half a second (the best of three runs) is such a stall, and the
# harness is run again, at most three times in all. Any other failure stands.
fuzz_once() {
  local t=$1 log=$2
  local seeddir=()
  [ -d "$seeds/$t" ] && seeddir=("$seeds/$t")
  "$build/fuzz_$t" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$t-" "$build/fuzz-corpus/$t" "${seeddir[@]}" >"$log" 2>&1
}
alone_ms() {  # the shortest of three runs of one input, in ms
  local best=999999 k ms
  for k in 1 2 3; do
    ms=$("$build/fuzz_$1" "$2" 2>&1 | sed -n 's/^Executed .* in \([0-9]*\) ms$/\1/p' | tail -n 1)
    [ -n "$ms" ] && [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}
run_one() {
  local t=$1 attempt unit ms
  mkdir -p "$build/fuzz-corpus/$t"
  for attempt in 1 2 3; do
    if fuzz_once "$t" "$logs/$t.log"; then
      echo ok >"$logs/$t.status"
      return 0
    fi
    unit=$(sed -n "s/.*Test unit written to \(.*-timeout-[0-9a-f]*\)$/\1/p" "$logs/$t.log" | tail -n 1)
    [ -n "$unit" ] && [ "$attempt" -lt 3 ] || break
    ms=$(alone_ms "$t" "$unit")
    [ "$ms" -lt 500 ] || break
    mv "$logs/$t.log" "$logs/$t.stall$attempt.log"
    mv "$unit" "$unit.stall"
    echo "rerun: an input of ${ms} ms timed out under load ($logs/$t.stall$attempt.log)" >>"$logs/$t.note"
  done
  echo failed >"$logs/$t.status"
  return 0
}
export -f run_one fuzz_once alone_ms
export build seconds seeds logs
rm -f "$logs"/*.status "$logs"/*.note "$logs"/*.stall*.log
echo "fuzz: $seconds s per harness, $jobs at a time: $targets"
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}' || true

status=0
printf '%-8s %-7s %12s %8s %8s %8s\n' harness result executions exec/s cov ft
for t in $targets; do
  r=$(cat "$logs/$t.status" 2>/dev/null || echo missing)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log" | tail -n 1 || true)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$t.log" | tail -n 1 || true)
  cov=$( (grep -o 'cov: [0-9]*' "$logs/$t.log" || true) | tail -n 1 | cut -d' ' -f2)
  ft=$( (grep -o 'ft: [0-9]*' "$logs/$t.log" || true) | tail -n 1 | cut -d' ' -f2)
  printf '%-8s %-7s %12s %8s %8s %8s\n' "$t" "$r" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}"
  [ -f "$logs/$t.note" ] && sed 's/^/         /' "$logs/$t.note"
  if [ "$r" != ok ]; then
    status=1
    echo "---- fuzz_$t: last lines of $logs/$t.log" >&2
    tail -n 40 "$logs/$t.log" >&2 || true
  fi
done
[ $status -eq 0 ] && echo "fuzz: no finding" || echo "fuzz: FINDINGS (inputs in $build/fuzz-artifacts/)" >&2
exit $status
