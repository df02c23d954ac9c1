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


def sequence(path, seq, epochs, spectra, observed):
    """Every epoch's final model (its spct.dat table, None when it failed) over its observed
    spectrum, each pair normalised to the observed mean and offset, earliest at the top."""
    from .objective import COL_FORMAL, COL_FORMAL_REDDENED, COL_WAVE
    plt = _plt()
    fig, ax = plt.subplots(figsize=(8, 2.0 + 1.5 * len(epochs)))
    n = len(epochs)
    for i, (row, spct, obs, e) in enumerate(zip(epochs, spectra, observed, seq.epochs)):
        off = 1.6 * (n - 1 - i)
        ax.plot(obs.wave, obs.flux / np.mean(obs.flux) + off, color="0.55", lw=0.6,
                label="observed" if i == 0 else None)
        if spct is not None:
            col = COL_FORMAL if e.cfg.dereddened else COL_FORMAL_REDDENED
            sel = (spct[:, COL_WAVE] >= obs.wave.min()) & (spct[:, COL_WAVE] <= obs.wave.max())
            ax.plot(spct[sel, COL_WAVE], spct[sel, col] / np.mean(obs.flux) + off,
                    color="tab:red", lw=1.0, label="model" if i == 0 else None)
        chi = row.get("chi2_per_bin")
        ax.text(obs.wave.max() + 60, off + 0.4,
                f"{row['epoch']}\nVPH {row['VPH']:.0f} km/s"
                + (f"\nχ²/bin {chi:.2f}" if chi is not None else ""), fontsize=8, va="center")
    ax.set_xlabel("rest-frame air wavelength (Å)")
    ax.set_ylabel("F$_\\lambda$ / mean observed F$_\\lambda$ + offset")
    ax.set_xlim(right=ax.get_xlim()[1] + 900)
    ax.set_title("abundance tomography: days after explosion, photospheric velocity, χ² per bin",
                 fontsize=9)
    ax.legend(fontsize=8, loc="upper left")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def zones(path, zones_out, photospheres, floor=1e-4):
    """Mass fractions at the explosion by velocity zone (steps), with each epoch's
    photosphere marked."""
    plt = _plt()
    fig, ax = plt.subplots(figsize=(8, 4.5))
    vmax = max(z["v_top"] or 0 for z in zones_out) or max(z["v_bottom"] for z in zones_out)
    vmax = 1.15 * vmax if vmax else 30000.0
    cols = list(dict.fromkeys(c for z in zones_out for c in z["fractions"]))
    for c in cols:
        xs, ys = [], []
        for z in sorted(zones_out, key=lambda z: z["v_bottom"]):
            top = z["v_top"] or vmax
            xs += [z["v_bottom"], top]
            ys += [max(z["fractions"].get(c, 0.0), floor)] * 2
        if max(ys) > floor:
            ax.semilogy(xs, ys, lw=1.4, label=c)
    for label, v in photospheres:
        ax.axvline(v, color="0.6", lw=0.7, ls="--")
        ax.text(v, 1.5 * floor, label, rotation=90, fontsize=7, ha="right", va="bottom")
    ax.set_ylim(floor, 1.5)
    ax.set_xlabel("velocity (km/s)")
    ax.set_ylabel("mass fraction at the explosion")
    ax.set_title("fitted zones (dashed: photosphere of each epoch)", fontsize=9)
    ax.legend(fontsize=7, ncol=4)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
