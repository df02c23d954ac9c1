"""The program's three inputs: "dica.dat" (run parameters), "comp.ind" (composition) and
"hydro.dat" (density profile): readers, writers that only write what the program accepts,
and `Dica`, the in-place editor of a dica.dat the fit uses.

`DICA_LAYOUT` is the one description of dica.dat: which record holds which value, of which
type. Writers check types (no bool for an integer, no text for a number), finiteness and
the program's limits, and replace the target atomically: on any failure no file and no
temporary file is left.
"""

from __future__ import annotations

import math
import os
import re
import tempfile
from dataclasses import dataclass, fields as dc_fields
from numbers import Integral, Real
from pathlib import Path
from typing import Mapping, Optional, Sequence, Union

import numpy as np

from .errors import FileFormatError, InputValueError
from .numbers import NumberFormatError, parse_float, parse_int

__all__ = ["ELEMENTS", "Z_OF", "Params", "DICA_LAYOUT", "DICA_FIELDS", "Dica", "read_dica", "write_dica",
           "read_comp", "parse_comp", "comp_records", "write_comp", "read_hydro", "write_hydro", "ISOTOPES", "Zones",
           "read_zones", "parse_zones", "zones_records", "write_zones"]

PathLike = Union[str, Path]

# Element symbols Z = 1..60 (comp.ind can hold 60 records; the data directory's names agree).
ELEMENTS = tuple(("H He Li Be B C N O F Ne Na Mg Al Si P S Cl Ar K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn "
                  "Ga Ge As Se Br Kr Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Sb Te I Xe Cs Ba La Ce Pr Nd").split())
Z_OF = {s: z for z, s in enumerate(ELEMENTS, start=1)}
# The radioactive isotopes of zones.dat and composition.dat: parent, daughter of each chain.
ISOTOPES = ("Ni56", "Co56", "Fe52", "Mn52", "Cr48", "V48")

# The program's limits (docs/inputs.md).
MAX_SHELLS, MIN_SHELLS = 85, 3
MAX_SAMPLING, MIN_SAMPLING = 502, 2
MAX_BINS = 5000
MAX_ELEMENTS, MAX_IONISATION_DATA = 60, 56
MAX_PROFILE_POINTS = 300
MAX_ZONES = 100
INT_MAX = 2 ** 31 - 1
PACKETS_PER_UNIT = 10000

# dica.dat: data record (1-based) -> its values (name in the file, Params attribute, type),
# each data record preceded by a comment record with the title below.
DICA_LAYOUT = {
    2: (("NP4", "np4", int), ("ITT", "itt", int)),
    4: (("JS", "js", int), ("JS2", "js_unused", int), ("KB", "kb", int), ("XE1", "xe1", float)),
    6: (("LOGLS", "logls", float), ("VPH", "vph", float), ("TB", "tb", float)),
    8: (("DAY", "day", float), ("DMOD", "dmod", float), ("ZRED", "zred", float)),
    10: (("EBVG", "ebvg", float), ("EBVH", "ebvh", float)),
    12: (("ISEED", "iseed", int), ("LOGTAUG", "logtaug", float)),
    14: (("CHL", "chl", float), ("NC", "nc", int)),
    16: (("WVM1", "wvm1", float), ("WVM2", "wvm2", float), ("KG", "kg", int)),
    18: (("WV1", "wv1", float), ("WV2", "wv2", float), ("LOGLWV", "loglwv", float)),
    20: (("WTH1", "wth1", float), ("WTH2", "wth2", float)),
    22: tuple((f"IOPT({i})", f"iopt{i}", int) for i in range(1, 6)),
}
DICA_TITLES = {
    1: "NP4 (packets / 10000)   ITT (final radiation-field passes)",
    3: "JS (shells)   (integer read, not used)   KB (sampling-table entries)   XE1 (x at the outer edge)",
    5: "LOG L/LSUN   VPH (km/s)   TB (K)",
    7: "DAY (since explosion)   DMOD (distance modulus)   ZRED",
    9: "E(B-V) at the observed wavelength   E(B-V) at the emitted wavelength",
    11: "ISEED (random seed)   LOG TAUG (line-selection optical depth threshold)",
    13: "CHL (eV)   NC (echoed only)",
    15: "WVM1  WVM2 (micrometres)   KG (wavelength bins)",
    17: "WV1  WV2 (Angstrom, air)   LOG L(WV1,WV2)/LSUN",
    19: "WTH1  WTH2 (Angstrom, top-hat boundary)",
    21: "IOPT(1..5)",
}
# name -> (record, position in the record, type)
DICA_FIELDS = {name: (rec, pos, typ) for rec, vals in DICA_LAYOUT.items() for pos, (name, _, typ) in enumerate(vals)}


def _int(where: str, v) -> int:
    """An integer argument: int or numpy integer, not bool, 32-bit."""
    if isinstance(v, (bool, np.bool_)) or not isinstance(v, Integral):
        raise InputValueError(f"{where}: an integer is needed, not {v!r}")
    if not -INT_MAX - 1 <= int(v) <= INT_MAX:
        raise InputValueError(f"{where} = {v} is not a 32-bit integer")
    return int(v)


def _real(where: str, v) -> float:
    """A finite real argument: int, float or numpy number, not bool or text."""
    if isinstance(v, (bool, np.bool_)) or not isinstance(v, Real):
        raise InputValueError(f"{where}: a number is needed, not {v!r}")
    x = float(v)
    if not math.isfinite(x):
        raise InputValueError(f"{where} = {x} must be a finite number")
    return x


@dataclass
class Params:
    """The run parameters of "dica.dat" (names as in the file's records).

    np4: packets in units of 10000; itt: final radiation-field passes; js: shells (3..85);
    kb: sampling-table entries (2..502); xe1: x = R/r at the outer edge (0 < xe1 < 1; 0
    means 0.2); logls: log10 L/Lsun; vph: photospheric velocity (km/s); tb: starting
    boundary temperature (K); day: days since explosion; dmod: distance modulus (mag);
    zred: redshift; ebvg, ebvh: E(B-V) at the observed and at the emitted wavelength
    (mag); iseed: random seed; logtaug: log10 of the line-selection optical depth; chl:
    highest ionisation energy of an included ion (eV); nc: echoed only; wvm1, wvm2:
    wavelength grid limits (micron); kg: bins (1..5000); wv1, wv2: observed band (A,
    air); loglwv: log10 L(wv1, wv2)/Lsun; wth1, wth2: top-hat band (A); iopt: five
    switches (1: scale to L(bol) / 0: to L(wv1,wv2); 1: cascades / 0: resonance
    scattering; 1: black-body / 0: top-hat boundary; two unused); js_unused: the integer
    read after JS and not used.
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

    def replace(self, **values) -> "Params":
        """A copy with single values replaced (names as the attributes, e.g. np4=1).

        Raises
        ------
        InputValueError
            An unknown parameter name.
        """
        unknown = set(values) - {f.name for f in dc_fields(Params)}
        if unknown:
            raise InputValueError(f"dica.dat: unknown parameter(s) {', '.join(sorted(unknown))}")
        return Params(**{**self.__dict__, **values})

    def values(self) -> dict:
        """{name in the file: value} for every value of DICA_LAYOUT."""
        out = {}
        for vals in DICA_LAYOUT.values():
            for name, attr, _ in vals:
                out[name] = self.iopt[int(attr[4:]) - 1] if attr.startswith("iopt") else getattr(self, attr)
        return out

    def check(self) -> None:
        """Check types, finiteness and the program's limits.

        Raises
        ------
        InputValueError
            A value the program would refuse, naming the dica.dat record and value.
        """
        if isinstance(self.iopt, (str, bytes)) or len(self.iopt) != 5:
            raise InputValueError(f"dica.dat record 22: IOPT needs five switches, not {self.iopt!r}")
        for rec, vals in DICA_LAYOUT.items():
            for name, attr, typ in vals:
                v = self.values()[name]
                (_int if typ is int else _real)(f"dica.dat record {rec}: {name}", v)

        def need(ok, rec, msg):
            if not ok:
                raise InputValueError(f"dica.dat record {rec}: {msg}")
        need(1 <= self.np4 <= INT_MAX // PACKETS_PER_UNIT, 2, f"NP4 = {self.np4} is outside 1..{INT_MAX // 10000}")
        need(MIN_SHELLS <= self.js <= MAX_SHELLS, 4, f"JS = {self.js} is outside {MIN_SHELLS}..{MAX_SHELLS}")
        need(MIN_SAMPLING <= self.kb <= MAX_SAMPLING, 4, f"KB = {self.kb} is outside {MIN_SAMPLING}..{MAX_SAMPLING}")
        need(self.xe1 == 0.0 or 0.0 < self.xe1 < 1.0, 4, f"XE1 = {self.xe1} must lie between 0 and 1")
        need(self.vph > 0, 6, f"VPH = {self.vph} km/s must be positive")
        need(self.tb > 0, 6, f"TB = {self.tb} K must be positive")
        need(self.day > 0, 8, f"DAY = {self.day} must be positive")
        need(self.wvm1 > 0, 16, f"WVM1 = {self.wvm1} micron must be positive")
        need(self.wvm2 > self.wvm1, 16, f"WVM2 = {self.wvm2} must be larger than WVM1 = {self.wvm1}")
        need(1 <= self.kg <= MAX_BINS, 16, f"KG = {self.kg} is outside 1..{MAX_BINS}")
        need(self.iopt[2] != 0 or (self.wth1 > 0 and self.wth2 > 0), 20,
             "the top-hat boundary (IOPT(3) = 0) needs positive WTH1, WTH2")


class Dica:
    """A dica.dat as records: values found, read and replaced by name in place, so that
    comment records and surplus values survive. Values are read as the program reads
    them: free format from the data record on, continuing onto the following records
    when a record holds too few; the next comment record follows the last one used.

    Parameters
    ----------
    text : str
        The file's content.
    path : str
        The file's name, for messages.

    Raises
    ------
    FileFormatError
        A record missing or a value that is not a number of its type (file, record, value).
    """

    def __init__(self, text: str, path: str = "dica.dat"):
        self.path, self.records = path, text.splitlines()
        self.where = {}  # name -> (record index, token index)
        i = 1  # index of the first data record
        for rec, vals in DICA_LAYOUT.items():
            found = []
            while len(found) < len(vals):
                if i >= len(self.records):
                    raise FileFormatError(path, len(self.records), vals[len(found)][0],
                                          f"the file ends where {len(vals)} values of record {rec} were needed")
                found += [(i, j) for j in range(len(_tokens(self.records[i])))]
                i += 1
            for (name, _, typ), pos in zip(vals, found):
                self.where[name] = pos
                self.get(name)  # readable
            i += 1  # the comment record

    def get(self, name: str) -> Union[int, float]:
        """The value of `name` (e.g. "LOGLS", "IOPT(3)") as int or float."""
        i, j = self.where[name]
        tok = _tokens(self.records[i])[j]
        try:
            if set(tok) == {"*"}:
                raise NumberFormatError(f"not a number: {tok!r}")
            return parse_int(tok) if DICA_FIELDS[name][2] is int else parse_float(tok)
        except NumberFormatError as e:
            raise FileFormatError(self.path, i + 1, name, str(e)) from None

    def set(self, name: str, value) -> None:
        """Replace the value of `name` (checked: an int for an integer, a finite number else)."""
        i, j = self.where[name]
        toks = _tokens(self.records[i])
        toks[j] = str(_int(name, value)) if DICA_FIELDS[name][2] is int else repr(_real(name, value))
        self.records[i] = " " + " ".join(toks)

    def params(self) -> Params:
        """The values as Params (not checked against the limits)."""
        v = {attr: self.get(name) for vals in DICA_LAYOUT.values() for name, attr, _ in vals}
        v["iopt"] = tuple(v.pop(f"iopt{k}") for k in range(1, 6))
        return Params(**v)

    def text(self) -> str:
        """The file's content."""
        return "\n".join(self.records) + "\n"


def _tokens(record: str) -> list[str]:
    return [t for t in re.split(r"[,\s]+", record.strip()) if t]


def _read_text(path: PathLike) -> str:
    try:
        return Path(path).read_bytes().decode("latin-1")
    except FileNotFoundError:
        raise FileFormatError(path, reason="missing") from None
    except OSError as e:
        raise FileFormatError(path, reason=f"cannot be read ({e.strerror})") from None


def read_dica(path: PathLike) -> Params:
    """Read "dica.dat" into Params (comment records skipped as the program does).

    Parameters
    ----------
    path : str or Path

    Returns
    -------
    Params
        Not checked against the limits (call ``check()``).

    Raises
    ------
    FileFormatError
        Missing file, a record missing, a value that is not a number of its type.
    """
    return Dica(_read_text(path), str(path)).params()


def _real_text(v: float) -> str:
    """A real in a form the program's free-format reader takes exactly (shortest round trip)."""
    return repr(float(v))


def _write_atomically(path: PathLike, records: Sequence[str]) -> Path:
    """Write records to a temporary file beside `path` and rename it; nothing is left on failure."""
    path = Path(path)
    fd, tmp = tempfile.mkstemp(prefix=f".{path.name}.", dir=path.parent if str(path.parent) else ".")
    try:
        with os.fdopen(fd, "w", encoding="ascii") as f:
            f.write("\n".join(records) + "\n")
        os.chmod(tmp, 0o644)
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    return path


def write_dica(path: PathLike, params: Optional[Params] = None, **values) -> Path:
    """Write "dica.dat".

    Parameters
    ----------
    path : str or Path
        The file to write (replaced atomically).
    params : Params, optional
        The parameters; default Params() (units as documented there).
    **values
        Single parameters over `params` (e.g. np4=1, logls=9.5).

    Returns
    -------
    Path

    Raises
    ------
    InputValueError
        A value of the wrong type (bool for an integer, text for a number), not finite,
        or outside the program's limits; an unknown parameter name. Nothing is written.
    """
    p = params if params is not None else Params()
    if not isinstance(p, Params):
        raise InputValueError(f"dica.dat: Params needed, not {type(p).__name__}")
    p = p.replace(**values)
    p.check()
    v = p.values()
    recs = []
    for rec, vals in DICA_LAYOUT.items():
        recs.append(" " + DICA_TITLES[rec - 1])
        recs.append(" " + " ".join(str(int(v[n])) if t is int else _real_text(v[n]) for n, _, t in vals))
    return _write_atomically(path, recs)


def parse_comp(text: str, path: str = "comp.ind") -> list[float]:
    """Mass fractions of Z = 1, 2, ... as the program reads comp.ind: free format, blank
    records skipped, to the end of the file or 60 records.

    Parameters
    ----------
    text : str
        The file's content.
    path : str
        The file's name, for messages.

    Returns
    -------
    list of float
        Raw (not normalised) mass fractions, index 0 = hydrogen.

    Raises
    ------
    FileFormatError
        A record without three values, a fraction that is not a number, no record.
    """
    fractions = []
    for k, line in enumerate(text.splitlines(), 1):
        toks = _tokens(line)
        if not toks:
            continue
        if len(toks) < 3:
            raise FileFormatError(path, k, None, "three values needed (Z, name, mass fraction)")
        try:
            if set(toks[2]) == {"*"}:
                raise NumberFormatError(f"not a number: {toks[2]!r}")
            fractions.append(parse_float(toks[2]))
        except NumberFormatError as e:
            raise FileFormatError(path, k, "mass fraction", str(e)) from None
        if len(fractions) == MAX_ELEMENTS:
            break
    if not fractions:
        raise FileFormatError(path, reason="no records")
    return fractions


def read_comp(path: PathLike) -> np.ndarray:
    """Mass fractions of "comp.ind" as the program reads them (see `parse_comp`).

    Parameters
    ----------
    path : str or Path

    Returns
    -------
    numpy.ndarray
        Raw mass fractions (dimensionless), index 0 = hydrogen (Z = 1), not normalised.

    Raises
    ------
    FileFormatError
        Missing file, a record without three values, a fraction that is not a number.
    """
    return np.array(parse_comp(_read_text(path), str(path)), dtype=float)


def comp_records(fractions: Union[Sequence[float], Mapping]) -> list[str]:
    """The records of a comp.ind holding `fractions`, after the checks of `write_comp`.

    Parameters
    ----------
    fractions : sequence of float or dict
        As for `write_comp` (dimensionless mass fractions).

    Returns
    -------
    list of str
        One record per element from Z = 1.
    """
    if isinstance(fractions, Mapping):
        fz = {}
        for k, v in fractions.items():
            if isinstance(k, str):
                if k not in Z_OF:
                    raise InputValueError(f"comp.ind: unknown element {k!r}")
                z = Z_OF[k]
            else:
                z = _int("comp.ind: element", k)
            if not 1 <= z <= MAX_ELEMENTS:
                raise InputValueError(f"comp.ind: element {k!r} is outside Z = 1..{MAX_ELEMENTS}")
            fz[z] = _real(f"comp.ind record {z}: mass fraction of {ELEMENTS[z - 1]}", v)
        values = [fz.get(z, 0.0) for z in range(1, max(fz, default=0) + 1)]
    elif isinstance(fractions, (str, bytes)):
        raise InputValueError("comp.ind: mass fractions (a sequence or a dict) needed, not text")
    else:
        values = [_real(f"comp.ind record {z}: mass fraction", v) for z, v in enumerate(fractions, 1)]
    if len(values) > MAX_ELEMENTS:
        raise InputValueError(f"comp.ind: {len(values)} elements; at most {MAX_ELEMENTS}")
    for z, v in enumerate(values, 1):
        if v < 0:
            raise InputValueError(f"comp.ind record {z}: the mass fraction of Z = {z} must be >= 0, not {v}")
        if v != 0 and z > MAX_IONISATION_DATA:
            raise InputValueError(f"comp.ind record {z}: element Z = {z} has no ionisation data; "
                                  "its fraction must be 0")
    total = sum(values)
    if not (0 < total < math.inf):
        raise InputValueError(f"comp.ind: the mass fractions must add up to a positive finite number, not {total}")
    return [f"{z:3d} {ELEMENTS[z - 1]:<2s} {_real_text(v)}" for z, v in enumerate(values, 1)]


def write_comp(path: PathLike, fractions: Union[Sequence[float], Mapping]) -> Path:
    """Write "comp.ind" from mass fractions.

    Parameters
    ----------
    path : str or Path
        The file to write (replaced atomically).
    fractions : sequence of float or dict
        Mass fractions (dimensionless) indexed from Z = 1 (fractions[0] is hydrogen), or
        {Z or symbol: fraction}. They need not sum to 1 (the program normalises) but must
        be finite numbers >= 0 with a positive finite sum; elements beyond Z = 56 must be 0.

    Returns
    -------
    Path

    Raises
    ------
    InputValueError
        A fraction of the wrong type, negative or not finite, a sum that is 0 or
        overflows, an unknown element. Nothing is written.
    """
    return _write_atomically(path, comp_records(fractions))


def write_hydro(path: PathLike, time_s: float, radius_cm: Sequence[float], density: Sequence[float],
                velocity_kms: Optional[Sequence[float]] = None) -> Path:
    """Write a density profile "hydro.dat".

    Parameters
    ----------
    path : str or Path
        The file to write (replaced atomically).
    time_s : float
        Time of the profile, s after explosion (> 0).
    radius_cm : array_like
        Radii in cm: 2..300 positive values, increasing.
    density : array_like
        Densities in g cm^-3, positive, one per radius.
    velocity_kms : array_like, optional
        Velocities in km/s (not used by the program); default radius / time.

    Returns
    -------
    Path

    Raises
    ------
    InputValueError
        Values of the wrong type, not finite or outside the limits. Nothing is written.
    """
    t = _real("hydro.dat record 1: time of the profile", time_s)
    arrays = []
    for name, a in (("radius", radius_cm), ("density", density), ("velocity", velocity_kms)):
        if a is None:
            arrays.append(None)
            continue
        arr = np.asarray(a)
        if arr.dtype.kind not in "iuf":
            raise InputValueError(f"hydro.dat: the {name}s must be numbers, not {arr.dtype}")
        arrays.append(arr.astype(float).ravel())
    r, rho, v = arrays
    if r.shape != rho.shape or (v is not None and v.shape != r.shape):
        raise InputValueError("hydro.dat: radius, density (and velocity) need the same number of points")
    if not 2 <= r.size <= MAX_PROFILE_POINTS:
        raise InputValueError(f"hydro.dat: {r.size} points; the profile needs 2..{MAX_PROFILE_POINTS}")
    if not t > 0:
        raise InputValueError(f"hydro.dat record 1: the time of the profile must be positive, not {t} s")
    for i in range(r.size):
        rec = f"hydro.dat record {i + 2}"
        if not (np.isfinite(r[i]) and r[i] > 0):
            raise InputValueError(f"{rec}: the radius must be a positive finite number of cm, not {r[i]}")
        if not (np.isfinite(rho[i]) and rho[i] > 0):
            raise InputValueError(f"{rec}: the density must be a positive finite number of g/cm3, not {rho[i]}")
        if v is not None and not np.isfinite(v[i]):
            raise InputValueError(f"{rec}: the velocity must be a finite number of km/s, not {v[i]}")
        if i and not r[i] > r[i - 1]:
            raise InputValueError(f"{rec}: the radii must increase from point to point")
    if v is None:
        v = r / t / 1e5
    recs = [f"{r.size} {_real_text(t)}"]
    recs += [f"{i + 1} {_real_text(v[i])} {_real_text(r[i])} {_real_text(rho[i])}" for i in range(r.size)]
    return _write_atomically(path, recs)


def read_hydro(path: PathLike) -> tuple[float, np.ndarray]:
    """Read a density profile "hydro.dat".

    Parameters
    ----------
    path : str or Path

    Returns
    -------
    (float, numpy.ndarray)
        The time of the profile (s) and an array (n, 4): point, velocity (km/s), radius
        (cm), density (g cm^-3).

    Raises
    ------
    FileFormatError
        Missing or empty file, fewer points than announced, a field that is not a number.
    """
    lines = [(k, l) for k, l in enumerate(_read_text(path).splitlines(), 1) if l.strip()]
    if not lines:
        raise FileFormatError(path, reason="empty")

    def nums(k, line, n, kinds):
        f = _tokens(line)
        if len(f) < n:
            raise FileFormatError(path, k, None, f"{len(f)} values, {n} needed")
        try:
            return [parse_int(x) if c == "i" else parse_float(x) for x, c in zip(f[:n], kinds)]
        except NumberFormatError as e:
            raise FileFormatError(path, k, None, str(e)) from None
    n, t = nums(*lines[0], 2, "if")
    if len(lines) - 1 < n:
        raise FileFormatError(path, reason=f"{len(lines) - 1} points, {n} announced in record 1")
    rows = [nums(k, line, 4, "ffff") for k, line in lines[1:n + 1]]
    return t, np.array(rows, dtype=float).reshape(-1, 4)


# ---------------------------------------------------------------------------- zones.dat

@dataclass
class Zones:
    """The composition by velocity zones "zones.dat", as written (at the explosion).

    v_outer: outer velocity of each zone, innermost first (km/s, increasing); fractions:
    column name (element symbol H..Nd or isotope of `ISOTOPES`) -> array (nz,) of mass
    fractions (dimensionless, raw: the program normalises each zone to sum 1), in the
    file's column order. Zone k holds v_outer[k-2] < v <= v_outer[k-1]; the innermost
    reaches down to the photosphere, the outermost out to the model's edge.
    """
    v_outer: np.ndarray
    fractions: dict

    @property
    def nz(self) -> int:
        """The number of zones."""
        return len(self.v_outer)

    def normalised(self) -> dict:
        """The fractions with each zone summing to 1, as the program uses them."""
        total = sum(self.fractions.values())
        return {k: v / total for k, v in self.fractions.items()}


# A number as the program reads it (std::from_chars, general format): no sign '+', no
# Fortran exponent letter D.
_ZONE_NUMBER = re.compile(r"^-?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?$|^-?(?:inf|infinity|nan)$", re.I)


def _zone_column(where: str, name: str) -> str:
    if name in Z_OF or name in ISOTOPES:
        return name
    hint = next((c for c in ELEMENTS + ISOTOPES if c.lower() == name.lower()), None)
    raise InputValueError(f"{where}: {name!r} is neither an element symbol H..Nd (Z = 1..60) nor one of the "
                          f"isotopes {', '.join(ISOTOPES)}" + (f" (case-sensitive: {hint!r})" if hint else ""))


def parse_zones(text: str, path: str = "zones.dat") -> Zones:
    """The zones of a "zones.dat" text, checked as the program checks them.

    Parameters
    ----------
    text : str
        The file's content: '#' comment and blank lines skipped; a header ``v_outer`` +
        column names; one line per zone, inner to outer, of v_outer (km/s) and one mass
        fraction per column, separated by blanks or tabs.
    path : str
        The file's name, for messages.

    Returns
    -------
    Zones

    Raises
    ------
    FileFormatError
        Naming the record (line) and field (column name): an unknown or repeated column,
        a value missing or extra or not a number, v_outer not positive or not increasing,
        a fraction negative or not finite, a zone whose fractions sum to 0, more than
        100 zones, no header, no zone.
    """
    names, rows = None, []
    lines = text.split("\n")
    for k, line in enumerate(lines, 1):
        f = [t for t in re.split(r"[ \t]+", line.rstrip("\r")) if t]
        if not f or f[0].startswith("#"):
            continue
        if names is None:
            if f[0] != "v_outer":
                raise FileFormatError(path, k, f[0], "the header must begin with v_outer (km/s)")
            if len(f) < 2:
                raise FileFormatError(path, k, None, "the header names no element or isotope after v_outer")
            for i, n in enumerate(f[1:], 1):
                try:
                    _zone_column(path, n)
                except InputValueError as e:
                    raise FileFormatError(path, k, n, str(e).split(": ", 1)[1]) from None
                if n in f[:i]:
                    raise FileFormatError(path, k, n, "a column named twice")
            names = f
            continue
        if len(rows) == MAX_ZONES:
            raise FileFormatError(path, k, None, f"more than {MAX_ZONES} zones")
        if len(f) != len(names):
            col = names[len(f)] if len(f) < len(names) else None
            raise FileFormatError(path, k, col, f"{len(f)} values, the header names {len(names)} columns")
        row = []
        for n, t in zip(names, f):
            if not _ZONE_NUMBER.match(t):
                raise FileFormatError(path, k, n, f"{t!r} is not a number")
            v = float(t)
            if n == "v_outer":
                if not (math.isfinite(v) and v > 0):
                    raise FileFormatError(path, k, n, f"v_outer must be a positive number of km/s, found {t}")
                if rows and not v > rows[-1][0]:
                    raise FileFormatError(path, k, n, f"v_outer must increase from zone to zone: {t} follows "
                                                      f"{rows[-1][0]:.10g}")
            elif not (math.isfinite(v) and v >= 0):
                raise FileFormatError(path, k, n, f"a mass fraction must be a finite number >= 0, found {t}")
            row.append(v)
        if not 0 < sum(row[1:]) < math.inf:
            raise FileFormatError(path, k, None, f"the mass fractions of zone {len(rows) + 1} must add up to a "
                                                 "positive finite number")
        rows.append(row)
    if names is None:
        raise FileFormatError(path, reason="no header line (v_outer and the element and isotope columns)")
    if not rows:
        raise FileFormatError(path, reason="no zone: the file ends after its header")
    a = np.array(rows, dtype=float)
    return Zones(a[:, 0], {n: a[:, i] for i, n in enumerate(names[1:], 1)})


def read_zones(path: PathLike) -> Zones:
    """Read "zones.dat" (see `parse_zones`).

    Parameters
    ----------
    path : str or Path

    Returns
    -------
    Zones
        v_outer in km/s, raw mass fractions.

    Raises
    ------
    FileFormatError
        Missing file, or as `parse_zones`.
    """
    return parse_zones(_read_text(path), str(path))


def zones_records(v_outer: Sequence[float], fractions: Mapping, comments: Sequence[str] = ()) -> list[str]:
    """The records of a zones.dat, after the checks of `write_zones`."""
    if isinstance(v_outer, (str, bytes)) or isinstance(fractions, (str, bytes)) or not isinstance(fractions, Mapping):
        raise InputValueError("zones.dat: velocities (a sequence) and fractions (a dict) needed")
    v = [_real(f"zones.dat zone {k}: v_outer", x) for k, x in enumerate(v_outer, 1)]
    if not 1 <= len(v) <= MAX_ZONES:
        raise InputValueError(f"zones.dat: {len(v)} zones; 1..{MAX_ZONES} needed")
    cols = {}
    for name, col in fractions.items():
        _zone_column("zones.dat", name)
        if isinstance(col, (str, bytes)) or len(col) != len(v):
            raise InputValueError(f"zones.dat: column {name}: {len(v)} fractions needed (one per zone)")
        cols[name] = [_real(f"zones.dat zone {k}: mass fraction of {name}", x) for k, x in enumerate(col, 1)]
    if not cols:
        raise InputValueError("zones.dat: no element or isotope column")
    for k in range(len(v)):
        if not v[k] > 0 or (k and not v[k] > v[k - 1]):
            raise InputValueError(f"zones.dat zone {k + 1}: v_outer = {v[k]} km/s must be positive and larger "
                                  "than the zone below")
        for name, col in cols.items():
            if col[k] < 0:
                raise InputValueError(f"zones.dat zone {k + 1}: the mass fraction of {name} must be >= 0, "
                                      f"not {col[k]}")
            if col[k] != 0 and Z_OF.get(name, 0) > MAX_IONISATION_DATA:
                raise InputValueError(f"zones.dat zone {k + 1}: element {name} (Z = {Z_OF[name]}) has no ionisation "
                                      "data; its fraction must be 0")
        total = sum(col[k] for col in cols.values())
        if not 0 < total < math.inf:
            raise InputValueError(f"zones.dat zone {k + 1}: the mass fractions must add up to a positive finite "
                                  f"number, not {total}")
    for c in comments:
        if not isinstance(c, str) or "\n" in c or "\r" in c or not c.isascii():
            raise InputValueError(f"zones.dat: a comment must be one line of ASCII text, not {c!r}")
    recs = [("# " + c).rstrip() for c in comments]
    recs.append(" ".join(["v_outer", *cols]))
    recs += [" ".join([_real_text(v[k])] + [_real_text(col[k]) for col in cols.values()]) for k in range(len(v))]
    return recs


def write_zones(path: PathLike, v_outer: Union[Sequence[float], Zones], fractions: Optional[Mapping] = None,
                comments: Sequence[str] = ()) -> Path:
    """Write "zones.dat".

    Parameters
    ----------
    path : str or Path
        The file to write (replaced atomically).
    v_outer : sequence of float or Zones
        Outer velocities of the zones, innermost first (km/s, positive, increasing), or
        a `Zones` (then `fractions` is not given).
    fractions : dict
        Column name (element symbol H..Nd, case-sensitive, or an isotope of `ISOTOPES`)
        -> one mass fraction per zone (dimensionless, at the explosion). Each zone's
        fractions must be finite, >= 0 and have a positive sum (the program normalises
        them to 1, warning when the sum is off by more than 1 %); elements beyond Z = 56
        must be 0.
    comments : sequence of str
        Lines written first, each after "# ".

    Returns
    -------
    Path

    Raises
    ------
    InputValueError
        A value of the wrong type, not finite or outside the program's limits, an unknown
        column, more than 100 zones. Nothing is written.
    """
    if isinstance(v_outer, Zones):
        if fractions is not None:
            raise InputValueError("write_zones: fractions are given by the Zones")
        v_outer, fractions = v_outer.v_outer, v_outer.fractions
    return _write_atomically(path, zones_records(list(v_outer), fractions or {}, comments))
