"""The default example end to end: SN 2011fe near B maximum, on the data directory built
from the shipped sources, shows the absorptions that make a type Ia, each made by its
own element: the trough blueward of Si II 6355, of the S II 5640 component of the 'W'
and of Ca II H&K lies at ejecta velocities and fills in when that element is taken out
of the composition."""

import pytest

import mcspec
from conftest import REPO

EXAMPLE = REPO / "examples" / "sn2011fe-max"
C = 299792.458  # km/s


@pytest.fixture(scope="module")
def runner(run_example, atomic_data):
    cache = {}

    def run(without=None):
        """The example's Monte Carlo spectrum {wavelength: flux}, optionally with the
        element of atomic number `without` taken out."""
        if without not in cache:
            comp = mcspec.read_comp(EXAMPLE / "comp.ind")
            if without is not None:
                comp[without - 1] = 0.0
            r = run_example(EXAMPLE, atomic_data, comp=comp)
            assert without is not None or "Will use default W7 model." in r.stdout
            cache[without] = dict(zip(r.spct[:, 0], r.spct[:, 4]))  # reddened Monte Carlo flux
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
