"""What a modeller sees: one wavelength convention (air above 2000 A, NaN for empty bins),
feature markers at absorption troughs, the y-range of the spectrum plot, the Monte Carlo
uncertainty of the escaping spectrum (against the seed-to-seed scatter, slow), the API
mismatches found in use (one table); plots written and of sensible size, the ion
decomposition of a hand-made ionspec.dat and of a run, the comparison figures on a
hand-made observed spectrum."""

import shutil
from pathlib import Path

import numpy as np
import pytest

import mcspec
from mcspec import plot
from mcspec.__main__ import main
from mcspec.outputs import LineList, RunResult
from mcspec.wavelengths import vacuum_to_air

from conftest import REPO

HYDROGEN = REPO / "examples" / "hydrogen-envelope"


def test_one_wavelength_convention(hydrogen_run):
    r = hydrogen_run
    air = r.spectrum.wavelength_A  # the program's own air bin centres (spcp.dat)
    # sica.dat and eica.dat give vacuum values; the package returns them in air, the raw ones kept
    assert np.allclose(r.mc_spectra[-1].wavelength, air, atol=0.02)
    edges = r.spectrum.grid[:, 4]  # vacuum bin edges (A)
    assert np.allclose(r.mc_spectra[-1].wavelength_vacuum_um * 1e4, np.sqrt(edges[:-1] * edges[1:]), rtol=1e-5)
    e = r.last_emission
    assert np.allclose(e.wavelength, vacuum_to_air(e.wavelength_vacuum_um * 1e4))
    halpha = np.argmin(np.abs(e.wavelength - 6562.8))
    assert abs(e.wavelength[halpha] - 6562.8) < 0.5  # H-alpha at its air wavelength
    # empty bins: NaN, not the file's -99
    assert any((b.packets == 0).any() for b in r.mc_spectra)
    assert all(np.array_equal(np.isnan(b.log_l), b.packets == 0) for b in r.mc_spectra)
    assert np.array_equal(np.isnan(r.spectrum.log_l_mc), r.mc_spectra[-1].packets == 0)


def test_markers_at_the_trough():
    # A hand-made spectrum: flat, with Gaussian dips of Si II 6355 at 11000 km/s and of Ca II H&K
    # at 14000 km/s, and a shallow sloping stretch where Si II 5972 would be.
    w = np.arange(3000.0, 9000.0, 5.0)
    f = np.ones_like(w)
    for rest, v in ((6355.0, 11000.0), (3945.0, 14000.0)):
        f -= 0.5 * np.exp(-0.5 * ((w - plot._doppler(rest, v)) / 30.0) ** 2)
    spct = np.column_stack([w, f, f, f, f, f])
    lines = LineList(*(np.array(x) for x in zip(
        (1, 1, 0, 6347.11, 14.01, 0, 1, 2, 30.0), (2, 2, 0, 3933.66, 20.01, 0, 1, 2, 80.0),
        (3, 3, 0, 5957.56, 14.01, 0, 1, 2, 1.0), (4, 4, 0, 4861.3, 1.00, 0, 1, 2, 0.1))))
    r = RunResult(Path("hand-made"), spct=spct, lines=lines, params=mcspec.Params(vph=9000.0))
    marks = plot.feature_markers(r)
    assert [m[2] for m in marks] == ["Ca II H&K", "Si II 6355"]  # no trough at 5972; H I too thin
    for (pos, rest, _), v in zip(marks, (14000.0, 11000.0)):
        assert abs(pos - plot._doppler(rest, v)) <= 5.0


def test_y_range_shows_every_curve():
    w = np.linspace(3000, 9000, 600)
    low, high = np.full(600, 1.0), np.full(600, 3.0)
    high[300] = 100.0  # one Monte Carlo spike
    top = plot._robust_top([(w, low), (w, high)], 3000, 9000)
    assert 3.0 < top < 4.0


def test_top_hat_run_is_read_and_marked(run_example, hydrogen_data):
    r = run_example(HYDROGEN, hydrogen_data, np4=1, iopt=(1, 1, 0, 0, 0))
    assert r.log.complete and np.isfinite(r.log.reports[-1].log_ep0) and len(r.summary.strong_lines["wave"]) == 0
    marks = plot.feature_markers(r)
    assert any(m[2].startswith("H I 6563") for m in marks)


def test_mc_uncertainty_matches_the_program_smoothing(hydrogen_run):
    # The smoothed Monte Carlo flux built from spcp.dat and the distance is spct.dat's column 3.
    m = hydrogen_run.mc_spectrum
    sw, sf, ss = m.smoothed()
    a = hydrogen_run.spct
    big = a[:, 3] > 0.05 * a[:, 3].max()
    assert np.allclose(np.interp(a[big, 0], sw, sf), a[big, 3], rtol=2e-4)


@pytest.mark.slow
def test_mc_uncertainty_agrees_with_seed_scatter(run_example, hydrogen_data):
    # Five seeds of the hydrogen example: the per-bin scatter of the Monte Carlo flux between
    # seeds against the estimated sigma, over the bins with on average >= 5 packets.
    runs = [run_example(HYDROGEN, hydrogen_data, np4=1, seed=s).mc_spectrum for s in (11, 12, 13, 14, 15)]
    f = np.nan_to_num([m.flux for m in runs])
    s = np.nan_to_num([m.sigma for m in runs])
    use = np.mean([m.packets for m in runs], axis=0) >= 5
    ratio = np.sqrt(np.mean(f.std(axis=0, ddof=1)[use] ** 2) / np.mean((s ** 2).mean(axis=0)[use]))
    # 0.86 here (1.00 on the SN 2011fe example): the boundary emits stratified in frequency,
    # so where packets escape unscattered the counts scatter a little less than Poisson.
    assert use.sum() > 100 and 1 / 1.33 < ratio < 1.33, ratio


def _incomplete(hydrogen_run, tmp_path):
    d = tmp_path / "incomplete-run"
    shutil.copytree(hydrogen_run.directory, d)
    (d / "spct.dat").unlink()
    (d / "ionspec.dat").unlink()  # hydrogen_run has one: here a run without
    stst = (d / "stst.dat").read_text().splitlines(keepends=True)
    (d / "stst.dat").write_text("".join(stst[:len(stst) // 2]))  # a run that stopped half way
    return d


def _run_kw(tmp_path, hydrogen_data, **kw):
    return mcspec.run(mcdata=hydrogen_data, workdir=tmp_path / "r", np4=1, **kw)


@pytest.mark.parametrize("case", ["no such example", "example from elsewhere, seed=", "seed and iseed",
                                  "spectrum --help", "plot incomplete", "summary in air"])
def test_api_mismatches(case, tmp_path, hydrogen_run, hydrogen_data, capsys, monkeypatch):
    monkeypatch.chdir(tmp_path)  # relative examples are looked for in the checkout too
    run_dir = str(hydrogen_run.directory)
    if case == "no such example":
        with pytest.raises(mcspec.InputValueError, match="no such example"):
            _run_kw(tmp_path, hydrogen_data, example="examples/no-such")
    elif case == "example from elsewhere, seed=":
        r = _run_kw(tmp_path, hydrogen_data, example="examples/hydrogen-envelope", seed=5)
        assert r.params.iseed == 5
    elif case == "seed and iseed":
        with pytest.raises(mcspec.InputValueError, match="disagree"):
            _run_kw(tmp_path, hydrogen_data, example=HYDROGEN, seed=5, iseed=6)
    elif case == "spectrum --help":
        for cmd, has in (("spectrum", False), ("plot", True)):
            with pytest.raises(SystemExit):
                main([cmd, "--help"])
            assert ("--top" in capsys.readouterr().out) == has
    elif case == "plot incomplete":
        assert main(["plot", str(_incomplete(hydrogen_run, tmp_path)), "--out", "p", "--formats", "png"]) == 0
        assert [p.name for p in Path("p").iterdir()] == ["temperature.png"]
        assert "no spectrum plot" in capsys.readouterr().err
    elif case == "summary in air":
        assert main(["summary", run_dir]) == 0
        out = capsys.readouterr().out
        first = out.split("A):\n", 1)[1].split()
        assert "vacuum" not in out and first[:2] == ["H", "I"] and abs(float(first[2]) - 6562.8) < 0.3  # Halpha


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
