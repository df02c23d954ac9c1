"""Input files of one fit evaluation: the starting model's dica.dat and comp.ind (or
zones.dat) with the parameters of the evaluation put in.

dica.dat is edited in place (`mcspec.inputs.Dica`), so comments and unknown surplus values
survive. Mass fractions X(El) are set in comp.ind (record k is element Z = k); a filler
element takes up the change so that the fractions still sum to 1. With zones.dat, X(El)@k
is the mass fraction of column El (an element or a radioactive isotope at the explosion)
in zone k (1 = innermost); the filler takes up the change within each zone changed, and
the other zones are written with their values as read.
"""
from __future__ import annotations

import re

from ..errors import InputValueError
from ..inputs import (DICA_FIELDS, ELEMENTS as SYMBOLS, ISOTOPES, Z_OF, Dica, Zones, comp_records,
                      parse_comp as read_comp, parse_zones, zones_records)

__all__ = ["DICA_FIELDS", "SYMBOLS", "Z_OF", "Dica", "read_comp", "element_of", "composition", "comp_text",
           "ISOTOPES", "parse_zones", "zone_fraction_of", "zones_composition", "zones_text"]

_X_NAME = re.compile(r"^X\(([A-Z][a-z]?)\)$")
_X_ZONE = re.compile(r"^X\(([A-Z][a-z]?(?:\d+)?)\)@(\d+)$")


def element_of(name: str) -> str | None:
    """'X(Si)' -> 'Si'; None for a name that is not a mass fraction."""
    m = _X_NAME.match(name)
    return m.group(1) if m else None


def composition(base: list[float], fractions: dict[str, float], filler: str) -> list[float]:
    """The starting fractions normalised to 1, with `fractions` put in and the filler taking
    up the difference. Raises InputValueError when the filler would become negative."""
    total = sum(base)
    if total <= 0:
        raise InputValueError("comp.ind: the mass fractions sum to zero")
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
        raise InputValueError(f"the mass fractions other than the filler {filler} sum to {rest:.6g} > 1")
    return x


def comp_text(x: list[float]) -> str:
    """The content of a comp.ind holding the mass fractions x (index 0 = hydrogen)."""
    return "\n".join(comp_records(list(x))) + "\n"


def zone_fraction_of(name: str) -> tuple[str, int] | None:
    """'X(Si)@2' -> ('Si', 2); None for a name that is not a zone's mass fraction."""
    m = _X_ZONE.match(name)
    return (m.group(1), int(m.group(2))) if m else None


def zones_composition(base: Zones, fractions: dict[tuple[str, int], float], filler: str) -> Zones:
    """The zones with `fractions` ({(column, zone): fraction}) put in. Each zone changed is
    first normalised to 1 and its filler takes up the difference; a column or the filler
    missing from the file is added (0 in every other zone). Raises InputValueError when a
    filler would become negative."""
    cols = {c: v.copy() for c, v in base.fractions.items()}
    for c in [c for c, _ in fractions] + [filler]:
        cols.setdefault(c, 0.0 * base.v_outer)
    for k in sorted({k for _, k in fractions}):
        i = k - 1
        total = sum(v[i] for v in cols.values())
        for v in cols.values():
            v[i] /= total
        for (c, kk), x in fractions.items():
            if kk == k:
                cols[c][i] = x
        rest = sum(v[i] for c, v in cols.items() if c != filler)
        cols[filler][i] = 0.0 if -1e-12 < 1.0 - rest < 0.0 else 1.0 - rest
        if cols[filler][i] < 0.0:
            raise InputValueError(f"zone {k}: the mass fractions other than the filler {filler} sum to {rest:.6g} > 1")
    return Zones(base.v_outer.copy(), cols)


def zones_text(z: Zones) -> str:
    """The content of a zones.dat holding the zones z."""
    return "\n".join(zones_records(list(z.v_outer), z.fractions)) + "\n"
