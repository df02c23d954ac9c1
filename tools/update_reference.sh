#!/usr/bin/env bash
# usage: tools/update_reference.sh [BUILD_DIR]   (default: build)
# Reruns the hydrogen-envelope example at its fixed seed (single sequence) with
# BUILD_DIR/mcspec on a data directory made by BUILD_DIR/mkdata and stores the SHA-256
# of its standard output and of every file it writes in
# tests/reference/hydrogen-envelope.sha256, which the test
# e2e.HydrogenEnvelope.OutputsMatchTheStoredReference compares. Run it after a change
# that is meant to change the outputs, and commit the new digests with the change.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tmp=$(mktemp -d /tmp/mcspec-reference.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
"$build/mkdata" --bessell "$src/data/sources/speclite/speclite/data/filters" "$tmp/data" >/dev/null
mkdir "$tmp/run"
cp "$src"/examples/hydrogen-envelope/{dica.dat,comp.ind,hydro.dat} "$tmp/run/"
(cd "$tmp/run" && env -u MCSPEC_STREAMS -u MCSPEC_THREADS -u MCSPEC_ION_SPECTRUM MCDATA="$tmp/data" \
   "$build/mcspec" > standard-output 2>/dev/null)
cd "$tmp/run" && rm dica.dat comp.ind hydro.dat
LC_ALL=C sha256sum $(LC_ALL=C ls) > "$src/tests/reference/hydrogen-envelope.sha256"
echo "tests/reference/hydrogen-envelope.sha256:"
cat "$src/tests/reference/hydrogen-envelope.sha256"
