"""The fit's objective: chi^2 of a model's smoothed formal-integral flux at Earth (spct.dat)
against an observed spectrum, in the model's wavelength bins inside the fit windows.

The observed wavelengths are first brought to the model's convention: rest frame, air above
2000 A (Edlen 1953, as the program converts), vacuum below. The observed points are then
averaged in each model bin (bins are uniform in log wavelength, edges half-way in log between
the written bin centres), so every bin counts once whatever the observed sampling; the error of
a bin mean is sqrt(sum sigma_i^2) / n. The variance of a bin is that error squared plus
(noise_floor x observed flux)^2, the floor standing for the model's systematic error.
"""
from __future__ import annotations

import numpy as np

from ..bands import BANDS
from ..errors import InputValueError
from ..outputs import read_observed
from ..wavelengths import air_to_vacuum, vacuum_to_air

# spct.dat columns: wavelength (A, air), smoothed formal flux, the same reddened,
# smoothed Monte Carlo flux, the same reddened, reddened black body (erg/s/cm^2/A).
COL_WAVE, COL_FORMAL, COL_FORMAL_REDDENED = 0, 1, 2



class Observed:
    """An observed spectrum in the model's convention, restricted to the fit windows."""

    def __init__(self, wave, flux, err, windows, noise_floor):
        self.windows = [tuple(w) for w in windows]
        finite = np.isfinite(wave) & np.isfinite(flux) & np.isfinite(err)
        inside = np.zeros_like(finite)
        for i, (lo, hi) in enumerate(self.windows):
            here = (wave >= lo) & (wave <= hi)
            if not here.any():
                raise InputValueError(f"no observed point lies inside the fit window {i} "
                                      f"[{lo}, {hi}] A")
            inside |= here
        bad = inside & ~finite
        if bad.any():
            raise InputValueError(f"{int(bad.sum())} observed points inside the fit windows "
                                  f"have a flux or error that is not finite (the first at "
                                  f"{wave[bad][0]:.6g} A); narrow the windows to leave them "
                                  f"out")
        keep = finite & inside
        order = np.argsort(wave[keep], kind="stable")
        self.wave = wave[keep][order]
        self.flux = flux[keep][order]
        self.err = np.abs(err[keep][order])
        self.noise_floor = float(noise_floor)
        if self.wave.size == 0:
            raise InputValueError("no observed point lies inside the fit windows")

    @classmethod
    def from_file(cls, path, windows, noise_floor, wavelengths="air", frame="rest",
                  redshift=0.0):
        data = read_observed(path)
        if data.shape[1] < 3:
            raise InputValueError(f"{path}: a fit needs the error column (wavelength, flux, error)")
        wave = data[:, 0]
        # To rest-frame vacuum, then to the model's air convention.
        if wavelengths == "air":
            wave = air_to_vacuum(wave)
        if frame == "observed":
            wave = wave / (1.0 + redshift)
        wave = vacuum_to_air(wave)
        return cls(wave, data[:, 1], data[:, 2], windows, noise_floor)

    def bin_to(self, model_wave):
        """Average the observed points in each model bin inside the windows.
        Returns (index of the model bins used, observed mean flux, its variance)."""
        w = np.asarray(model_wave, dtype=float)
        lw = np.log(w)
        mid = 0.5 * (lw[1:] + lw[:-1])
        edges = np.exp(np.concatenate(([2 * lw[0] - mid[0]], mid, [2 * lw[-1] - mid[-1]])))
        idx = np.searchsorted(edges, self.wave, side="right") - 1
        ok = (idx >= 0) & (idx < w.size)
        n = np.bincount(idx[ok], minlength=w.size)
        fsum = np.bincount(idx[ok], weights=self.flux[ok], minlength=w.size)
        esum = np.bincount(idx[ok], weights=self.err[ok] ** 2, minlength=w.size)
        in_win = np.zeros(w.size, dtype=bool)
        for lo, hi in self.windows:
            in_win |= (w >= lo) & (w <= hi)
        use = np.nonzero(in_win & (n > 0))[0]
        mean = fsum[use] / n[use]
        var = esum[use] / n[use] ** 2 + (self.noise_floor * mean) ** 2
        good = var > 0
        return use[good], mean[good], var[good]


def chi2(spct, observed: Observed, dereddened=True):
    """chi^2 and number of bins of a spct.dat table (n, 6) against the observed spectrum.
    Raises ValueError when the model flux is not finite in a bin that enters."""
    col = COL_FORMAL if dereddened else COL_FORMAL_REDDENED
    use, obs, var = observed.bin_to(spct[:, COL_WAVE])
    if use.size == 0:
        raise InputValueError("no model bin inside the fit windows holds an observed point")
    model = spct[use, col]
    bad = ~np.isfinite(model)
    if bad.any():
        raise InputValueError(f"model flux not finite in {int(bad.sum())} bins of the fit windows")
    return float(np.sum((model - obs) ** 2 / var)), int(use.size)


def band_ratios(spct, observed: Observed, dereddened=True, bands=BANDS):
    """Model / observed flux integrated over broad bands (only the bins that enter the fit)."""
    col = COL_FORMAL if dereddened else COL_FORMAL_REDDENED
    use, obs, _ = observed.bin_to(spct[:, COL_WAVE])
    w = spct[use, COL_WAVE]
    out = []
    for lo, hi in bands:
        sel = (w >= lo) & (w < hi)
        if sel.sum() >= 3:
            # Bins are uniform in log wavelength: a bin's width is proportional to w.
            out.append((lo, hi, float((spct[use[sel], col] * w[sel]).sum()
                                      / (obs[sel] * w[sel]).sum())))
    return out
