"""Plots of a run with matplotlib (PNG, SVG or any format matplotlib knows from the
file name): the spectrum with an observed one, the temperature structure per pass, and
the decomposition of the escaping luminosity by the ion that last emitted it.

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

__all__ = ["plot_spectrum", "plot_temperature", "plot_ions", "feature_markers", "compare_observed",
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
    return run if isinstance(run, RunResult) else read_run(run)


def _save(fig, out) -> list[Path]:
    outs = [Path(o) for o in (out if isinstance(out, (list, tuple)) else [out])]
    for o in outs:
        o.parent.mkdir(parents=True, exist_ok=True)
        fig.savefig(o, dpi=120)
    _pyplot().close(fig)
    return outs


# ---------------------------------------------------------------------------- markers

def feature_markers(run: RunLike, n: int = 10, min_separation: float = 120.0) -> list[tuple[float, float, str]]:
    """Features to mark, taken from the run's own strong-line list ("sbib.dat").

    Greedy by equivalent width (the saturated-absorption width S1 of the list): the
    strongest lines, at most one per min_separation A, at most n. Returns
    (absorption wavelength, rest wavelength, label) in A (air): the absorption
    wavelength is the list's optical-depth-weighted blueshifted position, so a mark
    stands where the line makes its trough. A run without strong lines gives nothing.
    """
    r = _run(run)
    if r.summary is None or len(r.summary.strong_lines["wave"]) == 0:
        return []
    s = r.summary.strong_lines
    order = np.argsort(-s["width"], kind="stable")
    chosen = []
    for i in order:
        pos = s["mean_wave"][i] if math.isfinite(s["mean_wave"][i]) else s["wave"][i]
        if any(abs(pos - c[0]) < min_separation for c in chosen):
            continue
        label = f"{s['element'][i]} {s['stage'][i]} {s['wave'][i]:.0f}"
        chosen.append((float(pos), float(s["wave"][i]), label))
        if len(chosen) >= n:
            break
    return sorted(chosen)


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
                  observed_label: Optional[str] = None, xlim: Optional[Sequence[float]] = None) -> list[Path]:
    """The observed-flux spectrum: formal integral, Monte Carlo and black body of
    "spct.dat" (F_lambda at the object's distance against rest-frame air wavelength),
    with an observed spectrum (same conventions) when given, and the strongest features
    of the run's own line list marked by ion.

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
        Mark the strongest features (see `feature_markers`).
    xlim : (float, float), optional
        Wavelength range in A.

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
        raise McspecError(f"{r.directory}: no spct.dat spectrum to plot")
    a = r.spct
    reddened = r.params is not None and (r.params.ebvg != 0 or r.params.ebvh != 0)
    fig, ax = plt.subplots(figsize=(10, 5.2))
    scale = 1.0
    if observed is not None:
        obs = observed if isinstance(observed, np.ndarray) else read_observed(observed)
        lo, hi = a[0, 0], a[-1, 0]
        m = (obs[:, 0] >= lo) & (obs[:, 0] <= hi)
        ax.plot(obs[m, 0], obs[m, 1], color="0.15", lw=0.8,
                label=observed_label or (Path(observed).name if not isinstance(observed, np.ndarray) else "observed"))
        # synthetic without reddening: the observed spectrum is corrected for Galactic extinction
        ax.plot(a[:, 0], a[:, 1], color="tab:red", lw=1.3, label="formal integral (no reddening)")
        ax.plot(a[:, 0], a[:, 3], color="tab:blue", lw=0.7, alpha=0.6, label="Monte Carlo packets (no reddening)")
    else:
        col = (2, 4, 5) if reddened else (1, 3, 5)
        tag = " (reddened)" if reddened else ""
        ax.plot(a[:, 0], a[:, col[0]], color="tab:red", lw=1.3, label="formal integral" + tag)
        ax.plot(a[:, 0], a[:, col[1]], color="tab:blue", lw=0.7, alpha=0.7, label="Monte Carlo packets" + tag)
    tb = r.log.reports[-1].tb1 if r.log and r.log.reports else math.nan
    bb, bb_tag = a[:, 5], " (reddened)" if reddened else ""
    if reddened and observed is not None:
        # the file's black body is reddened only; the reddening factor is column 3 / column 2
        with np.errstate(divide="ignore", invalid="ignore"):
            bb, bb_tag = np.where(a[:, 2] > 0, a[:, 5] * a[:, 1] / a[:, 2], np.nan), ""
    ax.plot(a[:, 0], bb, color="0.5", lw=1.0, ls="--", label=f"black body, T = {tb:.0f} K" + bb_tag)
    ax.set_xlabel("rest-frame wavelength in air (Å)")
    ax.set_ylabel("F$_\\lambda$ at the object's distance (erg s$^{-1}$ cm$^{-2}$ Å$^{-1}$)")
    if xlim:
        ax.set_xlim(*xlim)
    else:
        ax.set_xlim(a[0, 0], a[-1, 0])
    top = np.nanmax(a[:, 1]) * 1.25
    ax.set_ylim(0, top)
    if markers:
        for pos, rest, label in feature_markers(r):
            ax.axvline(pos, color="tab:green", lw=0.6, alpha=0.5)
            ax.text(pos, top * 0.985, label, rotation=90, va="top", ha="right", fontsize=7, color="tab:green")
    p = r.params
    ax.set_title(title or (f"{r.directory.name}: day {p.day:g}, log L/L$_\\odot$ = {p.logls:g}, "
                           f"v$_{{ph}}$ = {p.vph:g} km/s" if p else r.directory.name), fontsize=10)
    ax.legend(fontsize=8, loc="upper right" if not markers else "center right")
    if observed is not None:
        dist = f" at distance modulus {p.dmod:g}" if p else ""
        fig.text(0.01, 0.01, "Both spectra at rest-frame air wavelengths; synthetic F$_\\lambda$" + dist +
                 " without reddening (the observed one is corrected for Galactic extinction).", fontsize=7,
                 color="0.3")
    fig.tight_layout(rect=(0, 0.03 if observed is not None else 0, 1, 1))
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
        raise McspecError(f"{r.directory}: stst.dat records no temperature pass")
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
    axes[1].set_ylabel("dilution factor W")
    axes[1].set_yscale("log")
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
    axes[2].legend(fontsize=7)
    axes[0].legend(fontsize=6, ncol=2)
    fig.suptitle(title or f"{r.directory.name}: temperature structure per pass", fontsize=10)
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
        lam = 10.0 ** (r.spectrum.log_l_mc[bins - 1] - 8.0)  # erg/s/A
        lam[r.spectrum.log_l_mc[bins - 1] <= -98] = 0.0
        wl = r.spectrum.wavelength_A[bins - 1]  # air bin centres, as the other plots
        xlabel = "rest-frame wavelength in air (Å)"
        ylabel = "L$_\\lambda$ (erg s$^{-1}$ Å$^{-1}$)"
    else:
        lam = np.ones(bins.size)
        xlabel = "wavelength (Å, as in ionspec.dat)"
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
    ax.set_ylabel(ylabel)
    ax.legend(fontsize=7, loc="upper right")
    ax.set_title(title or f"{r.directory.name}: escaping luminosity by the ion of last emission (final run)",
                 fontsize=10)
    fig.tight_layout()
    return _save(fig, out)
