"""The Python tests' one harness: the program and mkdata of the build, a generated hydrogen
data directory, the data directory built from the shipped sources, a run of the hydrogen
example (with ionspec.dat) and of the shared type Ia example, and `run_example` for runs of
a test's own; all through mcspec.run. Tests skip with a message when a part is absent."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import mcspec

REPO = Path(__file__).resolve().parents[2]
SHARED = Path(os.environ.get("MCSPEC_SHARED_DIR", REPO.parent / "shared"))
SANITIZED = bool(os.environ.get("MCSPEC_SANITIZED"))


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: long tests, run by their own CTest entry")


@pytest.fixture(scope="session")
def binary():
    try:
        return mcspec.find_binary()
    except mcspec.McspecError as e:
        pytest.skip(str(e))


@pytest.fixture(scope="session")
def hydrogen_data(tmp_path_factory, binary):
    """mkdata's hydrogen and helium data with flat filter curves (enough for a run, not
    for real magnitudes)."""
    mkdata = Path(os.environ.get("MCSPEC_MKDATA", binary.parent / "mkdata"))
    if not mkdata.exists():
        pytest.skip(f"{mkdata} missing: build the tools (make build)")
    d = tmp_path_factory.mktemp("data") / "hydrogenic"
    subprocess.run([str(mkdata), "--without-filters", str(d)], check=True, capture_output=True)
    (d / "filters.dat").write_text("".join(f"{3000 + 50 * i:9.1f}" + "   1.000" * 4 + "\n" for i in range(109)))
    return d


@pytest.fixture(scope="session")
def atomic_data(tmp_path_factory):
    """The data directory built by tools/build_atomic_data.py from data/sources."""
    out = tmp_path_factory.mktemp("built") / "mcdata"
    r = subprocess.run([sys.executable, str(REPO / "tools" / "build_atomic_data.py"), str(out)],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return out


@pytest.fixture(scope="session")
def run_example(tmp_path_factory, binary):
    """run_example(example, mcdata, **kw): mcspec.run of an example in a new directory
    (10000 packets under the sanitizers)."""
    def run(example, mcdata, **kw):
        if SANITIZED:
            kw["np4"] = 1
        return mcspec.run(example=example, mcdata=mcdata, workdir=tmp_path_factory.mktemp("runs") / "run", **kw)
    return run


@pytest.fixture(scope="session")
def hydrogen_run(run_example, hydrogen_data):
    """The hydrogen example with 10000 packets, one final pass and its ionspec.dat."""
    return run_example(REPO / "examples" / "hydrogen-envelope", hydrogen_data, np4=1, itt=1,
                       env={"MCSPEC_ION_SPECTRUM": "1", "MCSPEC_QUIET": "1"})


@pytest.fixture(scope="session")
def ia_run(run_example):
    ex, data = SHARED / "examples" / "sn-ia-max", SHARED / "mcdata"
    if not (ex / "dica.dat").exists() or not (data / "ihea.ind").exists():
        pytest.skip(f"no shared type Ia example and atomic data at {SHARED}")
    return run_example(ex, data, env={"MCSPEC_QUIET": "1"})


# A fit of the SN 2011fe example's parameters with a fake program (tests/python/fit).
FIT_CONFIG = """
[model]
dir = "model"
mcdata = "model"
binary = "/bin/true"
[observed]
file = "obs.dat"
windows = [[3500.0, 9000.0]]
[parameters]
LOGLS = [9.3, 9.8]
VPH = [7000.0, 13000.0]
"X(Si)" = [0.1, 0.7]
[fit]
max_evaluations = 30
popsize = 3
seed = 3
output = "out"
"""


def fit_dir(path, config, **model):
    """path with fit.toml, a flat obs.dat (1 % errors) and model/ holding the example's dica.dat
    and the given files (comp="..." is model/comp.ind, zones="..." model/zones.dat)."""
    import numpy as np
    (path / "model").mkdir()
    (path / "model" / "dica.dat").write_text((REPO / "examples" / "sn2011fe-max" / "dica.dat").read_text())
    for name, text in model.items():
        (path / "model" / {"comp": "comp.ind", "zones": "zones.dat"}[name]).write_text(text)
    w = np.linspace(3000, 9500, 200)
    np.savetxt(path / "obs.dat", np.c_[w, np.ones_like(w), 0.01 * np.ones_like(w)])
    (path / "fit.toml").write_text(config)
    return path
