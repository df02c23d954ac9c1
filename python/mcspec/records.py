"""Reading the records of the program's output files strictly.

Every fixed-layout record is described by the edit descriptors of the format that writes
it (``layout("F9.2,5E15.5", names)``); a record of another length, a field that is not a
number, a literal that differs, undecodable bytes or a file without content raise
`FileFormatError` naming the file, the record (line) and the field.
"""

from __future__ import annotations

import re
from pathlib import Path
from typing import NamedTuple, Sequence, Union

from .errors import FileFormatError
from .numbers import NumberFormatError, parse_float, parse_int

__all__ = ["Field", "layout", "read_lines", "parse_record", "record_length"]


class Field(NamedTuple):
    name: str   # '' for blanks (X) and literals
    width: int  # characters
    kind: str   # 'i' integer, 'f' real, 's' text, 'x' blanks, 'l' literal
    text: str = ""  # the literal


_DESC = re.compile(r"^(\d*)(?:(ES|[IFEDA])(\d+)(?:\.\d+)?|X|'([^']*)')$")


_TOKENS = re.compile(r"\s*(?:(\d*)\(([^()]*)\)|('[^']*')|([^,'()]+))\s*,?")


def _expand(fmt: str) -> list[str]:
    """'2(F12.3,F5.1),F10.2' -> ['F12.3', 'F5.1', 'F12.3', 'F5.1', 'F10.2']."""
    out = []
    for m in _TOKENS.finditer(fmt):
        rep, group, lit, desc = m.groups()
        if group is not None:
            out += _expand(group) * int(rep or 1)
        elif lit is not None:
            out.append(lit)
        elif desc and desc.strip():
            out.append(desc.strip())
    return out


def layout(fmt: str, names: Sequence[str]) -> tuple:
    """The fields of a record written with the edit descriptors `fmt`, named `names` in order."""
    fields, names = [], list(names)
    for d in _expand(fmt):
        m = _DESC.match(d)
        if not m:
            raise AssertionError(f"bad descriptor {d!r}")
        rep, letter, width, lit = m.group(1), m.group(2), m.group(3), m.group(4)
        if lit is not None:
            fields.append(Field("", len(lit), "l", lit))
        elif letter is None:  # nX
            fields.append(Field("", int(rep or 1), "x"))
        else:
            kind = {"I": "i", "A": "s"}.get(letter, "f")
            for _ in range(int(rep or 1)):
                fields.append(Field(names.pop(0), int(width), kind))
    if names:
        raise AssertionError(f"names left over: {names}")
    return tuple(fields)


def record_length(fields: Sequence[Field]) -> int:
    """Characters of a record of this layout."""
    return sum(f.width for f in fields)


_CONTROL = re.compile(r"[\x00-\x08\x0b-\x1f\x7f]")


def read_lines(path: Union[str, Path], required: bool = True) -> list[str]:
    """The records of a text file the program wrote (ASCII).

    Raises FileFormatError for a missing or unreadable file, undecodable bytes or control
    characters (naming the line), and for a file without content when `required`.
    """
    try:
        data = Path(path).read_bytes()
    except FileNotFoundError:
        raise FileFormatError(path, reason="missing") from None
    except OSError as e:
        raise FileFormatError(path, reason=f"cannot be read ({e.strerror})") from None
    try:
        text = data.decode("ascii").replace("\r\n", "\n")
    except UnicodeDecodeError as e:
        raise FileFormatError(path, data.count(b"\n", 0, e.start) + 1, None,
                              f"undecodable byte 0x{data[e.start]:02x}: not a text file the program wrote") from None
    m = _CONTROL.search(text)
    if m:
        raise FileFormatError(path, text.count("\n", 0, m.start()) + 1, None,
                              f"control character 0x{ord(m.group()):02x}: not a text file the program wrote")
    if required and not text.strip():
        raise FileFormatError(path, reason="empty: the program writes records here")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


def parse_record(path: Union[str, Path], line_no: int, line: str, fields: Sequence[Field]) -> list:
    """The values of a fixed-layout record (integers, floats, stripped text), in order.

    The record must have exactly the layout's length: a record cut short names the field
    in which it ends.
    """
    n = record_length(fields)
    if len(line) != n:
        field, pos = None, 0
        for f in fields:
            if pos + f.width > len(line):
                field = f.name or None
                break
            pos += f.width
        what = "cut short" if len(line) < n else "too long"
        raise FileFormatError(path, line_no, field, f"record {what}: {len(line)} characters, {n} expected")
    out, pos = [], 0
    for f in fields:
        s = line[pos:pos + f.width]
        pos += f.width
        if f.kind == "x":
            if s.strip():
                raise FileFormatError(path, line_no, None,
                                      f"unexpected text {s.strip()!r} in columns {pos - f.width + 1}-{pos}")
            continue
        if f.kind == "l":
            if s != f.text:
                raise FileFormatError(path, line_no, None, f"expected {f.text.strip()!r}, found {s.strip()!r}")
            continue
        try:
            out.append(parse_int(s) if f.kind == "i" else parse_float(s) if f.kind == "f" else s.strip())
        except NumberFormatError as e:
            raise FileFormatError(path, line_no, f.name, str(e)) from None
    return out
