"""Readers for every file a run of mcspec writes, and writers for its three inputs.

Readers return numpy arrays or small dataclasses whose fields are documented below; units
are those of the files (see docs/outputs.md). Writers check the same limits as the
program, so that a file they accept is one the program reads.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Sequence

import numpy as np

from .numbers import NumberFormatError, fixed_fields, floats, parse_float, parse_int, split_fields

__all__ = [
    "McspecError", "read_spct", "read_spcp", "read_sica", "read_eica", "read_stst", "read_sbib",
    "read_yhea", "read_ptfn", "read_lhea", "read_ionspec", "read_atmd", "read_run", "read_observed",
    "write_dica", "write_comp", "write_hydro", "read_dica", "read_comp", "read_hydro",
    "Params", "RunResult", "ELEMENTS", "species_label",
]


class McspecError(Exception):
    """A file that cannot be read, a value outside the program's limits, or a failed run."""


# Element symbols Z = 1..60 and stage labels (the data directory's nbba.ind uses the same).
ELEMENTS = ("H He Li Be B C N O F Ne Na Mg Al Si P S Cl Ar K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn "
            "Ga Ge As Se Br Kr Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Sb Te I Xe Cs Ba La Ce Pr Nd").split()
STAGES = ("I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX")


def species_label(code: float) -> str:
    """'Si II' for the species code 14.01 (Z + 0.01 (j - 1)); 'other' for 0."""
    z = int(code + 0.001)
    j = int(round((code - z) * 100)) + 1
    if z <= 0:
        return "other"
    sym = ELEMENTS[z - 1] if z <= len(ELEMENTS) else f"Z={z}"
    stage = STAGES[j - 1] if 1 <= j <= len(STAGES) else f"stage {j}"
    return f"{sym} {stage}"


def _lines(path) -> list[str]:
    try:
        with open(path, "r", encoding="latin-1") as f:
            return f.read().splitlines()
    except OSError as e:
        raise McspecError(f"{path}: cannot be read ({e.strerror})") from None


def _bad(path, recno, what) -> McspecError:
    return McspecError(f'"{path}", record {recno}: {what}')


def _row(path, recno, line, widths, kinds=None) -> list:
    """Fields of a fixed-layout record; kinds is a string of 'f' (float), 'i' (int), 's' (text)."""
    parts = fixed_fields(line, widths)
    kinds = kinds or "f" * len(widths)
    out = []
    try:
        for p, k in zip(parts, kinds):
            if k == "f":
                out.append(parse_float(p))
            elif k == "i":
                out.append(parse_int(p))
            elif k == "s":
                out.append(p.strip())
            # 'x': skipped
    except NumberFormatError as e:
        raise _bad(path, recno, str(e)) from None
    return out


# ---------------------------------------------------------------------------- spct.dat

SPCT_COLUMNS = ("wavelength_A", "formal", "formal_reddened", "mc", "mc_reddened", "blackbody_reddened")


def read_spct(path) -> np.ndarray:
    """The observed-flux spectrum "spct.dat" as a float array of shape (n, 6).

    Columns, in the file's order: air wavelength (A); formal-integral F_lambda, smoothed;
    the same reddened; Monte Carlo F_lambda, smoothed; the same reddened; reddened black
    body of the boundary temperature with the bolometric flux. Fluxes in
    erg s^-1 cm^-2 A^-1 at the object's distance. Record layout F9.2, 5E15.5.
    """
    rows = []
    for k, line in enumerate(_lines(path), 1):
        if not line.strip():
            continue
        rows.append(_row(path, k, line, (9, 15, 15, 15, 15, 15)))
    return np.array(rows, dtype=float).reshape(-1, 6)


# ---------------------------------------------------------------------------- spcp.dat

@dataclass
class FinalSpectrum:
    """The emergent spectrum of "spcp.dat" (after the last Monte Carlo run).

    bin: bin number (1..KG); log_wave_air_um: log10 air bin-centre wavelength (micron);
    vac_over_air: vacuum over air bin width; log_l_formal, log_l_mc: log10 L_lambda per
    unit air wavelength (erg s^-1 cm^-1) from the formal integral and from the Monte
    Carlo packets (-99 and less: empty bin). iteration: the radiation-field pass counter
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


def read_spcp(path) -> FinalSpectrum:
    lines = _lines(path)
    grids, cur, spec, iteration = [], None, [], None
    for k, line in enumerate(lines, 1):
        s = line.strip()
        if not s:
            continue
        if s.startswith("Iteration"):
            iteration = parse_int(s.split()[1]) if len(s.split()) > 1 else int(s[len("Iteration"):])
            continue
        if iteration is None:
            v = _row(path, k, line, (5, 12, 12, 12, 12, 12, 12), "iffffff")
            if v[0] == 1:
                cur = []
                grids.append(cur)
            if cur is None:
                raise _bad(path, k, "grid record before the first edge")
            cur.append(v)
        else:
            spec.append(_row(path, k, line, (9, 16, 16, 16, 16), "iffff"))
    if iteration is None:
        raise McspecError(f"{path}: no final spectrum (no 'Iteration' record): did the run finish?")
    a = np.array(spec, dtype=float).reshape(-1, 5)
    return FinalSpectrum(a[:, 0].astype(int), a[:, 1], a[:, 2], a[:, 3], a[:, 4], iteration,
                         np.array(grids[-1] if grids else [], dtype=float).reshape(-1, 7), len(grids))


# ---------------------------------------------------------------------------- sica.dat

@dataclass
class McSpectrum:
    """One Monte Carlo run's escaping spectrum, a block of "sica.dat".

    iteration: the radiation-field pass counter (0 during the temperature passes, 1..ITT
    in the final passes); wave_um: vacuum bin-centre wavelength (micron); packets:
    escaped packets in the bin; energy: their energy in packet units; cumulative: running
    packet count; log_l: log10 L_lambda (erg s^-1 cm^-1, vacuum wavelength; -99: empty).
    """
    iteration: int
    wave_um: np.ndarray
    packets: np.ndarray
    energy: np.ndarray
    cumulative: np.ndarray
    log_l: np.ndarray


def read_sica(path) -> list[McSpectrum]:
    """Every block of "sica.dat", in run order (temperature passes, then final passes)."""
    blocks, rows, it = [], None, None

    def close():
        if rows is not None:
            a = np.array(rows, dtype=float).reshape(-1, 5)
            blocks.append(McSpectrum(it, a[:, 0], a[:, 1].astype(np.int64), a[:, 2],
                                     a[:, 3].astype(np.int64), a[:, 4]))

    for k, line in enumerate(_lines(path), 1):
        s = line.strip()
        if not s:
            continue
        if s.startswith("Spectrum"):
            close()
            it = parse_int(s.split("=")[1])
            rows = []
            continue
        if rows is None:
            raise _bad(path, k, "spectrum record before the first 'Spectrum' header")
        rows.append(_row(path, k, line, (16, 15, 18, 12, 15), "fifif"))
    close()
    return blocks


# ---------------------------------------------------------------------------- eica.dat

@dataclass
class EmissionLines:
    """Lines that last emitted escaping packets in one Monte Carlo run ("eica.dat").

    transition: transition number (reading order of the line list); lower, upper: level
    indices in the level table; wave_um: vacuum wavelength (micron); element: symbol;
    stage: stage label (I, II, ...); e_upper, j_upper, e_lower, j_lower: level energies
    (cm^-1; negative marks a metastable level) and J values; energy: escaped energy last
    emitted in the line, in packet units (shares of the run's escaped energy PW(2)).
    """
    transition: np.ndarray
    lower: np.ndarray
    upper: np.ndarray
    wave_um: np.ndarray
    element: np.ndarray
    stage: np.ndarray
    e_upper: np.ndarray
    j_upper: np.ndarray
    e_lower: np.ndarray
    j_lower: np.ndarray
    energy: np.ndarray

    @property
    def ion(self) -> np.ndarray:
        return np.array([f"{e} {s}" for e, s in zip(self.element, self.stage)], dtype=object)

    def strongest(self, n: int = 10) -> "EmissionLines":
        order = np.argsort(-self.energy, kind="stable")[:n]
        return EmissionLines(*(getattr(self, f)[order] for f in self.__dataclass_fields__))


def read_eica(path) -> list[EmissionLines]:
    """The blocks of "eica.dat", one per Monte Carlo run that emitted lines.

    The file has no block headers: a run lists its lines in order of increasing
    wavelength, so a new block starts where the wavelength falls back or a transition
    repeats. A run with no escaping line emission writes nothing and has no block.
    """
    lines = [l for l in _lines(path) if l.strip()]
    if len(lines) % 2:
        raise McspecError(f"{path}: odd number of records; the last line entry is cut short")
    blocks, cur, seen, prev = [], [], set(), -math.inf
    for i in range(0, len(lines), 2):
        k = i + 1
        head = split_fields(lines[i])
        if len(head) != 3:
            raise _bad(path, k, "expected the transition, lower and upper level numbers")
        try:
            m, lo, up = (parse_int(x) for x in head)
        except NumberFormatError as e:
            raise _bad(path, k, str(e)) from None
        v = _row(path, k + 1, lines[i + 1], (10, 4, 3, 5, 12, 5, 12, 5, 10), "fxssfffff")
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
        cols = list(zip(*b))
        out.append(EmissionLines(
            np.array(cols[0], dtype=np.int64), np.array(cols[1], dtype=np.int64), np.array(cols[2], dtype=np.int64),
            np.array(cols[3], dtype=float), np.array(cols[4], dtype=object), np.array(cols[5], dtype=object),
            np.array(cols[6], dtype=float), np.array(cols[7], dtype=float), np.array(cols[8], dtype=float),
            np.array(cols[9], dtype=float), np.array(cols[10], dtype=float)))
    return out


# ---------------------------------------------------------------------------- stst.dat

@dataclass
class TemperaturePass:
    """One temperature pass as logged in "stst.dat" ("TEMP IT no:").

    number: pass counter ITER; mean_change_percent: mean |dTR|/TR over the shells (%);
    flxout: escaped fraction of the run; t_star: effective temperature (K); tb: new
    boundary temperature (K); structure: shape (JS, 6), columns x = R/r at the shell
    centre, velocity (km/s), log10 density (g cm^-3), TE (K), TR (K), dilution factor W.
    """
    number: int
    mean_change_percent: float
    flxout: float
    t_star: float
    tb: float
    structure: np.ndarray

    @property
    def tr(self) -> np.ndarray:
        return self.structure[:, 4]

    @property
    def velocity(self) -> np.ndarray:
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
    counts: np.ndarray
    pw2: float = math.nan
    tb: float = math.nan
    shells: np.ndarray = field(default_factory=lambda: np.zeros((0, 9)))
    log_l: float = math.nan
    log_l_plus: float = math.nan
    tb1: float = math.nan
    log_ep0: float = math.nan


@dataclass
class RunLog:
    """What "stst.dat" records: initial structure, every temperature pass, every Monte
    Carlo run report (temperature passes and final passes, in order), and the closing
    flux check (power = escaped energy in packet units, input_flux = bolometric flux at
    Earth, int_flux = integrated Monte Carlo flux, erg s^-1 cm^-2)."""
    initial_structure: np.ndarray
    passes: list
    reports: list
    power: float = math.nan
    input_flux: float = math.nan
    int_flux: float = math.nan


def _structure_table(path, lines, start):
    """Rows of 5F12.2 F9.3 from index start; returns (array, next index)."""
    rows, i = [], start
    while i < len(lines) and lines[i].strip():
        rows.append(_row(path, i + 1, lines[i], (12, 12, 12, 12, 12, 9)))
        i += 1
    return np.array(rows, dtype=float).reshape(-1, 6), i


def _skip_blank(lines, i):
    while i < len(lines) and not lines[i].strip():
        i += 1
    return i


def read_stst(path) -> RunLog:
    lines = _lines(path)
    initial, passes, reports = None, [], []
    power = inflx = intflx = math.nan
    i = 0
    while i < len(lines):
        s = lines[i].strip()
        if s.startswith("XS") and "LOG RH" in s and "SH M" not in s and initial is None:
            initial, i = _structure_table(path, lines, _skip_blank(lines, i + 1))
            continue
        if s.startswith("En consv."):
            reports.append(McReport(parse_float(s.split()[-1]), np.zeros(0, dtype=np.int64)))
        elif s.startswith("NPK") and reports:
            j = _skip_blank(lines, i + 1)
            reports[-1].counts = np.array([parse_int(x) for x in split_fields(lines[j])], dtype=np.int64)
            i = j
        elif s.startswith("PW(2)=") and reports:
            reports[-1].pw2 = parse_float(split_fields(s)[1])
        elif s.startswith("TB=") and reports:
            reports[-1].tb = parse_float(split_fields(s)[1])
        elif s.startswith("JP") and reports:
            j = _skip_blank(lines, i + 1)
            rows = []
            while j < len(lines) and len(lines[j]) > 60 and lines[j].strip():
                rows.append(_row(path, j + 1, lines[j], (9, 9, 9, 11, 10, 11, 9, 4, 10)))
                j += 1
            reports[-1].shells = np.array(rows, dtype=float).reshape(-1, 9)
            i = j
            continue
        elif s.startswith("Scale:") and reports:
            v = split_fields(s.replace("L+ =", " ").replace("L =", " ").replace("Scale:", " "))
            reports[-1].log_l, reports[-1].log_l_plus = parse_float(v[0]), parse_float(v[1])
        elif s.startswith("TB1 =") and reports:
            v = split_fields(s.replace("TB1 =", " ").replace("Log EP0 =", " "))
            reports[-1].tb1, reports[-1].log_ep0 = parse_float(v[0]), parse_float(v[1])
        elif s.startswith("TEMP IT no:"):
            number = parse_int(s.split(":")[1])
            j = _skip_blank(lines, i + 1)
            line = lines[j]
            # (F8.1 2F12.4 '   T* = ' F7.1 '   TB = ' F7.1)
            v = _row(path, j + 1, line, (8, 12, 12, 8, 7, 8, 7), "fxfxfxf")
            j = _skip_blank(lines, j + 1)  # header
            table, j = _structure_table(path, lines, _skip_blank(lines, j + 1))
            passes.append(TemperaturePass(number, v[0], v[1], v[2], v[3], table))
            i = j
            continue
        elif s.startswith("POWER:"):
            v = split_fields(s.replace("POWER:", " ").replace("INPUT FLUX:", " ").replace("INT. FLUX:", " "))
            power, inflx, intflx = (parse_float(x) for x in v[:3])
        i += 1
    if initial is None:
        initial = np.zeros((0, 6))
    return RunLog(initial, passes, reports, power, inflx, intflx)


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
    loggf. distance_modulus, distance_pc, ebv (observed, emitted). magnitudes: dict with
    keys U, B, V, R (unreddened), U_red.., 'U-B', 'B-V', 'V-R' (and '_red'), M_U, M_B,
    M_V (absolute), mbol, bc, Mbol.
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


def _mag_line(line, names):
    """Values of a magnitude line: a 19-column label, then (F7.3, 6-column label) repeated."""
    out = {}
    pos = 19
    for n in names:
        out[n] = parse_float(line[pos:pos + 7])
        pos += 13
    return out


def read_sbib(path) -> Summary:
    lines = _lines(path)
    comp, syms, strong = [], [], []
    head = [math.nan] * 4
    n_ions = n_lines = 0
    dmod = dpc = math.nan
    ebv = (math.nan, math.nan)
    mags = {}
    for k, line in enumerate(lines, 1):
        s = line.strip()
        if not s:
            continue
        if s.startswith("LOG R/RS"):
            j = _skip_blank(lines, k)
            head = [parse_float(x) for x in split_fields(lines[j])[:4]]
            continue
        if s.startswith("No. of ions"):
            f = split_fields(s)
            n_ions, n_lines = parse_int(f[4]), parse_int(f[-1])
        elif s.startswith("UNREDD. MAGS:"):
            mags.update(_mag_line(line, ("U", "B", "V", "R")))
        elif s.startswith("UNREDD. COL.:"):
            mags.update(_mag_line(line, ("U-B", "B-V", "V-R")))
        elif s.startswith("REDD. MAGS:"):
            mags.update(_mag_line(line, ("U_red", "B_red", "V_red", "R_red")))
        elif s.startswith("REDD. COL.:"):
            mags.update(_mag_line(line, ("U-B_red", "B-V_red", "V-R_red")))
        elif s.startswith("ABS. MAG:"):
            mags.update(_mag_line(line, ("M_U", "M_B", "M_V")))
        elif s.startswith("MBol ="):
            mags["mbol"] = parse_float(line[7:14])
            mags["bc"] = parse_float(line[29:36])
            mags["Mbol"] = parse_float(line[47:54])
        elif s.startswith("DISTANCE"):
            v = split_fields(s)
            dmod, dpc = parse_float(v[1]), parse_float(v[2])
        elif s.startswith("E(B-V)="):
            v = split_fields(s[7:])
            ebv = (parse_float(v[0]), parse_float(v[1]))
        elif s.startswith(("DT =", "TAUB =")):
            pass
        elif len(line) == 53 and line[11:14].strip().isalpha():
            # (I9, 2X, A3, 3F13.6)
            v = _row(path, k, line, (9, 2, 3, 13, 13, 13), "ixsfff")
            comp.append([v[0], v[2], v[3], v[4]])
            syms.append(v[1])
        elif len(line) == 71:
            # (F9.3 F8.1 F12.2 3X A3 A5 F10.2 F12.2 F9.3)
            strong.append(_row(path, k, line, (9, 8, 12, 3, 3, 5, 10, 12, 9), "fffxssfff"))
    cols = list(zip(*strong)) if strong else [()] * 8
    strong_d = {
        "width": np.array(cols[0], dtype=float), "mean_wave": np.array(cols[1], dtype=float),
        "wave": np.array(cols[2], dtype=float), "element": np.array(cols[3], dtype=object),
        "stage": np.array(cols[4], dtype=object), "e_low_ev": np.array(cols[5], dtype=float),
        "e_low_cm": np.array(cols[6], dtype=float), "loggf": np.array(cols[7], dtype=float),
    }
    return Summary(head[0], head[1], head[2], head[3], np.array(comp, dtype=float).reshape(-1, 4), syms,
                   n_ions, n_lines, strong_d, dmod, dpc, ebv, mags)


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


def read_yhea(path) -> Ionisation:
    lines = _lines(path)
    ntot, ne, fr, syms = [], [], {}, {}
    shell_cols = None
    z = None
    for k, line in enumerate(lines, 1):
        s = line.strip()
        if not s:
            continue
        if "Ntot =" in line:
            v = _row(path, k, line, (9, 5, 6, 11, 5, 4, 11), "ixxfxxf")
            ntot.append(v[1])
            ne.append(v[2])
        elif line[5:8].strip().isalpha():
            # element header (I3 2X A3 33X 4(4X A6 2X))
            z = parse_int(line[:3])
            syms[z] = line[5:8].strip()
            fr[z] = []
        else:
            if z is None:
                raise _bad(path, k, "ionisation record before the first element header")
            v = _row(path, k, line, (8, 9, 10, 11, 3, 12, 12, 12, 12), "ffffxffff")
            fr[z].append(v[4:])
            if len(fr) == 1:
                shell_cols = (shell_cols or []) + [v[:3]]
    sc = np.array(shell_cols or [], dtype=float).reshape(-1, 3)
    return Ionisation(np.array(ntot), np.array(ne), sc[:, 0], sc[:, 1], sc[:, 2],
                      {z: np.array(v, dtype=float).reshape(-1, 4) for z, v in fr.items()}, syms)


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


def read_ptfn(path) -> PartitionFunctions:
    shells = []
    ions = None
    cur = None
    for k, line in enumerate(_lines(path), 1):
        if not line.strip():
            continue
        if len(line.rstrip()) <= 6:
            cur = []
            shells.append(cur)
            continue
        if cur is None:
            raise _bad(path, k, "partition-function record before the first shell header")
        cur.append(_row(path, k, line, (8, 14, 4, 20, 10), "iiifi"))
    if not shells:
        return PartitionFunctions(*(np.zeros(0) for _ in range(3)), np.zeros((0, 0)))
    first = np.array(shells[0], dtype=float).reshape(-1, 5)
    pf = np.array([[r[3] for r in sh] for sh in shells], dtype=float)
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


def read_lhea(path) -> LineList:
    rows = []
    for k, line in enumerate(_lines(path), 1):
        if line.strip():
            rows.append(_row(path, k, line, (7, 7, 13, 11, 8, 9, 7, 7, 10)))
    a = np.array(rows, dtype=float).reshape(-1, 9)
    ints = lambda c: a[:, c].astype(np.int64)
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


def read_atmd(path) -> list[IonLevels]:
    out, cur = [], None
    for k, line in enumerate(_lines(path), 1):
        s = line.strip()
        if not s:
            continue
        if "NLV =" in line:
            # (5X A3 A5 5X 'NLV =' I4)
            cur = [line[5:8].strip(), line[8:13].strip(), []]
            out.append(cur)
            continue
        if cur is None:
            raise _bad(path, k, "level record before the first ion header")
        v = _row(path, k, line, (9, 16, 8), "iff")
        cur[2].append(v[1:])
    return [IonLevels(e, st, np.array([x[0] for x in lv]), np.array([x[1] for x in lv])) for e, st, lv in out]


# ---------------------------------------------------------------------------- ionspec.dat

@dataclass
class IonSpectrum:
    """The optional decomposition "ionspec.dat" (written with MCSPEC_ION_SPECTRUM=1).

    Records: bin index, wavelength (A), species code of the ion whose line last emitted
    the escaping packets (0.00: not last emitted by a line), share of the bin's escaping
    Monte Carlo energy in the final run.
    """
    bin: np.ndarray
    wavelength: np.ndarray
    species: np.ndarray
    share: np.ndarray

    def matrix(self):
        """(bins, wavelengths, species codes, shares[bin, species]) as dense arrays."""
        bins = np.unique(self.bin)
        sp = np.unique(self.species)
        m = np.zeros((bins.size, sp.size))
        bi = np.searchsorted(bins, self.bin)
        si = np.searchsorted(sp, self.species)
        m[bi, si] = self.share
        wl = np.zeros(bins.size)
        wl[bi] = self.wavelength
        return bins, wl, sp, m


def read_ionspec(path) -> IonSpectrum:
    rows = []
    for k, line in enumerate(_lines(path), 1):
        s = line.strip()
        if not s or s.startswith("#"):
            continue
        f = split_fields(s)
        if len(f) != 4:
            raise _bad(path, k, f"expected 4 fields (bin, wavelength, species, share), found {len(f)}")
        try:
            rows.append([parse_int(f[0]), parse_float(f[1]), parse_float(f[2]), parse_float(f[3])])
        except NumberFormatError as e:
            raise _bad(path, k, str(e)) from None
    a = np.array(rows, dtype=float).reshape(-1, 4)
    return IonSpectrum(a[:, 0].astype(np.int64), a[:, 1], np.round(a[:, 2], 2), a[:, 3])


# ---------------------------------------------------------------------------- observed

def read_observed(path) -> np.ndarray:
    """An observed spectrum: blank-separated columns wavelength (A), F_lambda[, error];
    '#' comments allowed. Returns an (n, 2 or 3) float array sorted by wavelength."""
    rows = []
    for k, line in enumerate(_lines(path), 1):
        s = line.split("#", 1)[0].strip()
        if not s:
            continue
        f = split_fields(s.replace(",", " "))
        try:
            rows.append([parse_float(x) for x in f[:3]])
        except NumberFormatError as e:
            raise _bad(path, k, str(e)) from None
    if not rows:
        raise McspecError(f"{path}: no spectrum records")
    width = min(len(r) for r in rows)
    if width < 2:
        raise McspecError(f"{path}: expected at least two columns (wavelength, flux)")
    a = np.array([r[:width] for r in rows], dtype=float)
    return a[np.argsort(a[:, 0], kind="stable")]


# ---------------------------------------------------------------------------- run directory

@dataclass
class RunResult:
    """Everything a run wrote, read back from its directory (missing files give None).

    spectrum: FinalSpectrum (spcp.dat); spct: (n, 6) array (spct.dat, see read_spct);
    mc_spectra: list of McSpectrum (sica.dat); emission: list of EmissionLines
    (eica.dat), last_emission: the last of them; log: RunLog (stst.dat: passes and
    reports); summary: Summary (sbib.dat: magnitudes, strong lines); ionisation:
    Ionisation (yhea.dat); partition: PartitionFunctions (ptfn.dat); lines: LineList
    (lhea.dat); levels: list of IonLevels (atmd.oud); ion_spectrum: IonSpectrum
    (ionspec.dat, only when requested); params:
    Params (dica.dat) when present; stdout, stderr: the program's output when the run
    was made by mcspec.run.
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
    params: Optional["Params"] = None
    stdout: str = ""
    stderr: str = ""

    @property
    def last_emission(self) -> Optional[EmissionLines]:
        return self.emission[-1] if self.emission else None

    @property
    def passes(self) -> list:
        return self.log.passes if self.log else []


def read_run(directory) -> RunResult:
    """Read every output file of a finished run in `directory`.

    Files that are absent are left as None (or empty lists); a file that is present but
    cannot be read raises McspecError naming the file and record.
    """
    d = Path(directory)
    if not d.is_dir():
        raise McspecError(f"{d}: not a directory")
    if not (d / "stst.dat").exists():
        raise McspecError(f"{d}: holds no run (no stst.dat)")
    r = RunResult(d)
    readers = {
        "spct": ("spct.dat", read_spct), "mc_spectra": ("sica.dat", read_sica),
        "emission": ("eica.dat", read_eica), "log": ("stst.dat", read_stst), "summary": ("sbib.dat", read_sbib),
        "ionisation": ("yhea.dat", read_yhea), "partition": ("ptfn.dat", read_ptfn),
        "lines": ("lhea.dat", read_lhea), "ion_spectrum": ("ionspec.dat", read_ionspec),
        "levels": ("atmd.oud", read_atmd),
        "params": ("dica.dat", read_dica),
    }
    for attr, (name, fn) in readers.items():
        p = d / name
        if p.exists() and (p.stat().st_size > 0 or attr in ("emission",)):
            setattr(r, attr, fn(p))
    p = d / "spcp.dat"
    if p.exists():
        try:
            r.spectrum = read_spcp(p)
        except McspecError:
            r.spectrum = None  # a run that stopped before the spectrum
    return r


# ---------------------------------------------------------------------------- inputs

MAX_SHELLS, MIN_SHELLS = 85, 3
MAX_SAMPLING, MIN_SAMPLING = 502, 2
MAX_BINS = 5000
MAX_ELEMENTS, MAX_IONISATION_DATA = 60, 56
MAX_PROFILE_POINTS = 300
INT_MAX = 2 ** 31 - 1


@dataclass
class Params:
    """The run parameters of "dica.dat" (names as in the file's records).

    np4: packets in units of 10000; itt: final radiation-field passes; js: shells (3..85);
    kb: sampling-table entries (2..502); xe1: x = R/r at the outer edge (0 < xe1 < 1; 0
    means 0.2); logls: log10 L/Lsun; vph: photospheric velocity (km/s); tb: starting
    boundary temperature (K); day: days since explosion; dmod: distance modulus (mag);
    zred: redshift; ebvg, ebvh: E(B-V) at the observed and at the emitted wavelength;
    iseed: random seed; logtaug: log10 of the line-selection optical depth; chl: highest
    ionisation energy of an included ion (eV); nc: echoed only; wvm1, wvm2: wavelength
    grid limits (micron); kg: bins (1..5000); wv1, wv2: observed band (A, air); loglwv:
    log10 L(wv1, wv2)/Lsun; wth1, wth2: top-hat band (A); iopt: five switches (1: scale to
    L(bol) / 0: to L(wv1,wv2); 1: cascades / 0: resonance scattering; 1: black-body /
    0: top-hat boundary; two unused).
    """
    np4: int = 2
    itt: int = 3
    js: int = 20
    kb: int = 502
    xe1: float = 0.2
    logls: float = 9.6
    vph: float = 10000.0
    tb: float = 12000.0
    day: float = 19.0
    dmod: float = 29.04
    zred: float = 0.0
    ebvg: float = 0.0
    ebvh: float = 0.0
    iseed: int = 7654321
    logtaug: float = -3.0
    chl: float = 50.0
    nc: int = 0
    wvm1: float = 0.2
    wvm2: float = 1.0
    kg: int = 1000
    wv1: float = 3500.0
    wv2: float = 9000.0
    loglwv: float = 9.4
    wth1: float = 3000.0
    wth2: float = 10000.0
    iopt: Sequence[int] = (1, 1, 1, 0, 0)
    js_unused: int = 0

    def check(self) -> None:
        """Raise McspecError for a value the program refuses (the same limits)."""
        def need(ok, rec, msg):
            if not ok:
                raise McspecError(f"dica.dat record {rec}: {msg}")
        need(1 <= self.np4 <= INT_MAX // 10000, 2, f"NP4 = {self.np4} is outside 1..{INT_MAX // 10000}")
        need(MIN_SHELLS <= self.js <= MAX_SHELLS, 4, f"JS = {self.js} is outside {MIN_SHELLS}..{MAX_SHELLS}")
        need(MIN_SAMPLING <= self.kb <= MAX_SAMPLING, 4, f"KB = {self.kb} is outside {MIN_SAMPLING}..{MAX_SAMPLING}")
        need(self.xe1 == 0.0 or 0.0 < self.xe1 < 1.0, 4, f"XE1 = {self.xe1} must lie between 0 and 1")
        need(self.vph > 0, 6, f"VPH = {self.vph} must be positive")
        need(self.day > 0, 8, f"DAY = {self.day} must be positive")
        need(self.wvm1 > 0, 16, f"WVM1 = {self.wvm1} must be positive")
        need(self.wvm2 > self.wvm1, 16, f"WVM2 = {self.wvm2} must be larger than WVM1 = {self.wvm1}")
        need(1 <= self.kg <= MAX_BINS, 16, f"KG = {self.kg} is outside 1..{MAX_BINS}")
        need(len(self.iopt) == 5, 22, "IOPT needs five switches")
        need(self.iopt[2] != 0 or (self.wth1 > 0 and self.wth2 > 0), 20,
             "the top-hat boundary (IOPT(3) = 0) needs positive WTH1, WTH2")
        for name in ("np4", "itt", "js", "kb", "iseed", "nc", "kg", "js_unused"):
            v = getattr(self, name)
            need(isinstance(v, (int, np.integer)) and -INT_MAX - 1 <= v <= INT_MAX, 0,
                 f"{name.upper()} = {v!r} must be a 32-bit integer")
        for name in ("xe1", "logls", "vph", "tb", "day", "dmod", "zred", "ebvg", "ebvh", "logtaug", "chl",
                     "wvm1", "wvm2", "wv1", "wv2", "loglwv", "wth1", "wth2"):
            need(math.isfinite(float(getattr(self, name))), 0, f"{name.upper()} must be a finite number")


def _real(v: float) -> str:
    """A real in a form the program's free-format reader takes exactly (shortest round trip)."""
    return repr(float(v))


def write_dica(path, params: Optional[Params] = None, **values) -> Path:
    """Write "dica.dat" from a Params (or keyword values over the defaults).

    Raises McspecError for values the program would refuse; the file is written to a
    temporary name and renamed, so nothing half-written is left.
    """
    p = params if params is not None else Params()
    if values:
        p = Params(**{**p.__dict__, **values})
    p.check()
    recs = [
        " NP4 (packets / 10000)   ITT (final radiation-field passes)",
        f" {p.np4} {p.itt}",
        " JS (shells)   (integer read, not used)   KB (sampling-table entries)   XE1 (x at the outer edge)",
        f" {p.js} {p.js_unused} {p.kb} {_real(p.xe1)}",
        " LOG L/LSUN   VPH (km/s)   TB (K)",
        f" {_real(p.logls)} {_real(p.vph)} {_real(p.tb)}",
        " DAY (since explosion)   DMOD (distance modulus)   ZRED",
        f" {_real(p.day)} {_real(p.dmod)} {_real(p.zred)}",
        " E(B-V) at the observed wavelength   E(B-V) at the emitted wavelength",
        f" {_real(p.ebvg)} {_real(p.ebvh)}",
        " ISEED (random seed)   LOG TAUG (line-selection optical depth threshold)",
        f" {p.iseed} {_real(p.logtaug)}",
        " CHL (eV)   NC (echoed only)",
        f" {_real(p.chl)} {p.nc}",
        " WVM1  WVM2 (micrometres)   KG (wavelength bins)",
        f" {_real(p.wvm1)} {_real(p.wvm2)} {p.kg}",
        " WV1  WV2 (Angstrom, air)   LOG L(WV1,WV2)/LSUN",
        f" {_real(p.wv1)} {_real(p.wv2)} {_real(p.loglwv)}",
        " WTH1  WTH2 (Angstrom, top-hat boundary)",
        f" {_real(p.wth1)} {_real(p.wth2)}",
        " IOPT(1..5)",
        " " + " ".join(str(int(x)) for x in p.iopt),
    ]
    return _write_atomically(path, recs)


def write_comp(path, fractions) -> Path:
    """Write "comp.ind" from mass fractions.

    fractions: a sequence indexed from Z = 1 (fractions[0] is hydrogen) or a dict
    {Z or symbol: fraction}. Fractions need not sum to 1 (the program normalises) but must
    be finite, >= 0 and sum to a positive number; elements beyond Z = 56 must be 0.
    """
    if isinstance(fractions, dict):
        fz = {}
        for k, v in fractions.items():
            z = ELEMENTS.index(k) + 1 if isinstance(k, str) else int(k)
            if not 1 <= z <= MAX_ELEMENTS:
                raise McspecError(f"comp.ind: element {k!r} is outside Z = 1..{MAX_ELEMENTS}")
            fz[z] = float(v)
        n = max(fz) if fz else 0
        values = [fz.get(z, 0.0) for z in range(1, n + 1)]
    else:
        values = [float(v) for v in fractions]
    if len(values) > MAX_ELEMENTS:
        raise McspecError(f"comp.ind: {len(values)} elements; at most {MAX_ELEMENTS}")
    for z, v in enumerate(values, 1):
        if not (math.isfinite(v) and v >= 0):
            raise McspecError(f"comp.ind record {z}: the mass fraction of Z = {z} must be a number >= 0, not {v}")
        if v != 0 and z > MAX_IONISATION_DATA:
            raise McspecError(f"comp.ind record {z}: element Z = {z} has no ionisation data; its fraction must be 0")
    if not sum(values) > 0:
        raise McspecError("comp.ind: the mass fractions must add up to a positive number")
    recs = [f"{z:3d} {ELEMENTS[z - 1]:<2s} {_real(v)}" for z, v in enumerate(values, 1)]
    return _write_atomically(path, recs)


def write_hydro(path, time_s: float, radius_cm, density, velocity_kms=None) -> Path:
    """Write a density profile "hydro.dat": the time of the profile (s), then per point
    its number, velocity (km/s; not used by the program, radius/time when not given),
    radius (cm) and density (g cm^-3). 2..300 points, positive radii increasing, positive
    densities, a positive time."""
    r = np.asarray(radius_cm, dtype=float).ravel()
    rho = np.asarray(density, dtype=float).ravel()
    if r.shape != rho.shape:
        raise McspecError("hydro.dat: radius and density need the same number of points")
    if not 2 <= r.size <= MAX_PROFILE_POINTS:
        raise McspecError(f"hydro.dat: {r.size} points; the profile needs 2..{MAX_PROFILE_POINTS}")
    if not (math.isfinite(time_s) and time_s > 0):
        raise McspecError("hydro.dat: the time of the profile must be a positive number of seconds")
    for i in range(r.size):
        if not (np.isfinite(r[i]) and r[i] > 0):
            raise McspecError(f"hydro.dat point {i + 1}: the radius must be a positive number of cm")
        if not (np.isfinite(rho[i]) and rho[i] > 0):
            raise McspecError(f"hydro.dat point {i + 1}: the density must be a positive number of g/cm3")
        if i and not r[i] > r[i - 1]:
            raise McspecError(f"hydro.dat point {i + 1}: the radii must increase from point to point")
    v = r / time_s / 1e5 if velocity_kms is None else np.asarray(velocity_kms, dtype=float).ravel()
    recs = [f"{r.size} {_real(time_s)}"]
    recs += [f"{i + 1} {_real(v[i])} {_real(r[i])} {_real(rho[i])}" for i in range(r.size)]
    return _write_atomically(path, recs)


def _write_atomically(path, records) -> Path:
    path = Path(path)
    tmp = path.with_name(path.name + f".tmp{os.getpid()}")
    with open(tmp, "w", encoding="ascii") as f:
        f.write("\n".join(records) + "\n")
    os.replace(tmp, path)
    return path


def _free_values(lines, start, n, path):
    """n free-format values starting at record index start (continuing onto following
    records); returns (values, next record index)."""
    vals, i = [], start
    while len(vals) < n:
        if i >= len(lines):
            raise McspecError(f"{path}: ends in record {i + 1} where {n} values were needed")
        vals += [x for x in lines[i].replace(",", " ").split()]
        i += 1
    return vals[:n], i


def read_dica(path) -> Params:
    """Read "dica.dat" back into Params (comment records skipped as the program does)."""
    L = _lines(path)
    i = 1
    out = {}

    def take(names, kinds):
        nonlocal i
        vals, i2 = _free_values(L, i, len(names), path)
        for n, k, v in zip(names, kinds, vals):
            try:
                out[n] = parse_int(v) if k == "i" else parse_float(v)
            except NumberFormatError as e:
                raise _bad(path, i + 1, f"{n.upper()}: {e}") from None
        i = i2 + 1  # the next comment record

    take(("np4", "itt"), "ii")
    take(("js", "js_unused", "kb", "xe1"), "iiif")
    take(("logls", "vph", "tb"), "fff")
    take(("day", "dmod", "zred"), "fff")
    take(("ebvg", "ebvh"), "ff")
    take(("iseed", "logtaug"), "if")
    take(("chl", "nc"), "fi")
    take(("wvm1", "wvm2", "kg"), "ffi")
    take(("wv1", "wv2", "loglwv"), "fff")
    take(("wth1", "wth2"), "ff")
    take(("o1", "o2", "o3", "o4", "o5"), "iiiii")
    out["iopt"] = tuple(out.pop(f"o{k}") for k in range(1, 6))
    return Params(**out)


def read_comp(path) -> np.ndarray:
    """Mass fractions of "comp.ind" as read (index 0 = hydrogen), not normalised."""
    vals = []
    for k, line in enumerate(_lines(path), 1):
        f = line.replace(",", " ").split()
        if not f:
            continue
        if len(f) < 3:
            raise _bad(path, k, "expected a number, a name and a mass fraction")
        vals.append(parse_float(f[2]))
        if len(vals) == MAX_ELEMENTS:
            break
    return np.array(vals, dtype=float)


def read_hydro(path):
    """(time_s, array (n, 4): point, velocity km/s, radius cm, density g cm^-3)."""
    L = [l for l in _lines(path) if l.strip()]
    if not L:
        raise McspecError(f"{path}: empty")
    head = L[0].replace(",", " ").split()
    n, t = parse_int(head[0]), parse_float(head[1])
    rows = [[parse_float(x) for x in l.replace(",", " ").split()[:4]] for l in L[1:n + 1]]
    return t, np.array(rows, dtype=float).reshape(-1, 4)
