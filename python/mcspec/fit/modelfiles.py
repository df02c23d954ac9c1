"""Input files of one fit evaluation: the starting model's dica.dat and comp.ind with the
parameters of the evaluation put in.

dica.dat is edited in place (`mcspec.inputs.Dica`), so comments and unknown surplus values
survive. Mass fractions X(El) are set in comp.ind (record k is element Z = k); a filler
element takes up the change so that the fractions still sum to 1.
"""
from __future__ import annotations

import re

from ..errors import InputValueError
from ..inputs import DICA_FIELDS, ELEMENTS as SYMBOLS, Z_OF, Dica, comp_records, parse_comp as read_comp

__all__ = ["DICA_FIELDS", "SYMBOLS", "Z_OF", "Dica", "read_comp", "element_of", "composition", "comp_text"]

_X_NAME = re.compile(r"^X\(([A-Z][a-z]?)\)$")


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
