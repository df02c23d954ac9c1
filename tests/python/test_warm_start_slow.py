"""A warm start does not bias the spectrum: the type Ia example (small: 10000 packets, 8 shells)
started from the radiation field of a neighbouring model (LOGLS +0.05, VPH -5 %) and started
cold, six seeds each, gives band fluxes whose means agree within their seed-to-seed scatter."""
import os
import subprocess

import numpy as np
import pytest
from scipy import stats

from conftest import SHARED
from mcspec.fit import modelfiles
from mcspec.io import read_spct

pytestmark = pytest.mark.slow

EXAMPLE = SHARED / "examples" / "sn-ia-max"
SMALL = {"NP4": 1, "ITT": 2, "JS": 8, "WVM1": 0.3, "KG": 400}
BANDS = [(3500, 4500), (4500, 5500), (5500, 6500), (6500, 8000)]


def run(binary, path, seed, changes=None, warm=None):
    path.mkdir()
    d = modelfiles.Dica((EXAMPLE / "dica.dat").read_text())
    for k, v in {**SMALL, "ISEED": seed, **(changes or {})}.items():
        d.set(k, v)
    (path / "dica.dat").write_text(d.text())
    (path / "comp.ind").write_text((EXAMPLE / "comp.ind").read_text())
    if warm is not None:
        (path / "warmstart.dat").write_text(warm)
    env = dict(os.environ, MCDATA=str(SHARED / "mcdata"), MCSPEC_QUIET="1",
               MCSPEC_THREADS="1")
    subprocess.run([str(binary)], cwd=path, env=env, check=True, stdout=subprocess.DEVNULL)
    s = read_spct(path / "spct.dat")
    return [s[(s[:, 0] >= lo) & (s[:, 0] < hi), 1].mean() for lo, hi in BANDS]


def test_warm_start_agrees_with_cold_within_the_seed_scatter(tmp_path, binary):
    if not EXAMPLE.is_dir():
        pytest.skip("shared example absent")
    d = modelfiles.Dica((EXAMPLE / "dica.dat").read_text())
    near = {"LOGLS": d.get("LOGLS") + 0.05, "VPH": 0.95 * d.get("VPH")}
    run(binary, tmp_path / "near", 99, near)
    field = (tmp_path / "near" / "radfield.dat").read_text()
    seeds = [1001, 2002, 3003, 4004, 5005, 6006]
    cold = np.array([run(binary, tmp_path / f"cold{s}", s) for s in seeds])
    warm = np.array([run(binary, tmp_path / f"warm{s}", s, warm=field) for s in seeds])
    # Difference of the means against its standard error from the scatter of both sets (a
    # t statistic with 10 degrees of freedom): a false alarm in any of the four bands has a
    # chance below 0.4 % (0.1 % per band, two-sided).
    se = np.sqrt(cold.var(axis=0, ddof=1) / len(seeds) + warm.var(axis=0, ddof=1) / len(seeds))
    t = np.abs(warm.mean(axis=0) - cold.mean(axis=0)) / se
    assert np.all(t < stats.t.ppf(1 - 0.0005, 2 * len(seeds) - 2)), \
        f"warm - cold in units of the standard error, per band: {t}"
