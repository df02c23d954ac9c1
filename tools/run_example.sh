#!/usr/bin/env bash
# Runs the example model end to end: generates the hydrogen/helium data directory once
# (under the build directory), runs mcspec on examples/hydrogen-envelope in a new
# directory under runs/, and plots it (spectrum.png/.svg, temperature.png/.svg).
#
#   usage: tools/run_example.sh BUILDDIR
#   With MCDATA set in the environment, that data directory is used instead of the
#   generated one.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: run_example.sh BUILDDIR}
build=$(cd "$build" && pwd)
example="$repo/examples/hydrogen-envelope"

for exe in mcspec mkdata; do
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
# Plots (spectrum with the observed one where there is one, temperature passes, ions
# with MCSPEC_ION_SPECTRUM=1) and the comparison, by the Python package.
observed=()
obs="$repo/data/observed/SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat"
case "$example" in *sn2011fe*) [ -f "$obs" ] && observed=(--observed "$obs" --observed-label "SN 2011fe, HST/STIS, +0.1 d") ;; esac
if /usr/bin/python3 -c 'import numpy, matplotlib' 2>/dev/null; then
  PYTHONPATH="$repo/python" /usr/bin/python3 -m mcspec report "$run" "${observed[@]}" --formats png,svg
else
  echo "run_example: no plots: Debian's python3-numpy and python3-matplotlib are needed (apt-get install python3-numpy python3-matplotlib)" >&2
fi
