"""Plots of a run with matplotlib (PNG, SVG or any format matplotlib knows from the
file name): the spectrum with an observed one, the temperature structure per pass, the
decomposition of the escaping luminosity by the ion that last emitted it, and the mass
fractions by shell.

Wavelength conventions: the program's spectra ("spct.dat") are given at rest-frame
(emitted) air wavelengths, F_lambda at the object's distance; an observed spectrum is
expected the same way (rest frame, air, F_lambda at Earth). The redshift ZRED of the
run only enters the reddening.
"""

from __future__ import annotations

import math
from pathlib import Path
from typing import Optional, Sequence, Union

import numpy as np

from .bands import BANDS
from .errors import McspecError
from .outputs import RunResult, read_observed, read_run, species_label

__all__ = ["plot_spectrum", "plot_temperature", "plot_ions", "plot_composition", "feature_markers", "compare_observed",
           "BANDS", "SI_II_REST"]

RunLike = Union[RunResult, str, Path]
OutLike = Union[str, Path, Sequence[Union[str, Path]]]
SI_II_REST = 6355.0  # A, air: gf-weighted centre of the Si II 6347/6371 doublet
C_KMS = 299792.458


def _pyplot():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def _run(run) -> RunResult:
    """A run read for plotting: what its files allow (a run that stopped included)."""
    return run if isinstance(run, RunResult) else read_run(run, partial=True)


def _lacks(r: RunResult, name: str, what: str) -> McspecError:
    why = r.problems.get(name, "")
    return McspecError(f"{r.directory}: {what}" + (f" ({name}: {why})" if why else ""))


def _save(fig, out) -> list[Path]:
    outs = [Path(o) for o in (out if isinstance(out, (list, tuple)) else [out])]
    for o in outs:
        o.parent.mkdir(parents=True, exist_ok=True)
        fig.savefig(o, dpi=120)
    _pyplot().close(fig)
    return outs


# ---------------------------------------------------------------------------- markers

# Conventional absorption features: label (multiplet name and rest wavelength), rest
# wavelength of the label (A, air; gf-weighted centre of a multiplet), species code, and
# the air wavelengths of its strongest components (looked up in the run's line list).
FEATURES = (
    ("Ca II H&K", 3945.0, 20.01, (3933.66, 3968.47)),
    ("H I 4102 (Hδ)", 4101.7, 1.00, (4101.7,)),
    ("Si II 4130", 4130.0, 14.01, (4128.07, 4130.89)),
    ("H I 4340 (Hγ)", 4340.5, 1.00, (4340.5,)),
    ("Mg II 4481", 4481.2, 12.01, (4481.13, 4481.33)),
    ("He I 4471", 4471.5, 2.00, (4471.5,)),
    ("H I 4861 (Hβ)", 4861.3, 1.00, (4861.3,)),
    ("Fe II 5169", 5169.0, 26.01, (4923.92, 5018.44, 5169.03)),
    ("S II 5454", 5454.0, 16.01, (5432.80, 5453.86)),
    ("S II 5640", 5640.0, 16.01, (5606.15, 5639.98, 5647.03)),
    ("He I 5876", 5875.6, 2.00, (5875.6,)),
    ("Na I D", 5892.9, 11.00, (5889.95, 5895.92)),
    ("Si II 5972", 5972.0, 14.01, (5957.56, 5978.93)),
    ("Si II 6355", 6355.0, 14.01, (6347.11, 6371.37)),
    ("H I 6563 (Hα)", 6562.8, 1.00, (6562.8,)),
    ("C II 6580", 6580.0, 6.01, (6578.05, 6582.88)),
    ("He I 6678", 6678.2, 2.00, (6678.2,)),
    ("He I 7065", 7065.2, 2.00, (7065.2,)),
    ("O I 7774", 7773.4, 8.00, (7771.94, 7774.17, 7775.39)),
    ("Ca II IR triplet", 8579.0, 20.01, (8498.02, 8542.09, 8662.14)),
)
TAU_PRESENT = 0.3  # a feature is looked for when a component reaches this Sobolev depth


def _doppler(rest, v_kms):
    """Wavelength of `rest` seen from matter approaching at v (relativistic)."""
    b = np.asarray(v_kms, dtype=float) / C_KMS
    return rest * np.sqrt((1 - b) / (1 + b))


def _velocity(rest, lam):
    """Velocity (km/s) of approaching matter that shifts `rest` to `lam` (relativistic)."""
    q = (rest / lam) ** 2
    return C_KMS * (q - 1) / (q + 1)


def _present(r: RunResult) -> list[tuple[str, float, float]]:
    """(label, rest, strongest component depth) of the features whose ion has a
    component of Sobolev depth >= TAU_PRESENT in the run's line list ("lhea.dat"); without
    the list, those whose element is in the composition."""
    out = []
    if r.lines is not None and len(r.lines.wavelength):
        L = r.lines
        for label, rest, code, comps in FEATURES:
            m = np.abs(L.species - code) < 0.005
            m &= np.min(np.abs(L.wavelength[:, None] - np.array(comps)[None, :]), axis=1) < 2.0
            tau = float(np.max(L.tau_max[m])) if m.any() else 0.0
            if tau >= TAU_PRESENT:
                out.append((label, rest, tau))
    elif r.summary is not None and len(r.summary.composition):
        z = {int(x) for x, x_raw in zip(r.summary.composition[:, 0], r.summary.composition[:, 1]) if x_raw > 0}
        out = [(label, rest, 1.0) for label, rest, code, _ in FEATURES if int(code + 0.001) in z]
    return out


def feature_markers(run: RunLike, flux: Optional[np.ndarray] = None, v_range: Optional[Sequence[float]] = None,
                    min_separation: float = 25.0) -> list[tuple[float, float, str]]:
    """The absorption troughs of the conventional features the run can show.

    A feature (`FEATURES`: Ca II H&K, Si II 4130, Mg II 4481, Fe II 5169, the S II
    5454/5640 "W", Si II 5972, Si II 6355, O I 7774, the Ca II IR triplet, the H I
    Balmer lines, He I, ...) is looked for when a component of its ion is optically
    thick in the run's line list (depth >= TAU_PRESENT); its trough is the lowest flux
    minimum of the flux between the Doppler shifts of the velocity window `v_range`
    (km/s; default 0.5 to 2.2 times the photospheric velocity VPH) blueward of its rest
    wavelength that lies deepest below the lower of its two shoulders (the highest flux
    on either side inside the window), at least 2 % below it; a sloping continuum
    without a dip gives no marker. Features are placed in order of their depth in the
    line list, a trough taken (within `min_separation` A) being unavailable to the next;
    after the first (strongest) feature, a trough's depth is weighted by
    1 / (1 + (dv / 3000 km/s)^2), dv its velocity's difference from the first one's,
    since the features of one epoch form at similar velocities.
    Works for every boundary mode (it does not need the strong-line list of "sbib.dat").

    Parameters
    ----------
    run : RunResult, str or Path
    flux : numpy.ndarray, optional
        The flux the troughs are looked for in, on the rows of "spct.dat" (default: its
        unreddened formal integral, column 1).
    v_range : (float, float), optional
        Velocity window in km/s.

    Returns
    -------
    list of (trough wavelength, rest wavelength, label), A, rest-frame air, sorted.
    """
    r = _run(run)
    if r.spct is None or len(r.spct) < 5:
        return []
    w = r.spct[:, 0]
    f = r.spct[:, 1] if flux is None else np.asarray(flux, dtype=float)
    vph = r.params.vph if r.params is not None else 10000.0
    vlo, vhi = v_range if v_range is not None else (0.5 * vph, 2.2 * vph)
    kept, v_ref = [], None  # (trough, rest, label); the velocity of the strongest feature's trough
    for label, rest, tau in sorted(_present(r), key=lambda x: -x[2]):
        idx = np.nonzero((w >= _doppler(rest, vhi)) & (w <= _doppler(rest, vlo)) & np.isfinite(f))[0]
        best, depth = None, 0.0
        for j in range(2, idx.size - 2):
            k = idx[j]
            if f[k] > f[idx[j - 2:j + 3]].min() or any(abs(w[k] - c[0]) < min_separation for c in kept):
                continue  # not a local minimum, or the trough of a stronger feature
            d = min(f[idx[:j]].max(), f[idx[j + 1:]].max()) - f[k]  # below the lower of the two shoulders
            score = d if v_ref is None else d / (1.0 + ((_velocity(rest, w[k]) - v_ref) / 3000.0) ** 2)
            if d > 0.02 * f[k] and score > depth:
                best, depth = k, score
        if best is not None:
            kept.append((float(w[best]), rest, label))
            v_ref = _velocity(rest, w[best]) if v_ref is None else v_ref
    return sorted(kept)


def _robust_top(curves, lo, hi) -> float:
    """A top for the y-axis that shows every curve: the 99.5th percentile of each inside
    [lo, hi] (so a few spikes of Monte Carlo noise do not squash the rest), the largest of
    them, with 8 % margin."""
    tops = []
    for x, y in curves:
        m = (x >= lo) & (x <= hi) & np.isfinite(y)
        if m.sum():
            tops.append(np.percentile(y[m], 99.5))
    return 1.08 * max(tops) if tops and max(tops) > 0 else 1.0


def log_ticks(axis):
    """Readable ticks on a log axis (an ax.xaxis or ax.yaxis): 1-2-5 steps (1, 2, 5, 10, 20,
    ...) written as plain numbers, so a span of less than a decade still has labels."""
    from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter
    axis.set_major_locator(LogLocator(base=10, subs=(1.0, 2.0, 5.0)))
    axis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:.6g}"))
    axis.set_minor_formatter(NullFormatter())


def _sci_ylabel(ax, top, label):
    """y-axis in units of a power of ten written into the label (no offset text)."""
    e = int(math.floor(math.log10(top))) if top > 0 else 0
    ax.yaxis.set_major_formatter(__import__("matplotlib.ticker", fromlist=["FuncFormatter"]).FuncFormatter(
        lambda v, _: f"{v / 10 ** e:g}"))
    ax.set_ylabel(label.replace("(", f"(10$^{{{e}}}$ ", 1))


# ---------------------------------------------------------------------------- spectrum

def _smooth(y, n):
    if n <= 1 or len(y) < n:
        return y
    k = np.ones(n) / n
    ys = np.convolve(y, k, mode="same")
    half = n // 2
    ys[:half], ys[-half:] = y[:half], y[-half:]
    return ys


def compare_observed(run: RunLike, observed, bands=BANDS) -> dict:
    """Figures comparing the synthetic spectrum with an observed one.

    The synthetic spectrum is the smoothed formal-integral F_lambda of "spct.dat"
    without reddening (the observed spectrum is expected corrected for Galactic
    extinction; host reddening EBVH of the run is then not applied either). Returns
    {'bands': [(lo, hi, mean synthetic, mean observed, ratio)], 'si_min': (synthetic
    A, observed A), 'si_velocity': (synthetic km/s, observed km/s)}. Band means are
    plain means over the samples inside the band; the Si II 6355 minimum is the lowest
    point between 5800 and 6350 A, the observed spectrum boxcar-smoothed over 5 samples.
    """
    r = _run(run)
    obs = observed if isinstance(observed, np.ndarray) else read_observed(observed)
    w, f = r.spct[:, 0], r.spct[:, 1]
    ow, of = obs[:, 0], obs[:, 1]
    out = {"bands": []}
    for lo, hi in bands:
        ms, mo = (w >= lo) & (w < hi), (ow >= lo) & (ow < hi)
        syn = float(np.mean(f[ms])) if ms.any() else math.nan
        ob = float(np.mean(of[mo])) if mo.any() else math.nan
        out["bands"].append((lo, hi, syn, ob, syn / ob if ob else math.nan))

    def minimum(wl, fl, smooth):
        m = (wl >= 5800) & (wl <= 6350)
        if m.sum() < 3:
            return math.nan
        y = _smooth(fl, smooth)[m]
        return float(wl[m][int(np.argmin(y))])

    si = (minimum(w, f, 1), minimum(ow, of, 5))
    out["si_min"] = si

    def vel(lam):
        q = (SI_II_REST / lam) ** 2
        return C_KMS * (q - 1) / (q + 1)

    out["si_velocity"] = tuple(vel(x) if math.isfinite(x) else math.nan for x in si)
    return out


def plot_spectrum(run: RunLike, out: OutLike, observed=None, title: Optional[str] = None, markers: bool = True,
                  observed_label: Optional[str] = None, xlim: Optional[Sequence[float]] = None,
                  mc_sigma: bool = True) -> list[Path]:
    """The observed-flux spectrum: formal integral, Monte Carlo (with its one-sigma
    packet noise as a band) and black body of "spct.dat" (F_lambda at the object's
    distance against rest-frame air wavelength), with an observed spectrum (same
    conventions) when given, and the absorption troughs of the features the run shows
    marked (see `feature_markers`). The y-range shows every curve drawn.

    Parameters
    ----------
    run : RunResult, str or Path
        A run read by `read_run`, or its directory.
    out : str, Path or list of them
        The file(s) to write; the format follows the suffix (png, svg, pdf, ...).
    observed : str, Path or numpy.ndarray, optional
        An observed spectrum: wavelength (A, rest frame, air), F_lambda at Earth
        (erg s^-1 cm^-2 A^-1)[, error]; a file for `read_observed` or its array.
    title, observed_label : str, optional
        Plot title; legend label of the observed spectrum.
    markers : bool
        Mark the features (see `feature_markers`).
    xlim : (float, float), optional
        Wavelength range in A.
    mc_sigma : bool
        Draw the Monte Carlo uncertainty (`RunResult.mc_spectrum`) as a band.

    Returns
    -------
    list of Path
        The files written.

    Raises
    ------
    McspecError
        The run lacks the file plotted, or a file cannot be read.
    """
    plt = _pyplot()
    r = _run(run)
    if r.spct is None or len(r.spct) == 0:
        raise _lacks(r, "spct.dat", "no spct.dat spectrum to plot")
    a = r.spct
    w = a[:, 0]
    reddened = r.params is not None and (r.params.ebvg != 0 or r.params.ebvh != 0)
    fig, ax = plt.subplots(figsize=(10, 5.6))
    curves = []  # (x, y) of everything drawn, for the y-range

    def draw(x, y, **kw):
        ax.plot(x, y, **kw)
        curves.append((x, y))

    if observed is not None:
        obs = observed if isinstance(observed, np.ndarray) else read_observed(observed)
        m = (obs[:, 0] >= w[0]) & (obs[:, 0] <= w[-1])
        draw(obs[m, 0], obs[m, 1], color="0.15", lw=0.8,
             label=observed_label or (Path(observed).name if not isinstance(observed, np.ndarray) else "observed"))
        # synthetic without reddening: the observed spectrum is corrected for Galactic extinction
        col, tag = (1, 3), " (no reddening)"
    else:
        col, tag = ((2, 4), " (reddened)") if reddened else ((1, 3), "")
    mc = r.mc_spectrum if mc_sigma else None
    if mc is not None:
        sw, _, ss = mc.smoothed()
        sig = np.interp(w, sw, ss) * (np.divide(a[:, col[1]], a[:, 3], out=np.zeros(len(a)), where=a[:, 3] > 0)
                                      if col[1] == 4 else 1.0)
        ax.fill_between(w, a[:, col[1]] - sig, a[:, col[1]] + sig, color="tab:blue", alpha=0.2, lw=0,
                        label="Monte Carlo ±1σ (packet counts)")
    draw(w, a[:, col[1]], color="tab:blue", lw=0.7, alpha=0.7, label="Monte Carlo packets" + tag)
    draw(w, a[:, col[0]], color="tab:red", lw=1.3, label="formal integral" + tag)
    tb = r.log.reports[-1].tb1 if r.log and r.log.reports else math.nan
    if not math.isfinite(tb) and r.log and r.log.reports:
        tb = r.log.reports[-1].tb
    bb, bb_tag = a[:, 5], " (reddened)" if reddened else ""
    if reddened and col[0] == 1:
        # the file's black body is reddened only; the reddening factor is column 2 / column 1
        with np.errstate(divide="ignore", invalid="ignore"):
            bb, bb_tag = np.where(a[:, 2] > 0, a[:, 5] * a[:, 1] / a[:, 2], np.nan), ""
    draw(w, bb, color="0.5", lw=1.0, ls="--", label=f"black body, T = {tb:.0f} K" + bb_tag)
    ax.set_xlabel("rest-frame wavelength in air (Å)")
    lo, hi = xlim if xlim else (w[0], w[-1])
    ax.set_xlim(lo, hi)
    data_top = _robust_top(curves, lo, hi)
    marks = feature_markers(r, flux=a[:, col[0]]) if markers else []
    for pos, _, _ in marks:  # no spike under a label
        for x, y in curves:
            near = (np.abs(x - pos) < 0.01 * (hi - lo)) & np.isfinite(y)
            data_top = max(data_top, float(y[near].max()) if near.any() else 0.0)
    top = data_top / 0.76 if marks else data_top  # the top quarter holds the labels
    ax.set_ylim(0, top)
    _sci_ylabel(ax, top, "F$_\\lambda$ at the object's distance (erg s$^{-1}$ cm$^{-2}$ Å$^{-1}$)")
    ax.minorticks_on()
    if marks:
        ax.axhspan(data_top * 1.01, top, color="0.97", zorder=0, lw=0)
        for pos, rest, label in marks:
            y0 = float(np.interp(pos, w, a[:, col[0]]))
            ax.plot([pos, pos], [y0, data_top * 1.01], color="tab:green", lw=0.7, ls=":", alpha=0.8)
            ax.plot([pos], [y0], marker="^", color="tab:green", ms=5, ls="none")
            ax.text(pos, top * 0.985, label, rotation=90, va="top", ha="center", fontsize=7.5, color="darkgreen")
    p = r.params
    ax.set_title(title or (f"{r.directory.resolve().name}: day {p.day:g}, log L/L$_\\odot$ = {p.logls:g}, "
                           f"v$_{{ph}}$ = {p.vph:g} km/s" if p else r.directory.resolve().name), fontsize=10)
    ax.legend(fontsize=7.5, loc="upper center", bbox_to_anchor=(0.5, -0.11), ncol=3, frameon=False)
    note = "Markers: absorption troughs (lowest flux 0.5–2.2 v$_{ph}$ blueward of the rest wavelength)."
    if observed is not None:
        dist = f" at distance modulus {p.dmod:g}" if p else ""
        note += (" Both spectra at rest-frame air wavelengths; synthetic F$_\\lambda$" + dist +
                 " without reddening (the observed one is corrected for Galactic extinction).")
    if marks or observed is not None:
        import textwrap
        note = note if marks else note.split(". ", 1)[1]
        fig.text(0.01, 0.005, textwrap.fill(note, 190), fontsize=6.5, color="0.3", va="bottom")
    fig.tight_layout(rect=(0, 0.045, 1, 1))
    return _save(fig, out)


# ---------------------------------------------------------------------------- temperature

def plot_temperature(run: RunLike, out: OutLike, title: Optional[str] = None) -> list[Path]:
    """Radiation temperature (K) and dilution factor against velocity (km/s) for every
    temperature pass (the start model dashed), and the largest and mean relative change
    of TR per pass.

    Parameters
    ----------
    run : RunResult, str or Path
        A run read by `read_run`, or its directory.
    out : str, Path or list of them
        The file(s) to write; the format follows the suffix (png, svg, pdf, ...).
    title : str, optional

    Returns
    -------
    list of Path
        The files written.

    Raises
    ------
    McspecError
        The run lacks the file plotted, or a file cannot be read.
    """
    plt = _pyplot()
    r = _run(run)
    if r.log is None or not r.log.passes:
        raise _lacks(r, "stst.dat", "stst.dat records no temperature pass")
    passes = r.log.passes
    fig, axes = plt.subplots(1, 3, figsize=(13, 4.2))
    cmap = plt.get_cmap("viridis")
    init = r.log.initial_structure
    if len(init):
        axes[0].plot(init[:, 1], init[:, 4], "k--", lw=0.8, label="start")
        axes[1].plot(init[:, 1], init[:, 5], "k--", lw=0.8, label="start")
    prev = init[:, 4] if len(init) else None
    dmax = []
    for k, t in enumerate(passes):
        c = cmap(k / max(1, len(passes) - 1))
        axes[0].plot(t.structure[:, 1], t.structure[:, 4], color=c, lw=1, label=f"pass {t.number}")
        axes[1].plot(t.structure[:, 1], t.structure[:, 5], color=c, lw=1)
        if prev is not None and len(prev) == len(t.tr):
            dmax.append(100 * np.max(np.abs(t.tr - prev) / prev))
        prev = t.tr
    axes[0].set_xlabel("velocity (km/s)")
    axes[0].set_ylabel("radiation temperature T$_R$ (K)")
    axes[1].set_xlabel("velocity (km/s)")
    axes[1].set_ylabel("dilution factor W (dimensionless)")
    axes[1].set_yscale("log")
    log_ticks(axes[1].yaxis)
    n = [t.number for t in passes]
    if dmax:
        axes[2].plot(range(1, len(dmax) + 1), dmax, "o-", label="largest |ΔT$_R$|/T$_R$ (from the printed T$_R$)")
    axes[2].plot(range(1, len(n) + 1), [t.mean_change_percent for t in passes], "s-", label="mean |ΔT$_R$|/T$_R$")
    axes[2].axhline(1.25, color="0.5", ls=":", label="convergence: 1.25 %")
    axes[2].set_xticks(range(1, len(n) + 1))
    axes[2].set_xticklabels([str(x) for x in n], fontsize=7)
    axes[2].set_xlabel("temperature pass")
    axes[2].set_ylabel("change of T$_R$ (%)")
    axes[2].set_yscale("log")
    log_ticks(axes[2].yaxis)
    axes[2].legend(fontsize=7)
    axes[0].legend(fontsize=6, ncol=2)
    fig.suptitle(title or f"{r.directory.resolve().name}: temperature structure per pass", fontsize=10)
    fig.tight_layout()
    return _save(fig, out)


# ---------------------------------------------------------------------------- ions

ION_SPECTRUM_HINT = ("the decomposition by ion needs ionspec.dat: run mcspec with the environment variable "
                     "MCSPEC_ION_SPECTRUM=1 (e.g. MCSPEC_ION_SPECTRUM=1 make example, or "
                     "mcspec.run(..., env={'MCSPEC_ION_SPECTRUM': '1'}))")


def plot_ions(run: RunLike, out: OutLike, top: int = 8, title: Optional[str] = None, rebin: int = 5) -> list[Path]:
    """Escaping Monte Carlo luminosity L_lambda (erg s^-1 cm^-1) per wavelength bin of the
    final run, split by the ion whose line last emitted it ("ionspec.dat"): the `top`
    ions with the most luminosity named, the rest grouped, packets not last emitted by a
    line apart.

    Parameters
    ----------
    run : RunResult, str or Path
        A run read by `read_run`, or its directory.
    out : str, Path or list of them
        The file(s) to write; the format follows the suffix (png, svg, pdf, ...).
    top : int
        Ions named.
    title : str, optional
    rebin : int
        Consecutive bins averaged together against the Monte Carlo noise (1: none).

    Returns
    -------
    list of Path
        The files written.

    Raises
    ------
    McspecError
        The run lacks the file plotted, or a file cannot be read.
    """
    plt = _pyplot()
    r = _run(run)
    if r.ion_spectrum is None:
        raise McspecError(f"{r.directory}: no ionspec.dat; {ION_SPECTRUM_HINT}")
    bins, wl, species, share = r.ion_spectrum.matrix()
    # L_lambda of each bin from the final Monte Carlo spectrum (spcp.dat, per unit air wavelength)
    if r.spectrum is not None and len(r.spectrum.bin) >= bins.max():
        lam = np.nan_to_num(10.0 ** (r.spectrum.log_l_mc[bins - 1] - 8.0))  # erg/s/A; empty bins (NaN) 0
        wl = r.spectrum.wavelength_A[bins - 1]  # air bin centres, as the other plots
        xlabel = "rest-frame wavelength in air (Å)"
        ylabel = "L$_\\lambda$ (erg s$^{-1}$ Å$^{-1}$)"
    else:
        lam = np.ones(bins.size)
        xlabel = "rest-frame wavelength in air (Å)"
        ylabel = "share of the escaping energy"
    contrib = share * lam[:, None]
    if rebin > 1 and len(wl) >= 2 * rebin:
        n = len(wl) // rebin * rebin
        contrib = contrib[:n].reshape(-1, rebin, contrib.shape[1]).mean(axis=1)
        wl = wl[:n].reshape(-1, rebin).mean(axis=1)
    total = contrib.sum(axis=0)
    is_line = species > 0
    order = [i for i in np.argsort(-total) if is_line[i]]
    named, rest = order[:top], order[top:]
    layers, labels = [], []
    for i in named:
        layers.append(contrib[:, i])
        labels.append(species_label(species[i]))
    if rest:
        layers.append(contrib[:, rest].sum(axis=1))
        labels.append(f"{len(rest)} other ions")
    if (~is_line).any():
        layers.append(contrib[:, ~is_line].sum(axis=1))
        labels.append("no line emission (boundary / electron scattering)")
    fig, ax = plt.subplots(figsize=(10, 5))
    colors = list(plt.get_cmap("tab10").colors) + ["0.6", "0.85"]
    ax.stackplot(wl, np.array(layers), labels=labels, colors=colors[:len(layers)] if len(layers) <= 12 else None,
                 step=None, lw=0)
    ax.set_xlim(wl.min(), wl.max())
    ax.set_xlabel(xlabel)
    top = _robust_top([(wl, np.sum(layers, axis=0))], wl.min(), wl.max())
    ax.set_ylim(0, top)
    _sci_ylabel(ax, top, ylabel)
    ax.minorticks_on()
    ax.legend(fontsize=7, loc="upper right")
    ax.set_title(title or f"{r.directory.resolve().name}: escaping luminosity by the ion of last emission (final run)",
                 fontsize=10)
    fig.tight_layout()
    return _save(fig, out)


# ---------------------------------------------------------------------------- composition

def _isotope_label(name: str) -> str:
    """'Ni56' -> mathtext 56Ni with the mass number raised."""
    sym = name.rstrip("0123456789")
    return f"$^{{{name[len(sym):]}}}${sym}"


def plot_composition(run: RunLike, out: OutLike, title: Optional[str] = None, floor: float = 1e-4) -> list[Path]:
    """Mass fraction against velocity (km/s) of every species, shell by shell, after
    radioactive decay to the epoch (a step per shell; log scale), the region below the
    photosphere shaded.

    Parameters
    ----------
    run : RunResult, str or Path
        A run read by `read_run`, or its directory.
    out : str, Path or list of them
        The file(s) to write; the format follows the suffix.
    title : str, optional
    floor : float
        Species whose fraction stays below `floor` in every shell are left out; the y
        axis starts at `floor` (dimensionless).

    Returns
    -------
    list of Path
        The files written.

    Raises
    ------
    McspecError
        The run has no composition by shell.
    """
    from matplotlib.ticker import FixedLocator, FuncFormatter, LogLocator, NullFormatter
    plt = _pyplot()
    r = _run(run)
    c = r.composition
    if c is None:
        raise McspecError(f"{r.directory}: no composition by shell (composition.dat or comp.ind)")
    edges = np.append(c.v_inner, c.v_outer[-1])
    shown = [s for s in c.species if np.max(c.fractions[s]) >= floor]
    elements = [s for s in shown if s in c.elements]
    isotopes = [s for s in shown if s not in c.elements]
    fig, ax = plt.subplots(figsize=(9.5, 5.2))
    cmap = plt.get_cmap("tab20")
    palette = [cmap(i) for i in range(0, 20, 2)] + [cmap(i) for i in range(1, 20, 2)]  # the strong colours first
    # The strong colours go to the most abundant elements; the legend stays in order of Z.
    by_peak = sorted(elements, key=lambda s: -np.max(c.fractions[s]))
    colours = {s: palette[i % 20] for i, s in enumerate(by_peak)}
    parent = {"Ni56": "Ni", "Co56": "Co", "Fe52": "Fe", "Mn52": "Mn", "Cr48": "Cr", "V48": "V"}
    for s in elements:
        ax.stairs(np.maximum(c.fractions[s], floor / 10), edges, color=colours[s], lw=1.6, label=s, baseline=None)
    for i, s in enumerate(isotopes):
        colour = colours.get(parent[s], palette[(len(elements) + i) % 20])
        ax.stairs(np.maximum(c.fractions[s], floor / 10), edges, color=colour, lw=1.3, ls="--",
                  label=_isotope_label(s),
                  baseline=None)
    vph = c.v_inner[0]
    lo = vph / (edges[-1] / vph) ** 0.09
    ax.axvspan(lo, vph, color="0.88", lw=0)
    ax.axvline(vph, color="k", lw=1.0)
    ax.text(math.sqrt(lo * vph), 0.5, f"photosphere {vph:.0f} km/s", transform=ax.get_xaxis_transform(),
            rotation=90, va="center", ha="center", fontsize=8)
    # Velocity on a log axis: the shells, equal steps in 1/v, crowd near the photosphere.
    ax.set_xscale("log")
    ax.set_xlim(lo, edges[-1])
    ticks = [t for t in (5e3, 6e3, 8e3, 1e4, 1.2e4, 1.5e4, 2e4, 2.5e4, 3e4, 4e4, 5e4, 6e4, 8e4, 1e5)
             if lo <= t <= edges[-1]]
    ax.xaxis.set_major_locator(FixedLocator(ticks))
    ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:.0f}"))
    ax.xaxis.set_minor_formatter(NullFormatter())
    ax.set_yscale("log")
    ax.set_ylim(floor, 1.6)
    ax.yaxis.set_major_locator(LogLocator(base=10.0))
    ax.yaxis.set_major_formatter(FuncFormatter(lambda y, _: f"{y:g}"))
    ax.grid(True, which="major", color="0.9", lw=0.6)
    ax.set_xlabel("velocity (km/s)")
    ax.set_ylabel("mass fraction")
    ax.legend(fontsize=8, ncol=1 + len(shown) // 14, loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False)
    kind = "by shell (zones.dat)" if c.layered else "uniform (comp.ind)"
    ax.set_title(title or f"{r.directory.resolve().name}: mass fractions {kind} after decay to day {c.day:g}", fontsize=10)
    fig.tight_layout()
    return _save(fig, out)
