"""The default example end to end: SN 2011fe near B maximum, on the data directory built
from the shipped sources, shows the absorptions that make a type Ia, each made by its
own element: the trough blueward of Si II 6355, of the S II 5640 component of the 'W'
and of Ca II H&K lies at ejecta velocities and fills in when that element is taken out
of the composition."""

import os
import subprocess
import sys

import pytest

from mcspec.numbers import parse_float

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("MCSPEC_BUILD_DIR", os.path.join(REPO, "build"))
EXAMPLE = os.path.join(REPO, "examples", "sn2011fe-max")
C = 299792.458  # km/s


@pytest.fixture(scope="module")
def runner(tmp_path_factory):
    mcspec = os.path.join(BUILD, "mcspec")
    if not os.access(mcspec, os.X_OK):
        pytest.skip("no mcspec binary at %s (build first, or set MCSPEC_BUILD_DIR)" % mcspec)
    top = tmp_path_factory.mktemp("sn2011fe")
    data = top / "data"
    subprocess.run([sys.executable, os.path.join(REPO, "tools", "build_atomic_data.py"), str(data)],
                   check=True, capture_output=True)
    cache = {}

    def run(without=None):
        """The example's Monte Carlo spectrum {wavelength: flux}, optionally with the
        element of atomic number `without` taken out."""
        if without in cache:
            return cache[without]
        d = top / ("run-%s" % without)
        d.mkdir()
        with open(os.path.join(EXAMPLE, "dica.dat")) as f:
            dica = f.read().split("\n")
        if os.environ.get("MCSPEC_SANITIZED"):
            dica[1] = "    1    3"  # 10000 packets under the sanitizers
        (d / "dica.dat").write_text("\n".join(dica))
        with open(os.path.join(EXAMPLE, "comp.ind")) as f, open(d / "comp.ind", "w") as g:
            for line in f:
                w = line.split()
                g.write("%s %s 0.0000\n" % (w[0], w[1]) if w and int(w[0]) == without else line)
        r = subprocess.run([mcspec], cwd=d, env=dict(os.environ, MCDATA=str(data)), capture_output=True, text=True)
        assert r.returncode == 0, r.stderr + r.stdout[-2000:]
        if without is None:
            assert "Will use default W7 model." in r.stdout
        with open(d / "spct.dat") as f:
            cache[without] = {float(ln[0:9]): parse_float(ln[54:69]) for ln in f if ln.strip()}
        return cache[without]
    return run


@pytest.mark.parametrize("ion, z, rest, most", [("Si II", 14, 6355.0, 0.6), ("S II", 16, 5640.0, 0.75),
                                                ("Ca II", 20, 3951.0, 0.6)])
def test_each_absorption_is_made_by_its_element(runner, ion, z, rest, most):
    full = runner()
    trough = min((w for w in full if rest * (1 - 16000 / C) <= w <= rest * (1 - 8000 / C)), key=full.get)
    assert full[trough] < most * runner(z)[trough], (ion, trough)
    if ion == "Si II":  # observed: about 6140 A, 10000 km/s
        assert 9000 < (1 - trough / rest) * C < 14000, trough
