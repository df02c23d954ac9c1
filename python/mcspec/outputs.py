"""Readers of every file a run of mcspec writes, the types they return, and `read_run`.

Readers return numpy arrays or small dataclasses; units are those of the files (see
docs/outputs.md). Every reader knows the layout of the records it reads (the widths of
the writer's formats, the records of each block): a record cut short, a missing block,
an empty file or undecodable bytes raise `FileFormatError` naming the file, the record
(line) and the field.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import numpy as np

from .errors import FileFormatError, IncompleteRunError, McspecError
from .inputs import ELEMENTS, ISOTOPES, Params, read_comp, read_dica
from .numbers import NumberFormatError, parse_float, parse_int, split_fields
from .wavelengths import vacuum_to_air
from .records import layout, parse_record, read_lines, record_length

__all__ = [
    "read_spct", "read_spcp", "read_sica", "read_eica", "read_stst", "read_sbib", "read_yhea", "read_ptfn",
    "read_lhea", "read_ionspec", "read_atmd", "read_observed", "read_run", "species_label",
    "FinalSpectrum", "McSpectrum", "McFlux", "mc_flux", "EmissionLines", "TemperaturePass", "McReport", "RunLog", "Summary",
    "Ionisation", "PartitionFunctions", "LineList", "IonLevels", "IonSpectrum", "RunResult", "RUN_FILES",
    "read_composition", "uniform_composition", "ShellComposition", "ISOTOPES",
]

PathLike = Union[str, Path]
EMPTY_LOG = -98.0  # log10 luminosities at or below: an empty bin (the files write -99 and -99 + log10 Rb)


def _empty_nan(log_l: np.ndarray) -> np.ndarray:
    """The file's empty-bin marker (-99, shifted slightly by a bin-width ratio) as NaN."""
    return np.where(log_l <= EMPTY_LOG, np.nan, log_l)
STAGES = ("I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX")


def species_label(code: float) -> str:
    """The ion of a species code.

    Parameters
    ----------
    code : float
        Z + 0.01 (j - 1), j the stage (1 = neutral); 0 for "not an ion".

    Returns
    -------
    str
        E.g. 'Si II' for 14.01, 'other' for 0.
    """
    z = int(code + 0.001)
    j = int(round((code - z) * 100)) + 1
    if z <= 0:
        return "other"
    sym = ELEMENTS[z - 1] if z <= len(ELEMENTS) else f"Z={z}"
    stage = STAGES[j - 1] if 1 <= j <= len(STAGES) else f"stage {j}"
    return f"{sym} {stage}"


def _nonblank(lines):
    """(line number, record) of the records that are not empty. The program's empty
    records have no characters: a record of blanks is a record cut short."""
    return [(k, line) for k, line in enumerate(lines, 1) if line]


def _check_length(path, k, line, n, what):
    """A record written by a fixed format whose values are read by label."""
    if len(line) != n:
        raise FileFormatError(path, k, what, f"record {'cut short' if len(line) < n else 'too long'}: "
                              f"{len(line)} characters, {n} expected")


def _values(path, k, text, n, what, kinds=None):
    """n blank-separated numbers of a labelled record (labels already removed)."""
    f = split_fields(text)
    if len(f) != n:
        raise FileFormatError(path, k, what, f"{len(f)} values, {n} expected")
    try:
        return [parse_int(x) if kinds and kinds[i] == "i" else parse_float(x) for i, x in enumerate(f)]
    except NumberFormatError as e:
        raise FileFormatError(path, k, what, str(e)) from None


# ---------------------------------------------------------------------------- spct.dat

SPCT_COLUMNS = ("wavelength_A", "formal", "formal_reddened", "mc", "mc_reddened", "blackbody_reddened")
_SPCT = layout("F9.2,5E15.5", SPCT_COLUMNS)


def read_spct(path: PathLike) -> np.ndarray:
    """The observed-flux spectrum "spct.dat".

    Parameters
    ----------
    path : str or Path
        The file (records ``(F9.2, 5E15.5)``).

    Returns
    -------
    numpy.ndarray, shape (n, 6)
        Columns: air wavelength (A, rest frame); formal-integral F_lambda, smoothed; the
        same reddened; Monte Carlo F_lambda, smoothed; the same reddened; reddened black
        body of the boundary temperature with the bolometric flux. Fluxes in
        erg s^-1 cm^-2 A^-1 at the object's distance.

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; wavelengths not increasing.
    """
    rows = [parse_record(path, k, line, _SPCT) for k, line in _nonblank(read_lines(path))]
    a = np.array(rows, dtype=float).reshape(-1, 6)
    bad = np.nonzero(np.diff(a[:, 0]) <= 0)[0]
    if bad.size:
        raise FileFormatError(path, None, "wavelength_A", f"wavelengths do not increase after {a[bad[0], 0]} A")
    return a


# ---------------------------------------------------------------------------- spcp.dat

@dataclass
class FinalSpectrum:
    """The emergent spectrum of "spcp.dat" (after the last Monte Carlo run).

    bin: bin number (1..KG); log_wave_air_um: log10 air bin-centre wavelength (micron);
    vac_over_air: vacuum over air bin width; log_l_formal, log_l_mc: log10 L_lambda per
    unit air wavelength (erg s^-1 cm^-1) from the formal integral and from the Monte
    Carlo packets (NaN: an empty bin; the file writes about -99). iteration: the radiation-field pass counter
    printed on the "Iteration" line. grid: the last wavelength-grid table, shape
    (KG+1, 7): edge number, log10 vacuum edge (micron), step, vacuum edge (micron),
    vacuum edge (A), air edge (micron), log10 air edge. n_grids: how many grid tables
    (one per temperature pass).
    """
    bin: np.ndarray
    log_wave_air_um: np.ndarray
    vac_over_air: np.ndarray
    log_l_formal: np.ndarray
    log_l_mc: np.ndarray
    iteration: int
    grid: np.ndarray
    n_grids: int

    @property
    def wavelength_A(self) -> np.ndarray:
        """Air bin-centre wavelength in A."""
        return 10.0 ** (self.log_wave_air_um + 4.0)


_SPCP_GRID = layout("I5,6F12.6", ("edge", "log_vac_um", "step", "vac_um", "vac_A", "air_um", "log_air_um"))
_SPCP_ITER = layout("5X,'Iteration',I4", ("iteration",))
_SPCP_BIN = layout("I9,F16.6,F16.8,2F16.5", ("bin", "log_wave_air_um", "vac_over_air", "log_l_formal", "log_l_mc"))


def read_spcp(path: PathLike) -> FinalSpectrum:
    """The wavelength grids and the emergent spectrum of "spcp.dat".

    Parameters
    ----------
    path : str or Path
        The file: per pass KG + 1 grid records ``(I5, 6F12.6)``, then ``Iteration``
        ``(5X, 'Iteration', I4)`` and KG records ``(I9, F16.6, F16.8, 2F16.5)``.

    Returns
    -------
    FinalSpectrum

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; a grid or the spectrum with records missing; no
        final spectrum (a run that did not finish).
    """
    grids, spec, iteration = [], [], None
    for k, line in _nonblank(read_lines(path)):
        if iteration is None and line.lstrip().startswith("Iteration"):
            iteration = parse_record(path, k, line, _SPCP_ITER)[0]
        elif iteration is None:
            v = parse_record(path, k, line, _SPCP_GRID)
            if v[0] == 1:
                grids.append([])
            if not grids or v[0] != len(grids[-1]) + 1:
                raise FileFormatError(path, k, "edge", f"edge {v[0]} out of order")
            grids[-1].append(v)
        else:
            v = parse_record(path, k, line, _SPCP_BIN)
            if v[0] != len(spec) + 1:
                raise FileFormatError(path, k, "bin", f"bin {v[0]} out of order (expected {len(spec) + 1})")
            spec.append(v)
    if not grids:
        raise FileFormatError(path, reason="no wavelength grid")
    kg = len(grids[0]) - 1
    for g in grids:
        if len(g) != kg + 1:
            raise FileFormatError(path, reason=f"a wavelength grid of {len(g)} edges, {kg + 1} expected (cut short?)")
    if iteration is None:
        raise FileFormatError(path, reason="no final spectrum (no 'Iteration' record): did the run finish?")
    if len(spec) != kg:
        raise FileFormatError(path, reason=f"final spectrum of {len(spec)} bins, {kg} expected (cut short?)")
    a = np.array(spec, dtype=float).reshape(-1, 5)
    return FinalSpectrum(a[:, 0].astype(int), a[:, 1], a[:, 2], _empty_nan(a[:, 3]), _empty_nan(a[:, 4]), iteration,
                         np.array(grids[-1], dtype=float).reshape(-1, 7), len(grids))


# ---------------------------------------------------------------------------- sica.dat

@dataclass
class McSpectrum:
    """One Monte Carlo run's escaping spectrum, a block of "sica.dat".

    iteration: the radiation-field pass counter (0 during the temperature passes, 1..ITT
    in the final passes); wavelength_vacuum_um: the file's vacuum bin-centre wavelength
    (micron; `wavelength` gives it in A, air above 2000 A); packets: escaped packets in
    the bin; energy: their energy in packet units; cumulative: running packet count;
    log_l: log10 L_lambda (erg s^-1 cm^-1, per unit vacuum wavelength; NaN: empty bin).
    """
    iteration: int
    wavelength_vacuum_um: np.ndarray
    packets: np.ndarray
    energy: np.ndarray
    cumulative: np.ndarray
    log_l: np.ndarray

    @property
    def wavelength(self) -> np.ndarray:
        """Bin-centre wavelength in A, air above 2000 A (vacuum below)."""
        return vacuum_to_air(self.wavelength_vacuum_um * 1e4)


_SICA_HEAD = layout("5X,'Spectrum        Iteration =',I4", ("iteration",))
_SICA_ROW = layout("F16.6,I15,F18.3,I12,F15.4", ("wave_um", "packets", "energy", "cumulative", "log_l"))


def read_sica(path: PathLike) -> list[McSpectrum]:
    """Every block of "sica.dat", in run order (temperature passes, then final passes).

    Parameters
    ----------
    path : str or Path
        The file: per run a header ``(5X, 'Spectrum        Iteration =', I4)`` and KG
        records ``(F16.6, I15, F18.3, I12, F15.4)``.

    Returns
    -------
    list of McSpectrum

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; a block with another number of bins than the first.
    """
    blocks = []
    for k, line in _nonblank(read_lines(path)):
        if "Spectrum" in line:
            blocks.append((k, parse_record(path, k, line, _SICA_HEAD)[0], []))
        elif not blocks:
            raise FileFormatError(path, k, None, "spectrum record before the first 'Spectrum' header")
        else:
            blocks[-1][2].append(parse_record(path, k, line, _SICA_ROW))
    out = []
    for k, it, rows in blocks:
        if len(rows) != len(blocks[0][2]) or not rows:
            raise FileFormatError(path, k, None,
                                  f"block of {len(rows)} bins, {len(blocks[0][2])} expected (cut short?)")
        a = np.array(rows, dtype=float)
        out.append(McSpectrum(it, a[:, 0], a[:, 1].astype(np.int64), a[:, 2], a[:, 3].astype(np.int64),
                              _empty_nan(a[:, 4])))
    return out


# ---------------------------------------------------------------------------- Monte Carlo noise

SG7 = np.array([-2.0, 3.0, 6.0, 7.0, 6.0, 3.0, -2.0]) / 21.0  # the program's smoothing of spct.dat


@dataclass
class McFlux:
    """The final Monte Carlo (escaping-packet) spectrum with its statistical uncertainty.

    wavelength: air bin-centre wavelength (A, vacuum below 2000 A); flux: F_lambda at
    the object's distance (erg s^-1 cm^-2 A^-1, per air A, unreddened, not smoothed; NaN:
    no packet); sigma: its one-standard-deviation Monte Carlo uncertainty; packets: the
    escaped packets of the bin in the final run.

    The estimator: the flux of a bin is the sum of the energies of the N packets that
    escaped into it. Packets escape independently and N follows Poisson statistics, so
    Var = N <e^2>, and with packet energies nearly equal (they differ only by the
    Doppler factors of the last scattering, a few per cent) the relative error is
    1/sqrt(N) (against five seeds: the scatter is 1.00 sigma on the SN 2011fe example,
    0.86 sigma on the hydrogen one, whose many unscattered packets keep the boundary's
    frequency stratification). A bin without packets gets no estimate (NaN). `smoothed` carries sigma
    through the program's seven-point smoothing of "spct.dat" (bins independent).
    """
    wavelength: np.ndarray
    flux: np.ndarray
    sigma: np.ndarray
    packets: np.ndarray

    def smoothed(self):
        """(wavelength, flux, sigma) after the seven-point Savitzky-Golay smoothing the
        program applies to "spct.dat" (bins 4 .. KG - 3): flux as spct.dat column 3 (before
        the wavelength window), sigma = sqrt(sum w_k^2 sigma_k^2)."""
        f, v = np.nan_to_num(self.flux), np.nan_to_num(self.sigma) ** 2
        sf = np.maximum(0.0, np.convolve(f, SG7[::-1], mode="valid"))
        sv = np.sqrt(np.convolve(v, SG7[::-1] ** 2, mode="valid"))
        return self.wavelength[3:-3], sf, sv


def mc_flux(spectrum: "FinalSpectrum", last: "McSpectrum", dmod: float) -> McFlux:
    """The final Monte Carlo spectrum of a run ("spcp.dat") at distance modulus `dmod`,
    with the packet counts of its last "sica.dat" block (see `McFlux`)."""
    d_cm = 10.0 ** (0.2 * dmod + 1.0) * 3.0857e18
    flux = 10.0 ** (spectrum.log_l_mc - 8.0) / (4.0 * math.pi * d_cm ** 2)
    n = last.packets.astype(float)
    with np.errstate(divide="ignore", invalid="ignore"):
        sigma = np.where(n > 0, flux / np.sqrt(n), np.nan)
    return McFlux(spectrum.wavelength_A, flux, sigma, last.packets)


# ---------------------------------------------------------------------------- eica.dat

@dataclass
class EmissionLines:
    """Lines that last emitted escaping packets in one Monte Carlo run ("eica.dat").

    transition: transition number (reading order of the line list); lower, upper: level
    indices in the level table; wavelength_vacuum_um: the file's vacuum wavelength (micron;
    `wavelength` gives it in A, air above 2000 A); element: symbol;
    stage: stage label (I, II, ...); e_upper, j_upper, e_lower, j_lower: level energies
    (cm^-1; negative marks a metastable level) and J values; energy: escaped energy last
    emitted in the line, in packet units (shares of the run's escaped energy PW(2)).
    """
    transition: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    wavelength_vacuum_um: np.ndarray
    element: np.ndarray
    stage: np.ndarray
    e_upper: np.ndarray
    j_upper: np.ndarray
    e_lower: np.ndarray
    j_lower: np.ndarray
    energy: np.ndarray

    @property
    def wavelength(self) -> np.ndarray:
        """Line wavelength in A, air above 2000 A (vacuum below)."""
        return vacuum_to_air(self.wavelength_vacuum_um * 1e4)

    @property
    def ion(self) -> np.ndarray:
        """'Si II' and so on, per line."""
        return np.array([f"{e} {s}" for e, s in zip(self.element, self.stage)], dtype=object)

    def strongest(self, n: int = 10) -> "EmissionLines":
        """The n lines of most energy, strongest first."""
        order = np.argsort(-self.energy, kind="stable")[:n]
        return EmissionLines(*(getattr(self, f)[order] for f in self.__dataclass_fields__))


_EICA = layout("F10.5,4X,A3,A5,2(F12.3,F5.1),F10.2",
               ("wave_um", "element", "stage", "e_upper", "j_upper", "e_lower", "j_lower", "energy"))


def read_eica(path: PathLike) -> list[EmissionLines]:
    """The blocks of "eica.dat", one per Monte Carlo run that emitted lines.

    Parameters
    ----------
    path : str or Path
        The file: per line a free-format record (transition, lower, upper level), then
        ``(F10.5, 4X, A3, A5, 2(F12.3, F5.1), F10.2)``. May be empty.

    Returns
    -------
    list of EmissionLines
        The file has no block headers: a run lists its lines in order of increasing
        wavelength, so a new block starts where the wavelength falls back or a transition
        repeats. A run with no escaping line emission writes nothing and has no block.

    Raises
    ------
    FileFormatError
        Missing or damaged file; the last line entry cut short.
    """
    lines = _nonblank(read_lines(path, required=False))
    if len(lines) % 2:
        raise FileFormatError(path, lines[-1][0], None, "odd number of records: the last line entry is cut short")
    blocks, cur, seen, prev = [], [], set(), -math.inf
    for i in range(0, len(lines), 2):
        k, head = lines[i][0], split_fields(lines[i][1])
        if len(head) != 3:
            raise FileFormatError(path, k, None, "expected the transition, lower and upper level numbers")
        try:
            m, lo, up = (parse_int(x) for x in head)
        except NumberFormatError as e:
            raise FileFormatError(path, k, None, str(e)) from None
        v = parse_record(path, lines[i + 1][0], lines[i + 1][1], _EICA)
        if cur and (v[0] < prev or m in seen):
            blocks.append(cur)
            cur, seen = [], set()
        cur.append([m, lo, up] + v)
        seen.add(m)
        prev = v[0]
    if cur:
        blocks.append(cur)
    out = []
    for b in blocks:
        c = list(zip(*b))
        i64 = lambda j: np.array(c[j], dtype=np.int64)
        f64 = lambda j: np.array(c[j], dtype=float)
        obj = lambda j: np.array(c[j], dtype=object)
        out.append(EmissionLines(i64(0), i64(1), i64(2), f64(3), obj(4), obj(5), *(f64(j) for j in range(6, 11))))
    return out


# ---------------------------------------------------------------------------- stst.dat

@dataclass
class TemperaturePass:
    """One temperature pass as logged in "stst.dat" ("TEMP IT no:").

    number: pass counter ITER; mean_change_percent: mean |dTR|/TR over the shells (%);
    log_sigma: log10 sigma_T; flxout: escaped fraction of the run; t_star: effective
    temperature (K); tb: new boundary temperature (K); structure: shape (JS, 6), columns
    x = R/r at the shell centre, velocity (km/s), log10 density (g cm^-3), TE (K), TR (K),
    dilution factor W.
    """
    number: int
    mean_change_percent: float
    flxout: float
    t_star: float
    tb: float
    structure: np.ndarray
    log_sigma: float = math.nan

    @property
    def tr(self) -> np.ndarray:
        """Radiation temperature per shell (K)."""
        return self.structure[:, 4]

    @property
    def velocity(self) -> np.ndarray:
        """Velocity at the shell centres (km/s)."""
        return self.structure[:, 1]


@dataclass
class McReport:
    """One Monte Carlo run's report in "stst.dat".

    energy_check: relative energy-conservation check; counts: packets, fell into the core,
    escaped, escaped after a line event, escaped without one, and two unused counters;
    pw2: escaped energy (packet units); tb: boundary temperature of the run (K);
    shells: shape (JS, 9), columns mean intensity J, comoving net flux, K moment, fraction
    of J above 5kTB/h, lab net flux, mean comoving frequency (Hz), beta at the shell
    centre, shell number, mid-point crossings; log_l, log_l_plus: log10 escaping and
    injected luminosity (erg/s); tb1: boundary temperature from the scaling (K); log_ep0:
    log10 energy of one packet unit (erg/s).
    """
    energy_check: float
    counts: np.ndarray = field(default_factory=lambda: np.zeros(0, dtype=np.int64))
    pw2: float = math.nan
    tb: float = math.nan
    shells: np.ndarray = field(default_factory=lambda: np.zeros((0, 9)))
    log_l: float = math.nan
    log_l_plus: float = math.nan
    tb1: float = math.nan
    log_ep0: float = math.nan


@dataclass
class RunLog:
    """What "stst.dat" records: initial structure (JS, 6), every temperature pass, every
    Monte Carlo run report (temperature passes and final passes, in order), and the
    closing flux check (power = escaped energy in packet units, input_flux = bolometric
    flux at Earth, int_flux = integrated Monte Carlo flux, erg s^-1 cm^-2); complete:
    whether the closing records (flux check and magnitudes) were there."""
    initial_structure: np.ndarray
    passes: list
    reports: list
    power: float = math.nan
    input_flux: float = math.nan
    int_flux: float = math.nan
    complete: bool = False


_STRUCT = layout("5F12.2,F9.3", ("x", "velocity", "log_rho", "te", "tr", "w"))
_SHELLS = layout("3F9.5,E11.3,F10.5,E11.3,F9.4,I4,ES10.3",
                 ("J", "flux", "K", "J_above", "lab_flux", "nu_mean", "beta", "shell", "crossings"))
# a run with the top-hat boundary writes the crossings as an integer
_SHELLS_TOP_HAT = layout("3F9.5,E11.3,F10.5,E11.3,F9.4,I4,I8",
                         ("J", "flux", "K", "J_above", "lab_flux", "nu_mean", "beta", "shell", "crossings"))
_COUNTS = layout("7I10", ("NPK", "ABS", "ESC", "event", "no_event", "c6", "out_of_rg"))
_CONSV = layout("9X,'En consv. check',D12.3", ("check",))
_CONSV_TOP_HAT = layout("9X,'En consv check',D12.3", ("check",))  # the top-hat boundary's final run
_PASS = layout("F8.1,2F12.4,'   T* = ',F7.1,'   TB = ',F7.1", ("dT", "log_sigma", "flxout", "T*", "TB"))
_MAG_LENGTHS = {"UNREDD. MAGS:": 65, "REDD. MAGS:": 65, "UNREDD. COL.:": 52, "REDD. COL.:": 52,
                "ABS. MAG:": 52, "MBol =": 54}


def _table(path, lines, i, fields, n, what):
    """n records of `fields` from index i on (blank records before it skipped); returns (array, next index)."""
    i = _skip_blank(lines, i)
    rows = []
    while len(rows) < n:
        if i >= len(lines) or not lines[i]:
            raise FileFormatError(path, i + 1 if i < len(lines) else None, None,
                                  f"{what}: {len(rows)} of {n} records (cut short?)")
        rows.append(parse_record(path, i + 1, lines[i], fields))
        i += 1
    return np.array(rows, dtype=float).reshape(-1, len([f for f in fields if f.name])), i


def _skip_blank(lines, i):
    while i < len(lines) and not lines[i]:
        i += 1
    return i


def _structure_rows(path, lines, i):
    """The initial shell table: as many 5F12.2, F9.3 records as there are."""
    i = _skip_blank(lines, i)
    rows = []
    while i < len(lines) and lines[i]:
        rows.append(parse_record(path, i + 1, lines[i], _STRUCT))
        i += 1
    if not rows:
        raise FileFormatError(path, i + 1, None, "the shell table has no records")
    return np.array(rows, dtype=float), i


def read_stst(path: PathLike, complete: bool = True) -> RunLog:
    """The run log "stst.dat": initial structure, temperature passes, Monte Carlo reports.

    Parameters
    ----------
    path : str or Path
        The file.
    complete : bool
        Require the closing records (``POWER:`` flux check and the magnitudes) of a run
        that finished; False reads the log of a run that stopped, up to the first record
        cut short or damaged (the pass or report it belongs to is left out).

    Returns
    -------
    RunLog

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; no shell table; a table or report cut short; with
        `complete`, no closing records.
    """
    lines = read_lines(path)
    initial, passes, reports = None, [], []
    power = inflx = intflx = math.nan
    mags = set()
    i = 0
    while i < len(lines):
        try:
            line, k = lines[i], i + 1
            s = line.strip()
            if s.startswith("XS") and "LOG RH" in s and "SH M" not in s and initial is None:
                initial, i = _structure_rows(path, lines, i + 1)
                continue
            js = 0 if initial is None else len(initial)
            if s.startswith("En consv"):
                if initial is None:
                    raise FileFormatError(path, k, None, "Monte Carlo report before the shell table")
                reports.append(McReport(parse_record(path, k, line, _CONSV if s.startswith("En consv.") else
                                                     _CONSV_TOP_HAT)[0]))
            elif s.startswith("NPK") and reports:
                a, i = _table(path, lines, i + 1, _COUNTS, 1, "packet counters")
                reports[-1].counts = a[0].astype(np.int64)
                continue
            elif s.startswith("PW(2)=") and reports:
                reports[-1].pw2 = _values(path, k, s.replace("PW(2)=", " ").replace("RQ(JS,5)=", " "), 2, "PW(2)")[0]
            elif s.startswith("TB=") and reports:
                v = s.replace("TB=", " ").replace("CLP=", " ").replace("CL=", " ")
                reports[-1].tb = _values(path, k, v, 3, "TB")[0]
            elif s.startswith("JP") and reports:
                j = _skip_blank(lines, i + 1)
                top_hat = j < len(lines) and len(lines[j]) == record_length(_SHELLS_TOP_HAT)
                reports[-1].shells, i = _table(path, lines, i + 1, _SHELLS_TOP_HAT if top_hat else _SHELLS, js,
                                               "shell report")
                continue
            elif s.startswith("Scale:") and reports:
                _check_length(path, k, line, 39, "Scale")
                reports[-1].log_l, reports[-1].log_l_plus = _values(
                    path, k, s.replace("Scale:", " ").replace("L+ =", " ").replace("L =", " "), 2, "Scale")
            elif s.startswith("L =") and "Log EP0 =" in s and reports:  # the top-hat boundary's final run
                _check_length(path, k, line, 67, "L")
                reports[-1].log_l, reports[-1].log_l_plus, reports[-1].log_ep0 = _values(
                    path, k, s.replace("L+ =", " ").replace("L =", " ").replace("Log EP0 =", " "), 3, "L")
            elif s.startswith("TB1 =") and reports:
                _check_length(path, k, line, 57, "TB1")
                reports[-1].tb1, reports[-1].log_ep0 = _values(path, k, s.replace("TB1 =", " ").replace("Log EP0 =", " "),
                                                               2, "TB1")
            elif s.startswith("TEMP IT no:"):
                number = _values(path, k, s.split(":", 1)[1], 1, "TEMP IT no", "i")[0]
                j = _skip_blank(lines, i + 1)
                if j >= len(lines):
                    raise FileFormatError(path, k, None, "temperature pass cut short")
                v = parse_record(path, j + 1, lines[j], _PASS)
                j = _skip_blank(lines, j + 1)  # the column header
                table, i = _table(path, lines, j + 1, _STRUCT, js, f"temperature pass {number}")
                passes.append(TemperaturePass(number, v[0], v[2], v[3], v[4], table, v[1]))
                continue
            elif s.startswith("POWER:"):
                _check_length(path, k, line, 78, "POWER")
                power, inflx, intflx = _values(
                    path, k, s.replace("POWER:", " ").replace("INPUT FLUX:", " ").replace("INT. FLUX:", " "), 3, "POWER")
            else:
                for label, n in _MAG_LENGTHS.items():
                    if s.startswith(label) and math.isfinite(power):
                        _check_length(path, k, line, n, label.rstrip(":= "))
                        mags.add(label)
            i += 1
        except FileFormatError:
            if complete:
                raise
            break  # a run that stopped: what came before the damage

    if initial is None:
        raise FileFormatError(path, reason="no shell table (no 'XS ... LOG RH' header): not a run log")
    for n, r in enumerate(reports, 1):
        if r.counts.size == 0 or r.shells.shape[0] != len(initial) or not math.isfinite(r.log_ep0):
            if complete or n < len(reports):
                raise FileFormatError(path, reason=f"Monte Carlo report {n} is cut short")
    done = math.isfinite(power) and len(mags) == len(_MAG_LENGTHS)
    if complete and not done:
        raise FileFormatError(path, reason="no closing flux check and magnitudes: the run did not finish "
                                           "or the file is cut short")
    return RunLog(initial, passes, reports, power, inflx, intflx, done)


# ---------------------------------------------------------------------------- sbib.dat

@dataclass
class Summary:
    """The run summary "sbib.dat".

    log_r_rsun, log_l_lsun, vph (km/s), tb (K, as read): the parameter echo.
    composition: rows (Z, raw mass fraction, normalised mass fraction, number fraction),
    symbols: element symbols of those rows. n_ions, n_lines: ions and lines taken.
    strong_lines: dict of arrays of the strong lines in the observed band: width (A, the
    equivalent width of a saturated absorption), mean_wave (A, absorption-weighted),
    wave (A, air), element, stage, e_low_ev, e_low_cm (cm^-1, negative: metastable),
    loggf. distance_modulus (mag), distance_pc, ebv (observed, emitted; mag). magnitudes:
    dict with keys U, B, V, R (unreddened), U_red.., 'U-B', 'B-V', 'V-R' (and '_red'),
    M_U, M_B, M_V (absolute), mbol, bc, Mbol.
    """
    log_r_rsun: float
    log_l_lsun: float
    vph: float
    tb: float
    composition: np.ndarray
    symbols: list
    n_ions: int
    n_lines: int
    strong_lines: dict
    distance_modulus: float
    distance_pc: float
    ebv: tuple
    magnitudes: dict


_SBIB_HEAD = layout("F24.3,F12.3,F18.1,F14.1", ("LOG R/RS", "LOG L/LS", "VEL LB", "TB"))
_SBIB_COMP = layout("I9,2X,A3,3F13.6", ("Z", "symbol", "raw", "normalised", "number"))
_SBIB_IONS = layout("5X,'No. of ions =',I4,12X,'Total No. Included =',I6", ("ions", "lines"))
_SBIB_STRONG = layout("F9.3,F8.1,F12.2,3X,A3,A5,F10.2,F12.2,F9.3",
                      ("width", "mean_wave", "wave", "element", "stage", "e_low_ev", "e_low_cm", "loggf"))
_MAG_LINES = {
    "UNREDD. MAGS:": ("U", "B", "V", "R"), "UNREDD. COL.:": ("U-B", "B-V", "V-R"),
    "REDD. MAGS:": ("U_red", "B_red", "V_red", "R_red"), "REDD. COL.:": ("U-B_red", "B-V_red", "V-R_red"),
    "ABS. MAG:": ("M_U", "M_B", "M_V"),
}


def _mag_line(path, k, line, names):
    """Values of a magnitude line: a 19-column label, then (F7.3, 6-column label) repeated."""
    out = {}
    for j, n in enumerate(names):
        try:
            out[n] = parse_float(line[19 + 13 * j:26 + 13 * j])
        except NumberFormatError as e:
            raise FileFormatError(path, k, n, str(e)) from None
    return out


def read_sbib(path: PathLike) -> Summary:
    """The run summary "sbib.dat" of a finished run.

    Parameters
    ----------
    path : str or Path
        The file.

    Returns
    -------
    Summary

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; a block missing (boundary echo, composition,
        line count, distance, reddening, magnitudes).
    """
    lines = read_lines(path)
    comp, syms, strong = [], [], []
    head = None
    ions = None
    dist = ebv = None
    mags = {}
    skip = set()
    for k, line in enumerate(lines, 1):
        s = line.strip()
        if not s or k in skip:
            continue
        if s.startswith("LOG R/RS") and head is None:
            j = _skip_blank(lines, k)
            if j >= len(lines):
                raise FileFormatError(path, k, None, "boundary echo cut short")
            head = parse_record(path, j + 1, lines[j], _SBIB_HEAD)
            skip.add(j + 1)
        elif head is None:
            raise FileFormatError(path, k, None, "record before the boundary echo ('LOG R/RS' header)")
        elif s.startswith("No. of ions"):
            ions = parse_record(path, k, line, _SBIB_IONS)
        elif s.startswith("DISTANCE"):
            _check_length(path, k, line, 33, "DISTANCE")
            dist = _values(path, k, s[len("DISTANCE"):], 2, "DISTANCE")
        elif s.startswith("E(B-V)="):
            _check_length(path, k, line, 26, "E(B-V)")
            ebv = tuple(_values(path, k, s[7:], 2, "E(B-V)"))
        elif s.startswith(tuple(_MAG_LINES)):
            label = next(x for x in _MAG_LINES if s.startswith(x))
            _check_length(path, k, line, _MAG_LENGTHS[label], label)
            mags.update(_mag_line(path, k, line, _MAG_LINES[label]))
        elif s.startswith("MBol ="):
            _check_length(path, k, line, 54, "MBol")
            for name, a, b in (("mbol", 7, 14), ("bc", 29, 36), ("Mbol", 47, 54)):
                try:
                    mags[name] = parse_float(line[a:b])
                except NumberFormatError as e:
                    raise FileFormatError(path, k, name, str(e)) from None
        elif s.startswith(("DT =", "TAUB =", "LOG R/RS")):
            pass
        elif ions is None:
            v = parse_record(path, k, line, _SBIB_COMP)
            comp.append([v[0], v[2], v[3], v[4]])
            syms.append(v[1])
        else:
            strong.append(parse_record(path, k, line, _SBIB_STRONG))
    for what, v in (("boundary echo", head), ("composition", comp), ("line count", ions), ("DISTANCE", dist),
                    ("E(B-V)", ebv), ("magnitudes", len(mags) == 20 or None)):
        if not v:
            raise FileFormatError(path, reason=f"no {what}: the run did not finish or the file is cut short")
    cols = list(zip(*strong)) if strong else [()] * 8
    kinds = (float, float, float, object, object, float, float, float)
    strong_d = {name: np.array(c, dtype=t) for name, c, t in zip(
        ("width", "mean_wave", "wave", "element", "stage", "e_low_ev", "e_low_cm", "loggf"), cols, kinds)}
    return Summary(head[0], head[1], head[2], head[3], np.array(comp, dtype=float).reshape(-1, 4), syms,
                   ions[0], ions[1], strong_d, dist[0], dist[1], ebv, mags)


# ---------------------------------------------------------------------------- yhea.dat

@dataclass
class Ionisation:
    """Final plasma state of "yhea.dat".

    ntot, ne: number density of nuclei and of electrons per shell (cm^-3); x, velocity
    (km/s), log_rho (g cm^-3): shell centres; fractions: dict Z -> array (JS, 4) of the
    fractions of stages I..IV; symbols: dict Z -> element symbol.
    """
    ntot: np.ndarray
    ne: np.ndarray
    x: np.ndarray
    velocity: np.ndarray
    log_rho: np.ndarray
    fractions: dict
    symbols: dict


_YHEA_N = layout("I9,5X,'Ntot =',D11.3,5X,'Ne =',D11.3", ("shell", "Ntot", "Ne"))
_YHEA_HEAD = layout("I3,2X,A3,33X,4(4X,A6,2X)", ("Z", "symbol", "I", "II", "III", "IV"))
_YHEA_ROW = layout("F8.2,F9.1,F10.4,D11.3,3X,4D12.4", ("x", "velocity", "log_rho", "ne", "I", "II", "III", "IV"))


def read_yhea(path: PathLike) -> Ionisation:
    """The ionisation state "yhea.dat".

    Parameters
    ----------
    path : str or Path
        The file: per shell ``(I9, 5X, 'Ntot =', D11.3, 5X, 'Ne =', D11.3)``, then per
        element a header and per shell ``(F8.2, F9.1, F10.4, D11.3, 3X, 4D12.4)``.

    Returns
    -------
    Ionisation

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; an element with another number of shells.
    """
    dens, fr, syms, shell_cols, z, zk = [], {}, {}, [], None, {}
    for k, line in _nonblank(read_lines(path)):
        if "Ntot =" in line:
            if z is not None:
                raise FileFormatError(path, k, None, "density record after the first element")
            dens.append(parse_record(path, k, line, _YHEA_N)[1:])
        elif line[5:8].strip().isalpha():
            z, sym = parse_record(path, k, line, _YHEA_HEAD)[:2]
            syms[z], fr[z], zk[z] = sym, [], k
        elif z is None:
            raise FileFormatError(path, k, None, "ionisation record before the first element header")
        else:
            v = parse_record(path, k, line, _YHEA_ROW)
            fr[z].append(v[4:])
            if len(fr) == 1:
                shell_cols.append(v[:3])
    if not fr:
        raise FileFormatError(path, reason="no element block")
    for zz, rows in fr.items():
        if len(rows) != len(dens):
            raise FileFormatError(path, zk[zz], None, f"element Z = {zz}: {len(rows)} shells, {len(dens)} expected "
                                                      "(cut short?)")
    d, sc = np.array(dens, dtype=float), np.array(shell_cols, dtype=float)
    return Ionisation(d[:, 0], d[:, 1], sc[:, 0], sc[:, 1], sc[:, 2],
                      {zz: np.array(v, dtype=float) for zz, v in fr.items()}, syms)


# ---------------------------------------------------------------------------- ptfn.dat

@dataclass
class PartitionFunctions:
    """Partition functions of "ptfn.dat" (final plasma state).

    z, stage: the ion list (atomic number, stage 1 = neutral); igt: the ground-state
    default weight; pf: array (JS, n_ions), partition function of every ion in every shell.
    """
    z: np.ndarray
    stage: np.ndarray
    igt: np.ndarray
    pf: np.ndarray


_PTFN_HEAD = layout("I3,I3", ("unit", "shell"))
_PTFN_ROW = layout("I8,I14,I4,F20.3,I10", ("ion", "Z", "stage", "pf", "igt"))


def read_ptfn(path: PathLike) -> PartitionFunctions:
    """The partition functions "ptfn.dat".

    Parameters
    ----------
    path : str or Path
        The file: per shell a header ``(I3, I3)`` and per ion ``(I8, I14, I4, F20.3, I10)``.

    Returns
    -------
    PartitionFunctions

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; shells out of order or with another ion list.
    """
    shells = []
    for k, line in _nonblank(read_lines(path)):
        if len(line) <= 6:
            if parse_record(path, k, line, _PTFN_HEAD)[1] != len(shells) + 1:
                raise FileFormatError(path, k, "shell", f"shell out of order (expected {len(shells) + 1})")
            shells.append((k, []))
        elif not shells:
            raise FileFormatError(path, k, None, "partition-function record before the first shell header")
        else:
            shells[-1][1].append(parse_record(path, k, line, _PTFN_ROW))
    first = np.array(shells[0][1], dtype=float).reshape(-1, 5)
    for k, rows in shells:
        a = np.array(rows, dtype=float).reshape(-1, 5)
        if a.shape != first.shape or not np.array_equal(a[:, :3], first[:, :3]) or a.shape[0] == 0:
            raise FileFormatError(path, k, None, f"shell with {a.shape[0]} ions, {first.shape[0]} expected, "
                                                 "or another ion list (cut short?)")
    pf = np.array([[r[3] for r in rows] for _, rows in shells], dtype=float)
    return PartitionFunctions(first[:, 1].astype(int), first[:, 2].astype(int), first[:, 4].astype(int), pf)


# ---------------------------------------------------------------------------- lhea.dat

@dataclass
class LineList:
    """The kept lines of "lhea.dat", in transition order.

    transition, position (in the list ordered by decreasing frequency), frequency (Hz),
    wavelength (A; air above 2000 A, vacuum below), species (Z + 0.01 (j - 1)), loggf,
    lower, upper (signed level indices), tau_max (largest estimated Sobolev depth of the
    first pass).
    """
    transition: np.ndarray
    position: np.ndarray
    frequency: np.ndarray
    wavelength: np.ndarray
    species: np.ndarray
    loggf: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    tau_max: np.ndarray


_LHEA = layout("2I7,E13.6,F11.3,F8.2,F9.3,2I7,E10.3",
               ("transition", "position", "frequency", "wavelength", "species", "loggf", "lower", "upper", "tau_max"))


def read_lhea(path: PathLike) -> LineList:
    """The kept lines "lhea.dat".

    Parameters
    ----------
    path : str or Path
        The file: per line ``(2I7, E13.6, F11.3, F8.2, F9.3, 2I7, E10.3)``.

    Returns
    -------
    LineList

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; transitions not numbered 1..N or positions not a
        permutation of 1..N (records missing).
    """
    rows = []
    for k, line in _nonblank(read_lines(path)):
        rows.append(parse_record(path, k, line, _LHEA))
        if rows[-1][0] != len(rows):
            raise FileFormatError(path, k, "transition",
                                  f"transition {rows[-1][0]} out of order (expected {len(rows)})")
    a = np.array(rows, dtype=float)
    ints = lambda c: a[:, c].astype(np.int64)
    if not np.array_equal(np.sort(ints(1)), np.arange(1, len(a) + 1)):
        raise FileFormatError(path, None, "position", f"positions are not a permutation of 1..{len(a)} (cut short?)")
    return LineList(ints(0), ints(1), a[:, 2], a[:, 3], a[:, 4], a[:, 5], ints(6), ints(7), a[:, 8])


# ---------------------------------------------------------------------------- atmd.oud

@dataclass
class IonLevels:
    """The counted levels of one ion ("atmd.oud"): element symbol, stage label, energy
    (cm^-1; negative marks a metastable level) and J of every level, ground level first."""
    element: str
    stage: str
    energy: np.ndarray
    j: np.ndarray


_ATMD_HEAD = layout("5X,A3,A5,5X,'NLV =',I4", ("element", "stage", "NLV"))
_ATMD_ROW = layout("I9,F16.3,F8.1", ("level", "energy", "J"))


def read_atmd(path: PathLike) -> list[IonLevels]:
    """The counted levels of every ion, "atmd.oud".

    Parameters
    ----------
    path : str or Path
        The file: per ion ``(5X, A3, A5, 5X, 'NLV =', I4)`` and NLV records ``(I9, F16.3, F8.1)``.

    Returns
    -------
    list of IonLevels

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; an ion with another number of levels than NLV.
    """
    ions = []
    for k, line in _nonblank(read_lines(path)):
        if "NLV =" in line:
            ions.append((k, parse_record(path, k, line, _ATMD_HEAD), []))
        elif not ions:
            raise FileFormatError(path, k, None, "level record before the first ion header")
        else:
            v = parse_record(path, k, line, _ATMD_ROW)
            if v[0] != len(ions[-1][2]) + 1:
                raise FileFormatError(path, k, "level", f"level {v[0]} out of order")
            ions[-1][2].append(v[1:])
    out = []
    for k, (el, st, nlv), lv in ions:
        if len(lv) != nlv:
            raise FileFormatError(path, k, "NLV", f"{el} {st}: {len(lv)} levels, NLV = {nlv} (cut short?)")
        out.append(IonLevels(el, st, np.array([x[0] for x in lv]), np.array([x[1] for x in lv])))
    return out


# ---------------------------------------------------------------------------- ionspec.dat

@dataclass
class IonSpectrum:
    """The optional decomposition "ionspec.dat" (written with MCSPEC_ION_SPECTRUM=1).

    Records: bin index, bin-centre wavelength (`wavelength`: A, air above 2000 A;
    `wavelength_vacuum`: the file's vacuum value), species code of the ion whose line
    last emitted the escaping packets (0.00: not last emitted by a line), share of the
    bin's escaping Monte Carlo energy in the final run.
    """
    bin: np.ndarray
    wavelength_vacuum: np.ndarray
    species: np.ndarray
    share: np.ndarray

    @property
    def wavelength(self) -> np.ndarray:
        """Bin-centre wavelength in A, air above 2000 A (vacuum below)."""
        return vacuum_to_air(self.wavelength_vacuum)

    def matrix(self):
        """(bins, wavelengths (A, air above 2000 A), species codes, shares[bin, species]) as dense arrays."""
        bins = np.unique(self.bin)
        sp = np.unique(self.species)
        m = np.zeros((bins.size, sp.size))
        bi = np.searchsorted(bins, self.bin)
        si = np.searchsorted(sp, self.species)
        m[bi, si] = self.share
        wl = np.zeros(bins.size)
        wl[bi] = self.wavelength
        return bins, wl, sp, m


_IONSPEC = layout("I7,F14.3,F8.2,E13.5", ("bin", "wavelength_A", "species", "share"))


def read_ionspec(path: PathLike) -> IonSpectrum:
    """The decomposition of the escaping spectrum by ion, "ionspec.dat".

    Parameters
    ----------
    path : str or Path
        The file: '#' comments, then records ``(I7, F14.3, F8.2, E13.5)``.

    Returns
    -------
    IonSpectrum

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file; bins out of order or a bin whose shares do not sum
        to 1 (records missing).
    """
    rows = []
    for k, line in _nonblank(read_lines(path)):
        if line.startswith("#"):
            if rows:
                raise FileFormatError(path, k, None, "comment record after the data")
            continue
        rows.append(parse_record(path, k, line, _IONSPEC))
        if len(rows) > 1 and rows[-1][0] < rows[-2][0]:
            raise FileFormatError(path, k, "bin", "bins out of order")
    if not rows:
        raise FileFormatError(path, reason="no data records")
    a = np.array(rows, dtype=float)
    bins, first = np.unique(a[:, 0], return_index=True)
    sums = np.add.reduceat(a[:, 3], first)
    bad = np.nonzero(np.abs(sums - 1.0) > 1e-4)[0]
    if bad.size:
        raise FileFormatError(path, None, "share", f"the shares of bin {int(bins[bad[0]])} sum to {sums[bad[0]]:.6f}, "
                                                   "not 1 (records missing?)")
    return IonSpectrum(a[:, 0].astype(np.int64), a[:, 1], np.round(a[:, 2], 2), a[:, 3])


# ---------------------------------------------------------------------------- observed

def read_observed(path: PathLike) -> np.ndarray:
    """An observed spectrum.

    Parameters
    ----------
    path : str or Path
        Blank- or comma-separated columns wavelength (A), F_lambda (any unit, usually
        erg s^-1 cm^-2 A^-1)[, its error]; '#' comments allowed; UTF-8.

    Returns
    -------
    numpy.ndarray, shape (n, 2) or (n, 3)
        Sorted by wavelength.

    Raises
    ------
    FileFormatError
        Missing or empty file, undecodable bytes, a field that is not a number, fewer
        than two columns, or rows of different widths.
    """
    try:
        text = Path(path).read_bytes().decode("utf-8")
    except FileNotFoundError:
        raise FileFormatError(path, reason="missing") from None
    except OSError as e:
        raise FileFormatError(path, reason=f"cannot be read ({e.strerror})") from None
    except UnicodeDecodeError as e:
        raise FileFormatError(path, None, None, f"undecodable byte at offset {e.start}: not a text file") from None
    rows, width = [], None
    for k, line in enumerate(text.splitlines(), 1):
        s = line.split("#", 1)[0].strip()
        if not s:
            continue
        f = split_fields(s.replace(",", " "))
        if len(f) < 2:
            raise FileFormatError(path, k, None, "expected at least two columns (wavelength, flux)")
        width = width or min(len(f), 3)
        if len(f) < width:
            raise FileFormatError(path, k, None, f"{len(f)} columns, {width} expected")
        try:
            rows.append([parse_float(x) for x in f[:width]])
        except NumberFormatError as e:
            raise FileFormatError(path, k, None, str(e)) from None
    if not rows:
        raise FileFormatError(path, reason="no spectrum records")
    a = np.array(rows, dtype=float)
    return a[np.argsort(a[:, 0], kind="stable")]


# ---------------------------------------------------------------------------- composition.dat

@dataclass
class ShellComposition:
    """The mass fractions of every shell at the epoch (after radioactive decay).

    day: days since explosion; shell: shell numbers 1..JS; v_inner, v_outer: velocities
    of the shell edges (km/s; v_inner[0] is the photosphere VPH); fractions: species name
    -> array (JS,) of mass fractions (dimensionless), the elements present in any shell
    in increasing Z (their sum is 1 in every shell; they include the isotopes left and
    the products of decay), then the six radioactive isotopes Ni56, Co56, Fe52, Mn52,
    Cr48, V48 (what is left of each: a part of its element, not added to the sum);
    layered: True when read from "composition.dat" (a run with zones.dat), False for a
    uniform composition (comp.ind: every shell the same, no isotopes).
    """
    day: float
    shell: np.ndarray
    v_inner: np.ndarray
    v_outer: np.ndarray
    fractions: dict
    layered: bool = True

    @property
    def species(self) -> list[str]:
        """The species (column names), elements in increasing Z then the isotopes."""
        return list(self.fractions)

    @property
    def elements(self) -> list[str]:
        """The element symbols among the species."""
        return [s for s in self.fractions if s not in ISOTOPES]


_COMP_TITLE = ("# mass fractions by shell after radioactive decay to DAY = ", " d (zones.dat)")


def read_composition(path: PathLike) -> ShellComposition:
    """The mass fractions by shell "composition.dat" of a run with "zones.dat".

    Parameters
    ----------
    path : str or Path
        The file: '#' comment records (the first ``# mass fractions by shell after
        radioactive decay to DAY = <F8.2> d (zones.dat)``), a record of column names
        ``shell v_inner v_outer`` + element symbols (increasing Z) + ``Ni56 Co56 Fe52
        Mn52 Cr48 V48``, then one record per shell ``(I5, 2F11.1, nES12.4)``.

    Returns
    -------
    ShellComposition
        Velocities in km/s, dimensionless mass fractions.

    Raises
    ------
    FileFormatError
        Missing, empty or damaged file (file, record, field): a record cut short, a value
        that is not a number, an unknown or misplaced column name, shells out of order or
        not adjoining, a negative fraction, element fractions of a shell not summing to 1.
    """
    lines = read_lines(path)
    first = lines[0]
    a, b = _COMP_TITLE
    if not (first.startswith(a) and first.endswith(b) and len(first) == len(a) + 8 + len(b)):
        raise FileFormatError(path, 1, None, f"expected the title {a[2:]}<DAY> d (zones.dat)")
    try:
        day = parse_float(first[len(a):len(a) + 8])
    except NumberFormatError as e:
        raise FileFormatError(path, 1, "DAY", str(e)) from None
    k = 1
    while k < len(lines) and lines[k].startswith("#"):
        k += 1
    if k == len(lines):
        raise FileFormatError(path, k, None, "no record of column names: the file is cut short")
    names = lines[k].split()
    k += 1
    if names[:3] != ["shell", "v_inner", "v_outer"]:
        raise FileFormatError(path, k, None, f"the column names must begin with 'shell v_inner v_outer', "
                                             f"found {' '.join(names[:3])!r}")
    elements, isotopes = names[3:len(names) - len(ISOTOPES)], names[len(names) - len(ISOTOPES):]
    if tuple(isotopes) != ISOTOPES or len(names) < 3 + len(ISOTOPES):
        raise FileFormatError(path, k, None, f"the column names must end with {' '.join(ISOTOPES)}")
    zs = []
    for e in elements:
        if e not in ELEMENTS:
            raise FileFormatError(path, k, e, f"{e!r} is not an element symbol H..Nd")
        zs.append(ELEMENTS.index(e))
        if len(zs) > 1 and zs[-1] <= zs[-2]:
            raise FileFormatError(path, k, e, "element columns not in increasing Z")
    if not elements:
        raise FileFormatError(path, k, None, "no element column")
    fields = layout(f"I5,2F11.1,{len(names) - 3}ES12.4", names)
    rows = []
    for j, line in enumerate(lines[k:], k + 1):
        v = parse_record(path, j, line, fields)
        if v[0] != len(rows) + 1:
            raise FileFormatError(path, j, "shell", f"shell {v[0]} where shell {len(rows) + 1} was expected")
        if not v[1] < v[2] or (rows and v[1] != rows[-1][2]):
            raise FileFormatError(path, j, "v_inner", "the shell does not follow the one below "
                                                      "(v_inner = v_outer of the shell below < v_outer)")
        bad = [n for n, x in zip(names[3:], v[3:]) if not x >= 0]
        if bad:
            raise FileFormatError(path, j, bad[0], "a mass fraction must be >= 0")
        total = sum(v[3:3 + len(elements)])
        if abs(total - 1.0) > 1e-3:
            raise FileFormatError(path, j, None, f"the element fractions of shell {v[0]} sum to {total:.5f}, not 1")
        rows.append(v)
    if not rows:
        raise FileFormatError(path, reason="no shell records: the file is cut short")
    a2 = np.array(rows, dtype=float)
    return ShellComposition(day, a2[:, 0].astype(np.int64), a2[:, 1], a2[:, 2],
                            {n: a2[:, 3 + i] for i, n in enumerate(names[3:])}, True)


def uniform_composition(params: Params, fractions) -> ShellComposition:
    """The per-shell composition of a uniform run (comp.ind): every shell the same.

    Parameters
    ----------
    params : Params
        The run's parameters: JS, XE1 (0 means 0.2), VPH (km/s) and DAY (days) place the
        shells: edge j = VPH / (1 - (j - 1) (1 - XE1) / JS), j = 1..JS+1.
    fractions : array_like
        Mass fractions from Z = 1 (raw, as in comp.ind; normalised here).

    Returns
    -------
    ShellComposition
        With ``layered`` False, the elements of non-zero fraction and zero isotopes.
    """
    x = np.asarray(fractions, dtype=float)
    x = x / x.sum()
    xe1 = params.xe1 or 0.2
    j = np.arange(params.js + 1)
    edges = params.vph / (1.0 - j * (1.0 - xe1) / params.js)
    ones = np.ones(params.js)
    out = {ELEMENTS[z]: v * ones for z, v in enumerate(x) if v != 0}
    out.update({name: 0.0 * ones for name in ISOTOPES})
    return ShellComposition(float(params.day), j[1:].astype(np.int64), edges[:-1], edges[1:], out, False)


# ---------------------------------------------------------------------------- run directory

@dataclass
class RunResult:
    """Everything a run wrote, read back from its directory.

    spectrum: FinalSpectrum (spcp.dat); spct: (n, 6) array (spct.dat, see read_spct);
    mc_spectra: list of McSpectrum (sica.dat); emission: list of EmissionLines
    (eica.dat), last_emission: the last of them; log: RunLog (stst.dat: passes and
    reports); summary: Summary (sbib.dat: magnitudes, strong lines); ionisation:
    Ionisation (yhea.dat); partition: PartitionFunctions (ptfn.dat); lines: LineList
    (lhea.dat); levels: list of IonLevels (atmd.oud); ion_spectrum: IonSpectrum
    (ionspec.dat, only when requested); params: Params (dica.dat); composition:
    ShellComposition, the mass fractions by shell after decay (composition.dat of a run
    with zones.dat; for a uniform run derived from comp.ind, or from the normalised
    fractions of sbib.dat when the directory holds no comp.ind); stdout, stderr: the
    program's output when the run was made by mcspec.run; problems: file name -> what is
    missing, empty or damaged (only in a partial read; the field is then None or empty).
    """
    directory: Path
    spectrum: Optional[FinalSpectrum] = None
    spct: Optional[np.ndarray] = None
    mc_spectra: list = field(default_factory=list)
    emission: list = field(default_factory=list)
    log: Optional[RunLog] = None
    summary: Optional[Summary] = None
    ionisation: Optional[Ionisation] = None
    partition: Optional[PartitionFunctions] = None
    lines: Optional[LineList] = None
    ion_spectrum: Optional[IonSpectrum] = None
    levels: list = field(default_factory=list)
    params: Optional[Params] = None
    composition: Optional[ShellComposition] = None
    stdout: str = ""
    stderr: str = ""
    problems: dict = field(default_factory=dict)

    @property
    def last_emission(self) -> Optional[EmissionLines]:
        """The lines of last emission of the final Monte Carlo run."""
        return self.emission[-1] if self.emission else None

    @property
    def mc_spectrum(self) -> Optional[McFlux]:
        """The final Monte Carlo spectrum with its per-bin uncertainty `.sigma` (McFlux);
        None without spcp.dat, sica.dat or dica.dat."""
        if self.spectrum is None or not self.mc_spectra or self.params is None or \
                len(self.mc_spectra[-1].packets) != len(self.spectrum.bin):
            return None
        return mc_flux(self.spectrum, self.mc_spectra[-1], self.params.dmod)

    @property
    def passes(self) -> list:
        """The temperature passes (list of TemperaturePass)."""
        return self.log.passes if self.log else []


# attribute -> (file, reader); every file a finished run writes (ionspec.dat only on request)
RUN_FILES = {
    "params": ("dica.dat", read_dica), "log": ("stst.dat", read_stst), "spectrum": ("spcp.dat", read_spcp),
    "spct": ("spct.dat", read_spct), "mc_spectra": ("sica.dat", read_sica), "emission": ("eica.dat", read_eica),
    "summary": ("sbib.dat", read_sbib), "ionisation": ("yhea.dat", read_yhea), "partition": ("ptfn.dat", read_ptfn),
    "lines": ("lhea.dat", read_lhea), "levels": ("atmd.oud", read_atmd), "ion_spectrum": ("ionspec.dat", read_ionspec),
    "composition": ("composition.dat", read_composition),
}
_OPTIONAL = {"ionspec.dat", "composition.dat"}  # composition.dat: only with zones.dat


def _cross_check(r: RunResult) -> dict:
    """Counts one file fixes for another: a file cut at a record boundary shows here."""
    out, p = {}, r.params
    if p is not None and r.spectrum is not None and len(r.spectrum.bin) != p.kg:
        out["spcp.dat"] = f"{len(r.spectrum.bin)} bins, KG = {p.kg} in dica.dat"
    if p is not None and r.mc_spectra and len(r.mc_spectra[0].packets) != p.kg:
        out["sica.dat"] = f"blocks of {len(r.mc_spectra[0].packets)} bins, KG = {p.kg} in dica.dat"
    if r.log is not None and "sica.dat" not in r.problems and len(r.mc_spectra) != len(r.log.reports):
        out["sica.dat"] = f"{len(r.mc_spectra)} spectra for {len(r.log.reports)} Monte Carlo runs in stst.dat"
    if r.log is not None and "eica.dat" not in r.problems and "eica.dat" in [f for f, _ in RUN_FILES.values()]:
        emitting = sum(rep.counts.size > 3 and rep.counts[3] > 0 for rep in r.log.reports)
        if len(r.emission) != emitting:
            out["eica.dat"] = f"{len(r.emission)} blocks for {emitting} Monte Carlo runs with escaping line " \
                              "emission in stst.dat"
    js = None if r.log is None else len(r.log.initial_structure)
    if js is not None and r.ionisation is not None and len(r.ionisation.ne) != js:
        out["yhea.dat"] = f"{len(r.ionisation.ne)} shells, {js} in stst.dat"
    if r.ionisation is not None and r.summary is not None and \
            sorted(r.ionisation.fractions) != sorted(int(z) for z in r.summary.composition[:, 0]):
        out["yhea.dat"] = f"elements {sorted(r.ionisation.fractions)}, sbib.dat lists " \
                          f"{[int(z) for z in r.summary.composition[:, 0]]}"
    if js is not None and r.partition is not None and r.partition.pf.shape[0] != js:
        out["ptfn.dat"] = f"{r.partition.pf.shape[0]} shells, {js} in stst.dat"
    if r.lines is not None and r.summary is not None and len(r.lines.transition) != r.summary.n_lines:
        out["lhea.dat"] = f"{len(r.lines.transition)} lines, {r.summary.n_lines} in sbib.dat"
    if r.spct is not None and r.spectrum is not None and len(r.spectrum.bin) >= 7:
        w = r.spectrum.wavelength_A
        last = w[len(w) - 4]  # the spectrum ends three bins before the end of the grid
        if abs(r.spct[-1, 0] - last) > 0.25 * (w[-3] - w[-4]):
            out["spct.dat"] = f"last wavelength {r.spct[-1, 0]} A, {last:.2f} A expected (cut short?)"
    return out


def _shell_composition(r: RunResult) -> None:
    """composition.dat against the run's parameters; or the uniform composition."""
    d, p, c = r.directory, r.params, r.composition
    if c is not None:
        if p is not None and (len(c.shell) != p.js or abs(c.v_inner[0] - p.vph) > 0.051
                              or abs(c.day - p.day) > 0.0051):
            r.problems["composition.dat"] = (f"{len(c.shell)} shells from {c.v_inner[0]} km/s at DAY = {c.day}; "
                                             f"dica.dat has JS = {p.js}, VPH = {p.vph}, DAY = {p.day}")
        return
    if (d / "zones.dat").exists():
        r.problems.setdefault("composition.dat", "missing (the run has zones.dat)")
    elif p is not None:
        try:
            x = read_comp(d / "comp.ind") if (d / "comp.ind").exists() else None
        except McspecError as e:
            r.problems["comp.ind"] = str(e)
            return
        if x is None and r.summary is not None:
            x = np.zeros(int(r.summary.composition[:, 0].max()))
            x[r.summary.composition[:, 0].astype(int) - 1] = r.summary.composition[:, 2]
        if x is not None and x.sum() > 0:
            r.composition = uniform_composition(p, x)


def read_run(directory: PathLike, partial: bool = False) -> RunResult:
    """Read every output file of a run.

    Parameters
    ----------
    directory : str or Path
        The run directory.
    partial : bool
        False: every file of a finished run must be there and intact. True: read what
        can be read (e.g. an ``incomplete-*`` directory of a run that stopped); what is
        missing, empty or damaged is listed in ``result.problems`` and left None/empty.

    Returns
    -------
    RunResult

    Raises
    ------
    FileFormatError
        `directory` is not a run directory (no stst.dat).
    IncompleteRunError
        Without `partial`: the files missing, empty or damaged, each with the reader's
        message (file, record, field).
    """
    d = Path(directory)
    if not d.is_dir():
        raise FileFormatError(d, reason="not a directory")
    if not (d / "stst.dat").exists():
        raise FileFormatError(d, reason="holds no run (no stst.dat)")
    r = RunResult(d)
    for attr, (name, fn) in RUN_FILES.items():
        p = d / name
        if not p.exists():
            if name not in _OPTIONAL:
                r.problems[name] = "missing"
            continue
        try:
            setattr(r, attr, fn(p))
        except McspecError as e:
            r.problems[name] = "empty" if p.stat().st_size == 0 else str(e)
            if name == "stst.dat" and partial:
                try:
                    r.log = read_stst(p, complete=False)
                except McspecError:
                    pass
    _shell_composition(r)
    r.problems.update(_cross_check(r))
    if r.problems and not partial:
        raise IncompleteRunError(d, r.problems)
    return r
