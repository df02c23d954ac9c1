"""Readers on real run directories, the runner, and written inputs read by the program. The
default example end to end: SN 2011fe near B maximum, on the data directory built from the
shipped sources, shows the absorptions that make a type Ia, each made by its own element:
the trough blueward of Si II 6355, of the S II 5640 component of the 'W' and of Ca II H&K
lies at ejecta velocities and fills in when that element is taken out of the composition."""

import numpy as np
import pytest

import mcspec
from mcspec import Params

from conftest import REPO

def check_run(r):
    p = r.params
    # spct.dat: KG bins less the three at each end, air wavelengths inside WVM1..WVM2.
    assert r.spct.shape[1] == 6 and p.kg - 6 - 2 <= r.spct.shape[0] <= p.kg - 6
    w = r.spct[:, 0]
    assert np.all(np.diff(w) > 0) and w[0] > p.wvm1 * 1e4 and w[-1] < p.wvm2 * 1e4
    assert np.all(np.isfinite(r.spct)) and np.all(r.spct[:, 1:] >= 0)
    # spcp.dat: one grid per temperature pass, KG bins in the final spectrum.
    s = r.spectrum
    assert len(s.bin) == p.kg and s.n_grids == len(r.log.passes)
    assert s.grid.shape == (p.kg + 1, 7) and s.grid[0, 3] == pytest.approx(p.wvm1)
    # one Monte Carlo block per run: temperature passes, then ITT final passes.
    its = [b.iteration for b in r.mc_spectra]
    assert its == [0] * len(r.log.passes) + list(range(1, p.itt + 1))
    assert len(r.log.reports) == len(r.mc_spectra) == len(r.emission)
    for b, rep in zip(r.mc_spectra, r.log.reports):
        assert np.array_equal(b.cumulative, np.cumsum(b.packets))
        assert rep.counts[0] == p.np4 * 10000 and b.packets.sum() <= rep.counts[2]  # emission: C++ BlackBodyEmission
        assert b.energy.sum() <= rep.pw2 * (1 + 1e-9)
    for e, rep in zip(r.emission, r.log.reports):
        assert 0 < e.energy.sum() <= rep.pw2 * 1.001 and np.all(np.diff(e.wavelength_vacuum_um) >= 0)
    assert all(t.structure.shape == (p.js, 6) for t in r.log.passes)  # the schedule: C++ SnIaMax
    # sbib.dat: the distance from the modulus, magnitudes and colours agree.
    m = r.summary
    assert m.distance_pc == pytest.approx(10 ** (0.2 * p.dmod + 1), rel=1e-7)
    assert m.magnitudes["B-V"] == pytest.approx(m.magnitudes["B"] - m.magnitudes["V"], abs=0.0015)
    assert m.magnitudes["M_V"] == pytest.approx(m.magnitudes["V"] - p.dmod, abs=0.0015)
    assert m.composition[:, 2].sum() == pytest.approx(1, abs=1e-5)
    # yhea.dat: fractions of stages I..IV within 0..1; ptfn.dat: one column per ion.
    y = r.ionisation
    assert len(y.ne) == p.js and all(np.all(f >= 0) and np.all(f.sum(axis=1) <= 1 + 1e-3) for f in y.fractions.values())
    assert r.partition.pf.shape == (p.js, len(r.partition.z)) and np.all(r.partition.pf >= 1)
    # lhea.dat: positions are a permutation; the frequency order matches.
    L = r.lines
    assert sorted(L.position) == list(range(1, len(L.position) + 1)) == list(L.transition)
    order = np.argsort(L.position)
    assert np.all(np.diff(L.frequency[order]) <= 0)
    assert len(L.transition) == m.n_lines
    # atmd.oud: every ion's ground level first, at energy 0 (the program stops otherwise)
    assert r.levels and all(lv.energy[0] == 0 for lv in r.levels)


def test_hydrogen_run(hydrogen_run):
    check_run(hydrogen_run)
    assert set(hydrogen_run.ionisation.fractions) <= {1, 2}


def test_type_ia_run(ia_run):
    check_run(ia_run)
    r = ia_run
    assert 14 in r.ionisation.fractions and r.ionisation.symbols[14] == "Si"
    # three-digit exponents occur in this run's spct.dat and are read as tiny numbers
    text = (r.directory / "spct.dat").read_text()
    if "-1" in text.replace("E-1", ""):
        assert np.nanmin(r.spct[:, 3][r.spct[:, 3] > 0]) < 1e-99
    assert r.stderr == ""  # MCSPEC_QUIET=1


def test_written_inputs_are_read_by_the_program(tmp_path, hydrogen_data):
    # The program's own echo of what it read: parameters in stst.dat, the composition in sbib.dat,
    # the profile's point count in the density table.
    r = np.geomspace(5e13, 2e15, 40)
    rho = 3e-12 * (r / 5e13) ** -7
    res = mcspec.run(Params(np4=1, itt=1, js=12, day=21.5, kg=200, logls=8.5, vph=6000.0, chl=20.0,
                            wvm1=0.3, wvm2=1.0),
                     comp={"H": 0.7, "He": 0.3}, hydro=(10 * 86400.0, r, rho), mcdata=hydrogen_data,
                     workdir=tmp_path / "run")
    stst = (res.directory / "stst.dat").read_text()
    assert "Day = 21.50" in stst and "JS = 12" in stst and "KG =   200" in stst
    comp = res.summary.composition
    assert list(comp[:, 0]) == [1, 2] and comp[:, 2] == pytest.approx([0.7, 0.3])
    assert res.log.initial_structure.shape == (12, 6)
    x = 1 - (2 * np.arange(1, 13) - 1) * (1 - 0.2) / 24  # shell centres, x = R/r
    assert res.log.initial_structure[:, 1] == pytest.approx(6000.0 / x, abs=0.006)
    points = [l[:4].strip() for l in stst.splitlines() if "D+" in l or "D-" in l]
    assert points[:40] == [str(i) for i in range(1, 41)]


def test_program_error_becomes_exception(tmp_path, hydrogen_data):
    with pytest.raises(mcspec.RunFailed) as e:
        mcspec.run(Params(), comp=[1.0], mcdata=tmp_path / "nowhere", workdir=tmp_path / "run")
    assert e.value.status == 2 and "nowhere" in str(e.value) and "input error" in str(e.value)


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
