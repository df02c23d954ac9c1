"""Input files of one fit evaluation: the starting model's dica.dat and comp.ind with the
parameters of the evaluation put in.

dica.dat alternates comment and data records; a value is replaced in place, so comments and
unknown surplus values survive. Mass fractions X(El) are set in comp.ind (record k is element
Z = k); a filler element takes up the change so that the fractions still sum to 1.
"""
from __future__ import annotations

import re

from ..io import ELEMENTS as SYMBOLS  # element symbols of Z = 1..60, the range comp.ind can hold

Z_OF = {s: z for z, s in enumerate(SYMBOLS, start=1)}

# dica.dat data records (1-based record number) and the names of their values, with type.
# The second integer of record 4 is read by the program and not used.
DICA_LAYOUT = {
    2: (("NP4", int), ("ITT", int)),
    4: (("JS", int), ("JS2", int), ("KB", int), ("XE1", float)),
    6: (("LOGLS", float), ("VPH", float), ("TB", float)),
    8: (("DAY", float), ("DMOD", float), ("ZRED", float)),
    10: (("EBVG", float), ("EBVH", float)),
    12: (("ISEED", int), ("LOGTAUG", float)),
    14: (("CHL", float), ("NC", int)),
    16: (("WVM1", float), ("WVM2", float), ("KG", int)),
    18: (("WV1", float), ("WV2", float), ("LOGLWV", float)),
    20: (("WTH1", float), ("WTH2", float)),
    22: tuple((f"IOPT({i})", int) for i in range(1, 6)),
}
DICA_FIELDS = {name: (rec, pos, typ)
               for rec, fields in DICA_LAYOUT.items()
               for pos, (name, typ) in enumerate(fields)}

_X_NAME = re.compile(r"^X\(([A-Z][a-z]?)\)$")


class ModelFileError(ValueError):
    """A starting model file that cannot be read or changed; the message names file and record."""


def element_of(name: str) -> str | None:
    """'X(Si)' -> 'Si'; None for a name that is not a mass fraction."""
    m = _X_NAME.match(name)
    return m.group(1) if m else None


def _split(record: str) -> list[str]:
    return [t for t in re.split(r"[,\s]+", record.strip()) if t]


class Dica:
    """dica.dat as records; values are looked up and replaced by name."""

    def __init__(self, text: str, path: str = "dica.dat"):
        self.path = path
        self.records = text.splitlines()
        if len(self.records) < 22:
            raise ModelFileError(f"{path}: {len(self.records)} records, 22 needed")
        for rec, fields in DICA_LAYOUT.items():
            tokens = _split(self.records[rec - 1])
            if len(tokens) < len(fields):
                raise ModelFileError(
                    f"{path}: record {rec} holds {len(tokens)} values, {len(fields)} needed "
                    f"({', '.join(n for n, _ in fields)}); write them on one record")
            for (name, typ), tok in zip(fields, tokens):
                try:
                    typ(tok) if typ is int else float(tok.replace("d", "e").replace("D", "e"))
                except ValueError:
                    raise ModelFileError(f"{path}: record {rec}, field {name}: "
                                         f"cannot read {tok!r}") from None

    def get(self, name: str):
        rec, pos, typ = DICA_FIELDS[name]
        tok = _split(self.records[rec - 1])[pos]
        return int(tok) if typ is int else float(tok.replace("d", "e").replace("D", "e"))

    def set(self, name: str, value) -> None:
        rec, pos, typ = DICA_FIELDS[name]
        tokens = _split(self.records[rec - 1])
        tokens[pos] = str(int(value)) if typ is int else repr(float(value))
        self.records[rec - 1] = " " + " ".join(tokens)

    def text(self) -> str:
        return "\n".join(self.records) + "\n"


def read_comp(text: str, path: str = "comp.ind") -> list[float]:
    """Mass fractions of Z = 1, 2, ... in record order (the program's reading of comp.ind)."""
    fractions = []
    for n, line in enumerate(text.splitlines(), start=1):
        tokens = _split(line)
        if not tokens:
            break
        if len(tokens) < 3:
            raise ModelFileError(f"{path}: record {n}: three values needed (Z, name, fraction)")
        try:
            fractions.append(float(tokens[2].replace("d", "e").replace("D", "e")))
        except ValueError:
            raise ModelFileError(f"{path}: record {n}, field fraction: "
                                 f"cannot read {tokens[2]!r}") from None
        if len(fractions) == 60:
            break
    if not fractions:
        raise ModelFileError(f"{path}: no records")
    return fractions


def composition(base: list[float], fractions: dict[str, float], filler: str) -> list[float]:
    """The starting fractions normalised to 1, with `fractions` put in and the filler taking
    up the difference. Raises ValueError when the filler would become negative."""
    total = sum(base)
    if total <= 0:
        raise ValueError("comp.ind: the mass fractions sum to zero")
    nz = max([len(base), Z_OF[filler]] + [Z_OF[el] for el in fractions])
    x = [f / total for f in base] + [0.0] * (nz - len(base))
    for el, v in fractions.items():
        x[Z_OF[el] - 1] = v
    zf = Z_OF[filler] - 1
    rest = sum(v for i, v in enumerate(x) if i != zf)
    x[zf] = 1.0 - rest
    if -1e-12 < x[zf] < 0.0:  # rounding of fractions that sum to 1
        x[zf] = 0.0
    if x[zf] < 0.0:
        raise ValueError(f"the mass fractions other than the filler {filler} sum to "
                         f"{rest:.6g} > 1")
    return x


def comp_text(x: list[float]) -> str:
    return "".join(f"{z:3d} {SYMBOLS[z - 1]:<2s} {v!r}\n" for z, v in enumerate(x, start=1))
