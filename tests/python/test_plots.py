"""Plots written without error and of sensible size; the ion decomposition read from a
small hand-made ionspec.dat and from a run's; the comparison figures on a hand-made observed spectrum."""

import shutil

import numpy as np
import pytest

import mcspec
from mcspec import plot
from mcspec.__main__ import main

# A hand-made ionspec.dat in the program's layout (I7, F14.3, F8.2, E13.5).
IONSPEC = "# bin  wavelength_A  species  share\n# shares of a bin sum to 1\n" + "".join(
    f"{b:7d}{w:14.3f}{s:8.2f}{x:13.5E}\n" for b, w, s, x in
    [(1, 3000.0, 14.01, 0.75), (1, 3000.0, 0.0, 0.25), (2, 3010.0, 20.01, 0.5), (2, 3010.0, 14.01, 0.3),
     (2, 3010.0, 26.01, 0.2), (4, 3030.0, 1.0, 1.0)])


def test_ionspec_reader(tmp_path):
    p = tmp_path / "ionspec.dat"
    p.write_text(IONSPEC)
    s = mcspec.read_ionspec(p)
    bins, wl, sp, m = s.matrix()
    assert list(bins) == [1, 2, 4] and list(sp) == [0.0, 1.0, 14.01, 20.01, 26.01]
    assert np.allclose(m.sum(axis=1), 1.0)
    assert m[1, list(sp).index(20.01)] == 0.5
    assert [mcspec.species_label(x) for x in sp] == ["other", "H I", "Si II", "Ca II", "Fe II"]


def test_ion_shares_of_a_run(hydrogen_run):
    # Per bin the shares of the ions sum to 1, over the bins of the last spectrum that received packets.
    bins, _, _, m = mcspec.read_ionspec(hydrogen_run.directory / "ionspec.dat").matrix()
    assert np.allclose(m.sum(axis=1), 1.0, atol=1e-4) and (m > 0).any(axis=1).all()
    assert list(bins) == list(np.flatnonzero(hydrogen_run.mc_spectra[-1].packets) + 1)


@pytest.mark.parametrize("kind", ["spectrum", "temperature", "ions"])
def test_plots_are_written(tmp_path, hydrogen_run, kind):
    out = [tmp_path / f"{kind}.{fmt}" for fmt in ("png", "svg")]  # both from one command
    assert main([kind, str(hydrogen_run.directory), "-o", *map(str, out)]) == 0
    for p, magic in zip(out, (b"\x89PNG", b"<?xm")):
        assert 10_000 < p.stat().st_size < 3_000_000 and p.read_bytes()[:4] == magic


def test_ions_without_file_says_how(tmp_path, hydrogen_run, capsys):
    shutil.copytree(hydrogen_run.directory, tmp_path / "run")
    (tmp_path / "run" / "ionspec.dat").unlink()
    assert main(["ions", str(tmp_path / "run"), "-o", str(tmp_path / "i.png")]) == 1
    assert "MCSPEC_ION_SPECTRUM=1" in capsys.readouterr().err


def test_markers_come_from_the_run(hydrogen_run, ia_run):
    h = [m[2] for m in plot.feature_markers(hydrogen_run)]
    assert h and all(m.startswith(("H I", "He I")) for m in h)
    ia = [m[2].split()[0] for m in plot.feature_markers(ia_run)]
    assert ia and "H" not in ia and "Si" in ia


def test_comparison_figures(hydrogen_run):
    # An "observed" spectrum equal to half the synthetic one with a minimum put at 6150 A.
    a = hydrogen_run.spct
    w = np.arange(3000.0, 9000.0, 2.0)
    f = 0.5 * np.interp(w, a[:, 0], a[:, 1])
    f[(w > 6140) & (w < 6160)] *= 0.01
    c = plot.compare_observed(hydrogen_run, np.column_stack([w, f]))
    assert [b[:2] for b in c["bands"]] == list(plot.BANDS)
    for lo, hi, syn, obs, ratio in c["bands"]:
        if lo != 5500:  # the band with the dip
            assert ratio == pytest.approx(2.0, rel=0.01)
    assert 6140 < c["si_min"][1] < 6160
    assert c["si_velocity"][1] == pytest.approx(299792.458 * ((6355 / 6150) ** 2 - 1) / ((6355 / 6150) ** 2 + 1),
                                                abs=500)
