"""Reading the numbers mcspec writes.

The program writes fixed-layout records with the classic edit descriptors, so a field
can hold forms that Python's float() refuses:

- ``0.130D+10``: exponent letter D (D-edit descriptors, e.g. in "yhea.dat");
- ``0.20238-158``: a three-digit exponent written without its letter (Ew.d with an
  exponent beyond +-99, e.g. in "spct.dat");
- ``*******``: a value that did not fit its field (read as NaN);
- ``NaN``, ``Infinity``, ``-Inf``: non-finite values.

``parse_float`` reads one field, ``fixed_fields`` cuts a record into fields of given
widths, ``split_fields`` splits a blank-separated record.
"""

from __future__ import annotations

import math
import re

import numpy as np

from .errors import McspecError

__all__ = ["parse_float", "parse_int", "fixed_fields", "split_fields", "NumberFormatError"]


class NumberFormatError(McspecError, ValueError):
    """A field that is not a number in any form the program writes."""


# mantissa followed directly by a signed exponent without letter: 0.20238-158, 1.5+100
_NO_LETTER = re.compile(r"^([+-]?(?:\d+\.?\d*|\.\d+))([+-]\d+)$")


def parse_float(text: str) -> float:
    """One field as a float; asterisk-filled fields give NaN.

    >>> parse_float("0.20238-158")
    2.0238e-159
    >>> parse_float(" 0.130D+10")
    1300000000.0
    """
    s = text.strip()
    if not s:
        raise NumberFormatError("empty field")
    if set(s) == {"*"}:
        return math.nan
    t = s.replace("D", "E").replace("d", "e")
    try:
        return float(t)
    except ValueError:
        pass
    m = _NO_LETTER.match(t)
    if m:
        return float(m.group(1) + "e" + m.group(2))
    raise NumberFormatError(f"not a number: {text!r}")


def parse_int(text: str) -> int:
    """One integer field; an asterisk-filled field raises (integers have no NaN)."""
    s = text.strip()
    try:
        return int(s)
    except ValueError:
        raise NumberFormatError(f"not an integer: {text!r}") from None


def fixed_fields(line: str, widths) -> list[str]:
    """Cut a record into consecutive fields of the given widths (short records pad with blanks)."""
    out = []
    pos = 0
    for w in widths:
        out.append(line[pos:pos + w])
        pos += w
    return out


# A run of asterisks is a field of its own even when it touches its neighbours.
_TOKENS = re.compile(r"\*+|[^\s*]+")


def split_fields(line: str) -> list[str]:
    """Blank-separated fields of a list-directed or loosely laid-out record."""
    return _TOKENS.findall(line)


def floats(fields) -> np.ndarray:
    return np.array([parse_float(f) for f in fields], dtype=float)
