#!/usr/bin/env bash
# Runs an example model end to end: makes sure its atomic-data directory exists (built
# once under the build directory and reused), runs mcspec on examples/EXAMPLE in a new
# directory under runs/, then draws and reports the spectrum. The program's own messages
# (standard output) go to RUN/mcspec.log; the terminal shows its progress and warnings
# (standard error, also kept in the log), where the results are and the comparison.
#
#   usage: tools/run_example.sh BUILDDIR [EXAMPLE]      EXAMPLE defaults to sn2011fe-max
#
# sn2011fe-max (and any other example) runs on the data directory built from the public
# sources in data/sources (BUILDDIR/mcdata, `make data`); hydrogen-envelope runs on the
# hydrogen-only directory written by mkdata (BUILDDIR/mcdata-hydrogenic). With MCDATA set
# in the environment, that data directory is used instead.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: run_example.sh BUILDDIR [EXAMPLE]}
build=$(cd "$build" && pwd)
name=${2:-sn2011fe-max}
example="$repo/examples/$name"
[ -f "$example/dica.dat" ] && { [ -f "$example/comp.ind" ] || [ -f "$example/zones.dat" ]; } || {
  echo "run_example: no example '$name' (examples/$name/dica.dat and comp.ind or zones.dat); choose one of:" \
       "$(cd "$repo/examples" && ls -d */ | tr -d / | tr '\n' ' ')" >&2
  exit 1
}

for exe in mcspec mkdata; do
  [ -x "$build/$exe" ] || { echo "run_example: $build/$exe is missing; build first (make build)" >&2; exit 1; }
done
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3 || true)}

# The data directory: the user's, or one of ours, made again when its maker has changed.
if [ -n "${MCDATA:-}" ]; then
  data=$MCDATA
  echo "Using the data directory MCDATA=$data"
elif [ "$name" = hydrogen-envelope ]; then
  data="$build/mcdata-hydrogenic"
  if [ ! -d "$data" ] || [ "$build/mkdata" -nt "$data" ]; then
    rm -rf "$data"
    "$build/mkdata" --bessell "$repo/data/sources/speclite/speclite/data/filters" "$data"
  fi
else
  data="$build/mcdata"
  if [ ! -f "$data/BUILD-REPORT.txt" ] || [ "$repo/tools/build_atomic_data.py" -nt "$data/BUILD-REPORT.txt" ]; then
    [ -n "$python" ] || { echo "run_example: building the atomic data needs python3 (apt-get install python3)" >&2; exit 1; }
    rm -rf "$data"
    "$python" "$repo/tools/build_atomic_data.py" "$data"
  fi
fi

# A new directory for every run; an earlier run is never touched.
stamp=$(date +%Y%m%d-%H%M%S)
tag=${name//\//-}   # an epoch of a sequence (sn2011fe-tomography/17.7d): one directory level
run="$repo/runs/$tag-$stamp"
mkdir -p "$repo/runs"
k=1
while ! mkdir "$run" 2>/dev/null; do
  [ -d "$repo/runs" ] || { echo "run_example: cannot make $repo/runs" >&2; exit 1; }
  k=$((k + 1))
  run="$repo/runs/$tag-$stamp-$k"
done
for f in dica.dat comp.ind zones.dat hydro.dat; do
  [ -f "$example/$f" ] && cp "$example/$f" "$run/"
done

log="$run/mcspec.log"
echo "Running mcspec in $run (its messages: mcspec.log)"
start=$(date +%s%N)
set +e
# The per-ion spectrum (ionspec.dat) feeds the plot of the escaping light by ion; it changes
# no other output. Standard output to the log only; standard error to the terminal and the
# log (both appending, so the log keeps the order of the two).
: > "$log"
(cd "$run" && MCDATA="$data" MCSPEC_ION_SPECTRUM=${MCSPEC_ION_SPECTRUM:-1} "$build/mcspec" 2>&1 >> "$log") | tee -a "$log" >&2
status=${PIPESTATUS[0]}
set -e
ms=$((($(date +%s%N) - start) / 1000000))
seconds=$(printf '%d.%d' $((ms / 1000)) $(((ms % 1000) / 100)))
if [ "$status" -ne 0 ]; then
  echo "run_example: mcspec ended with status $status; the end of its messages ($log):" >&2
  tail -n 15 "$log" >&2
  exit "$status"
fi

echo "Run finished in ${seconds} s. Results: $run"
echo "  spct.dat  observed-flux spectrum;  sbib.dat  summary and magnitudes;  stst.dat  run log;  mcspec.log  messages"
[ -f "$run/composition.dat" ] && echo "  composition.dat  mass fractions by shell after radioactive decay"

# ---------------------------------------------------------------- plot and report
# The one place where the finished run is drawn and compared; everything above only
# prepares and runs it. Arguments available here: $run (the run directory), $name (the
# example), $example (its inputs), $data (the atomic data), $repo, $build.
# Plots (spectrum with the observed one where there is one, temperature passes, ions
# with MCSPEC_ION_SPECTRUM=1) and the comparison, by the Python package.
observed=()
obs="$repo/data/observed/SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat"
case "$example" in *sn2011fe*) [ -f "$obs" ] && observed=(--observed "$obs" --observed-label "SN 2011fe, HST/STIS, +0.1 d") ;; esac
# An example may name its own observed spectrum: observed.txt, line 1 the file (relative to
# the repository), line 2 its label.
if [ -f "$example/observed.txt" ]; then
  obs="$repo/$(sed -n 1p "$example/observed.txt")"
  [ -f "$obs" ] && observed=(--observed "$obs" --observed-label "$(sed -n 2p "$example/observed.txt")")
fi
if /usr/bin/python3 -c 'import numpy, matplotlib' 2>/dev/null; then
  # One line for the plots instead of one per file written.
  PYTHONPATH="$repo/python" /usr/bin/python3 -m mcspec report "$run" "${observed[@]}" --formats png,svg \
    | { grep -v '^wrote ' || true; }
  [ "${PIPESTATUS[0]}" -eq 0 ] || exit 1
  echo "  plots: $(cd "$run" && ls ./*.svg | sed 's|^\./||; s|\.svg$||' | tr '\n' ' ')(.png and .svg)"
else
  echo "run_example: no plots: Debian's python3-numpy and python3-matplotlib are needed (apt-get install python3-numpy python3-matplotlib)" >&2
fi
