"""Plots of a fit: the best model against the observed spectrum, chi^2 against evaluation
number, and each fitted parameter against chi^2 (PNG, written with matplotlib's Agg backend)."""
from __future__ import annotations

import math

import numpy as np

from ..plot import log_ticks


# units of the dica.dat values a fit may vary (mass fractions of elements: "mass fraction")
UNITS = {"LOGLS": "log$_{10}$ L/L$_\\odot$", "VPH": "km/s", "TB": "K", "DAY": "days since explosion",
         "DMOD": "mag", "ZRED": "redshift", "EBVG": "mag", "EBVH": "mag", "LOGTAUG": "log$_{10}$ τ",
         "CHL": "eV", "XE1": "R$_{ph}$/R$_{out}$", "LOGLWV": "log$_{10}$ L/L$_\\odot$"}
CHI2_LABEL = "χ² (dimensionless)"


def axis_label(name):
    """A fitted parameter with its unit."""
    from .modelfiles import element_of
    unit = "mass fraction" if element_of(name) else UNITS.get(name.upper())
    return f"{name} ({unit})" if unit else name


def _plt():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def best_fit(path, spct, observed, dereddened, title):
    from .objective import COL_FORMAL, COL_FORMAL_REDDENED, COL_WAVE
    plt = _plt()
    col = COL_FORMAL if dereddened else COL_FORMAL_REDDENED
    use, obs, var = observed.bin_to(spct[:, COL_WAVE])
    w = spct[use, COL_WAVE]
    fig, ax = plt.subplots(figsize=(9, 4.5))
    for lo, hi in observed.windows:
        ax.axvspan(lo, hi, color="0.93", zorder=0)
    ax.plot(observed.wave, observed.flux, color="0.6", lw=0.5, label="observed")
    ax.fill_between(w, obs - np.sqrt(var), obs + np.sqrt(var), color="tab:blue", alpha=0.25,
                    lw=0, label="observed, model bins, with noise floor")
    lo, hi = observed.wave.min(), observed.wave.max()
    sel = (spct[:, COL_WAVE] >= lo - 200) & (spct[:, COL_WAVE] <= hi + 200)
    ax.plot(spct[sel, COL_WAVE], spct[sel, col], color="tab:red", lw=1.0,
            label="best model (formal integral, smoothed)")
    ax.set_xlabel("rest-frame air wavelength (Å)")
    ax.set_ylabel("F$_\\lambda$ (erg s$^{-1}$ cm$^{-2}$ Å$^{-1}$)")
    ax.set_title(title, fontsize=9)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def history(path, rows):
    plt = _plt()
    rows = sorted(rows, key=lambda r: r["eval"])
    ev = np.array([r["eval"] for r in rows])
    c = np.array([r["chi2"] if r["status"] == "ok" else math.inf for r in rows])
    fig, ax = plt.subplots(figsize=(7, 4))
    ok = np.isfinite(c)
    ax.semilogy(ev[ok], c[ok], ".", ms=4, label="evaluation")
    if ok.any():
        ax.semilogy(ev[ok], np.minimum.accumulate(c[ok]), "-", color="tab:red",
                    label="best so far")
        if (~ok).any():
            ax.plot(ev[~ok], np.full((~ok).sum(), c[ok].max()), "x", color="k",
                    label="failed (drawn at the top)")
    ax.set_xlabel("evaluation number")
    ax.set_ylabel(CHI2_LABEL)
    log_ticks(ax.yaxis)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def parameters(path, rows, names, bounds):
    plt = _plt()
    ok = [r for r in rows if r["status"] == "ok" and math.isfinite(r["chi2"])]
    n = len(names)
    fig, axes = plt.subplots(1, n, figsize=(3.2 * n, 3.4), squeeze=False, sharey=True)
    c = np.array([r["chi2"] for r in ok])
    best = min(ok, key=lambda r: r["chi2"]) if ok else None
    for ax, name, (lo, hi) in zip(axes[0], names, bounds):
        v = np.array([r[name] for r in ok])
        if ok:
            ax.semilogy(v, c, ".", ms=4)
            ax.semilogy([best[name]], [best["chi2"]], "*", color="tab:red", ms=12)
        ax.set_xlim(lo, hi)
        ax.set_xlabel(axis_label(name))
        ax.set_yscale("log")
        log_ticks(ax.yaxis)
    axes[0][0].set_ylabel(CHI2_LABEL)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
