#!/usr/bin/env bash
# Whole runs of the shared type Ia example, configurations interleaved, medians of the
# wall-clock times and their ratios to a reference build (for example main's):
#   bench/whole_run.sh REFERENCE_MCSPEC [MCSPEC] [REPEATS]
# MCSPEC defaults to build/mcspec, REPEATS to 5. Reports the load average before and
# after: other work on the machine slows every figure, the threaded ones most.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ref=$(readlink -f "${1:?usage: whole_run.sh REFERENCE_MCSPEC [MCSPEC] [REPEATS]}")
new=$(readlink -f "${2:-$repo/build/mcspec}")
reps=${3:-5}
shared="$repo/../shared"
[ -d "$shared/examples/sn-ia-max" ] || { echo "whole_run: $shared/examples/sn-ia-max is absent; nothing to measure"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
configs=("reference|$ref|" "threads=1|$new|MCSPEC_THREADS=1" "threads=2|$new|MCSPEC_THREADS=2"
         "streams, threads=1|$new|MCSPEC_STREAMS=1 MCSPEC_THREADS=1"
         "streams, threads=2|$new|MCSPEC_STREAMS=1 MCSPEC_THREADS=2")
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
for ((r = 0; r < reps; r++)); do
  for i in "${!configs[@]}"; do
    IFS='|' read -r name bin env <<<"${configs[$i]}"
    d="$work/run"
    rm -rf "$d" && mkdir -p "$d" && cp "$shared/examples/sn-ia-max/"* "$d/"
    start=$(date +%s%N)
    (cd "$d" && env MCDATA="$shared/mcdata" $env "$bin" >/dev/null 2>&1)
    end=$(date +%s%N)
    echo "$i $(( (end - start) / 1000 ))e-6" >>"$work/times"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
refmed=$(awk '$1 == 0 {print $2}' "$work/times" | median)
for i in "${!configs[@]}"; do
  IFS='|' read -r name bin env <<<"${configs[$i]}"
  m=$(awk -v i="$i" '$1 == i {print $2}' "$work/times" | median)
  awk -v n="$name" -v m="$m" -v r="$refmed" -v k="$reps" \
    'BEGIN {printf "  %-20s median %6.3f s over %d runs, %5.2fx faster than the reference\n", n, m, k, r / m}'
done
