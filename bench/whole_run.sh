#!/usr/bin/env bash
# Whole runs of the shared type Ia example, configurations interleaved, medians of the
# wall-clock times and their ratios to a reference build (for example main's):
#   bench/whole_run.sh REFERENCE_MCSPEC [MCSPEC] [REPEATS]
# MCSPEC defaults to build/mcspec, REPEATS to 5. SEEDS="S1 S2 ..." runs every repeat
# with each of these seeds instead of the example's own (ISEED).
# How many temperature passes a run takes depends on its random numbers (13 to 21
# Monte Carlo runs for this example), so the two modes, which draw differently, can
# take different numbers of Monte Carlo runs for one seed. The report gives each
# configuration's mean number of Monte Carlo runs and the median time per Monte Carlo
# run (whole run divided by its runs) besides the whole-run time.
# Reports the load average before and after: other work on the machine slows every
# figure, the threaded ones most.
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
read -r -a seeds <<<"${SEEDS:-example}"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores); seeds: ${seeds[*]}"
for ((r = 0; r < reps; r++)); do
  for seed in "${seeds[@]}"; do
    for i in "${!configs[@]}"; do
      IFS='|' read -r name bin env <<<"${configs[$i]}"
      d="$work/run"
      rm -rf "$d" && mkdir -p "$d" && cp "$shared/examples/sn-ia-max/"* "$d/"
      if [ "$seed" != example ]; then
        awk -v s="$seed" 'prev ~ /ISEED/ {$1 = s; $0 = " " $0} {print; prev = $0}' "$d/dica.dat" >"$d/dica.new"
        mv "$d/dica.new" "$d/dica.dat"
      fi
      start=$(date +%s%N)
      (cd "$d" && env MCDATA="$shared/mcdata" MCSPEC_QUIET=1 $env "$bin" >"$d/stdout" 2>&1)
      end=$(date +%s%N)
      runs=$(grep -c "Start Monte Carlo" "$d/stdout" || true)
      echo "$i $(( (end - start) / 1000 ))e-6 $runs" >>"$work/times"
    done
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
refmed=$(awk '$1 == 0 {print $2}' "$work/times" | median)
refper=$(awk '$1 == 0 {print $2 / $3}' "$work/times" | median)
for i in "${!configs[@]}"; do
  IFS='|' read -r name bin env <<<"${configs[$i]}"
  m=$(awk -v i="$i" '$1 == i {print $2}' "$work/times" | median)
  per=$(awk -v i="$i" '$1 == i {print $2 / $3}' "$work/times" | median)
  runs=$(awk -v i="$i" '$1 == i {n++; s += $3} END {printf "%.1f", s / n}' "$work/times")
  awk -v n="$name" -v m="$m" -v r="$refmed" -v p="$per" -v rp="$refper" -v k="$reps" -v u="$runs" \
    'BEGIN {printf "  %-20s median %6.3f s (%4.2fx the reference); %s Monte Carlo runs, %5.1f ms each (%4.2fx)\n", n, m, r / m, u, p * 1e3, rp / p}'
done
