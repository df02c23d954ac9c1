#!/usr/bin/env bash
# The installation works away from the checkout: installs BUILDDIR into a new temporary
# prefix, runs the installed SN 2011fe example with the installed program and data (found
# on the PATH and through MCDATA, as the install tells), and checks that a copy of the
# Python package outside any checkout finds the installed program on the PATH.
#   usage: tools/test_install.sh BUILDDIR
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: test_install.sh BUILDDIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
[ -f "$build/mcdata/BUILD-REPORT.txt" ] || /usr/bin/python3 "$repo/tools/build_atomic_data.py" "$build/mcdata" >/dev/null
prefix=$tmp/prefix
msg=$(cmake --install "$build" --prefix "$prefix" | grep 'set MCDATA=')
mcdata=$(sed 's/.*set MCDATA=\([^ ]*\) .*/\1/' <<<"$msg")
[ "$mcdata" = "$prefix/share/mcspec/mcdata" ] || { echo "install names MCDATA=$mcdata" >&2; exit 1; }
mkdir "$tmp/run"
cp "$prefix/share/mcspec/examples/sn2011fe-max/"{dica.dat,comp.ind} "$tmp/run/"
(cd "$tmp/run" && env -i PATH="$prefix/bin:/usr/bin:/bin" MCDATA="$mcdata" MCSPEC_QUIET=1 mcspec > out.txt)
grep -q ' Finish Code' "$tmp/run/out.txt" && [ -s "$tmp/run/spct.dat" ] || { echo "the installed run did not finish" >&2; exit 1; }
mkdir "$tmp/py" && cp -r "$repo/python/mcspec" "$tmp/py/"
found=$(cd "$tmp" && env -i PATH="$prefix/bin:/usr/bin:/bin" PYTHONPATH="$tmp/py" /usr/bin/python3 -c \
  'import mcspec; print(mcspec.find_binary())')
[ "$found" = "$prefix/bin/mcspec" ] || { echo "the package found '$found', not $prefix/bin/mcspec" >&2; exit 1; }
echo "installed into $prefix; the example ran there; the package found $found"
