"""Shared runs for the Python tests: the program, a generated hydrogen data directory,
a run of the hydrogen example, and a run of the shared type Ia example when ../shared
is present (skipped with a message otherwise)."""

import os
import subprocess
from pathlib import Path

import pytest

import mcspec

REPO = Path(__file__).resolve().parents[2]
SHARED = Path(os.environ.get("MCSPEC_SHARED_DIR", REPO.parent / "shared"))


def flat_filters(path):
    """A filters.dat with the program's 109-row layout (3000..8400 A) and flat
    transmissions: enough for a run, not for real magnitudes."""
    with open(path, "w") as f:
        for i in range(109):
            f.write(f"{3000 + 50 * i:9.1f}" + "   1.000" * 4 + "\n")


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
    mkdata = Path(os.environ.get("MCSPEC_MKDATA", binary.parent / "mkdata"))
    if not mkdata.exists():
        pytest.skip(f"{mkdata} missing: build the tools (make build)")
    d = tmp_path_factory.mktemp("data") / "hydrogenic"
    subprocess.run([str(mkdata), "--without-filters", str(d)], check=True, capture_output=True)
    flat_filters(d / "filters.dat")
    return d


@pytest.fixture(scope="session")
def hydrogen_run(tmp_path_factory, hydrogen_data):
    """The hydrogen example with 20000 packets (10000 under the sanitizers; its own inputs otherwise)."""
    np4 = 1 if os.environ.get("MCSPEC_SANITIZED") else 2
    return mcspec.run(example=REPO / "examples" / "hydrogen-envelope", mcdata=hydrogen_data, np4=np4,
                      workdir=tmp_path_factory.mktemp("runs") / "hydrogen")


@pytest.fixture(scope="session")
def ia_run(tmp_path_factory, binary):
    ex, data = SHARED / "examples" / "sn-ia-max", SHARED / "mcdata"
    if not (ex / "dica.dat").exists() or not (data / "ihea.ind").exists():
        pytest.skip(f"no shared type Ia example and atomic data at {SHARED}")
    fewer = {"np4": 1} if os.environ.get("MCSPEC_SANITIZED") else {}  # the sanitizers are slow
    return mcspec.run(example=ex, mcdata=data, workdir=tmp_path_factory.mktemp("runs") / "ia",
                      env={"MCSPEC_QUIET": "1"}, **fewer)
