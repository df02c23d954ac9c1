"""Air and vacuum wavelengths, converted as the program converts them: the refractive
index of standard air of Edlen (1953) above 2000 A; shorter wavelengths are vacuum."""

from __future__ import annotations

import numpy as np

__all__ = ["AIR_FROM_A", "refractive_index", "air_to_vacuum", "vacuum_to_air"]

AIR_FROM_A = 2000.0  # A: wavelengths below are given in vacuum


def refractive_index(wave_vac_A):
    """Refractive index of standard air at a vacuum wavelength.

    Parameters
    ----------
    wave_vac_A : float or array_like
        Vacuum wavelength in A.

    Returns
    -------
    numpy.ndarray or float
        n (dimensionless, about 1.0003 in the optical).
    """
    s = (1.0e4 / np.asarray(wave_vac_A, dtype=float)) ** 2  # (micron^-1)^2
    return 1.000064328 + 0.0294981 / (146.0 - s) + 0.0002554 / (41.0 - s)


def vacuum_to_air(wave_vac_A):
    """Air wavelength of a vacuum wavelength (unchanged below 2000 A).

    Parameters
    ----------
    wave_vac_A : float or array_like
        Vacuum wavelength in A.

    Returns
    -------
    numpy.ndarray
        Air wavelength in A.
    """
    wv = np.asarray(wave_vac_A, dtype=float)
    return np.where(wv >= AIR_FROM_A, wv / refractive_index(wv), wv)


def air_to_vacuum(wave_air_A):
    """Vacuum wavelength of an air wavelength (unchanged below 2000 A): the inverse of
    `vacuum_to_air` by fixed-point iteration (1e-10 A after three steps).

    Parameters
    ----------
    wave_air_A : float or array_like
        Air wavelength in A.

    Returns
    -------
    numpy.ndarray
        Vacuum wavelength in A.
    """
    wa = np.asarray(wave_air_A, dtype=float)
    wv = wa.copy()
    for _ in range(4):
        wv = np.where(wa >= AIR_FROM_A, wa * refractive_index(wv), wa)
    return wv
