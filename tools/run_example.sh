#!/usr/bin/env bash
# Runs the example model end to end: generates the hydrogen/helium data directory once
# (under the build directory), runs mcspec on examples/hydrogen-envelope in a new
# directory under runs/, and draws its spectrum as spectrum.svg.
#
#   usage: tools/run_example.sh BUILDDIR
#   With MCDATA set in the environment, that data directory is used instead of the
#   generated one.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: run_example.sh BUILDDIR}
build=$(cd "$build" && pwd)
example="$repo/examples/hydrogen-envelope"

for exe in mcspec mkdata plot_spectrum; do
  [ -x "$build/$exe" ] || { echo "run_example: $build/$exe is missing; build first (make build)" >&2; exit 1; }
done

# The data directory: the user's, or ours, generated again when mkdata has changed.
if [ -n "${MCDATA:-}" ]; then
  data=$MCDATA
  echo "Using the data directory MCDATA=$data"
else
  data="$build/mcdata-hydrogenic"
  if [ ! -d "$data" ] || [ "$build/mkdata" -nt "$data" ]; then
    bessell=$(bash "$repo/tools/fetch_bessell.sh" "$build/sncosmo-cache") || {
      echo "run_example: stopped: the data directory needs the Bessell filter curves (see above)." >&2
      exit 1
    }
    rm -rf "$data"
    "$build/mkdata" --bessell "$bessell" "$data"
  fi
fi

# A new directory for every run; an earlier run is never touched.
stamp=$(date +%Y%m%d-%H%M%S)
run="$repo/runs/hydrogen-envelope-$stamp"
mkdir -p "$repo/runs"
k=1
while ! mkdir "$run" 2>/dev/null; do
  k=$((k + 1))
  run="$repo/runs/hydrogen-envelope-$stamp-$k"
done
cp "$example/dica.dat" "$example/comp.ind" "$example/hydro.dat" "$run/"

echo "Running mcspec in $run"
start=$(date +%s%N)
set +e
(cd "$run" && MCDATA="$data" "$build/mcspec") 2>&1 | tee "$run/mcspec.out"
status=${PIPESTATUS[0]}
set -e
ms=$((($(date +%s%N) - start) / 1000000))
seconds=$(printf '%d.%d' $((ms / 1000)) $(((ms % 1000) / 100)))
if [ "$status" -ne 0 ]; then
  echo "run_example: mcspec ended with status $status; its output is in $run/mcspec.out" >&2
  exit "$status"
fi

echo
echo "Run finished in ${seconds} s. Results: $run"
echo "  spct.dat  observed-flux spectrum;  sbib.dat  summary and magnitudes;  stst.dat  run log"
"$build/plot_spectrum" "$run/spct.dat" "$run/spectrum.svg" \
  --title "examples/hydrogen-envelope: synthetic spectrum at the object's distance" >/dev/null
echo "  spectrum.svg  the plot: $run/spectrum.svg"
