"""Reads an atomic-data directory as its data records (comment records left out), so
that two directories can be compared record by record."""

import math
import os
from itertools import zip_longest

FILES = ["nbba.ind", "nbia.ind", "ihea.ind", "nama.ind", "filters.dat", "rhw7.dat",
         "lines/varn1.new", "lines/varn2"]


def _blocks(lines, before, after, per_record):
    """Ion blocks: `before` skipped records, header (I8, I4, I10), `after` skipped
    records, then the block's data records. Yields (header, [records])."""
    k = 0
    while k < len(lines):
        head = lines[k + before]
        z, j, n = int(head[0:8]), int(head[8:12]), int(head[12:22])
        k += before + 1 + after
        m = per_record(n)
        yield (z, j, n), lines[k:k + m]
        k += m


def records(directory, name):
    """The data records of one file: a list of strings, or for the ion files a list of
    ((Z, stage, n), [records]) blocks."""
    with open(os.path.join(directory, name), encoding="ascii") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    lines = [ln.rstrip() for ln in lines]
    if name == "lines/varn1.new":
        return list(_blocks(lines, 3, 1, lambda n: n))
    if name == "lines/varn2":
        return list(_blocks(lines, 2, 1, lambda n: math.ceil(n / 4)))
    return lines


def compare(ours, theirs):
    """Per file: the differing records, (record, ours, theirs), for the ion files
    ((Z, stage), record or "header", ours, theirs)."""
    result = {}
    for name in FILES:
        a, b = records(ours, name), records(theirs, name)
        if not name.startswith("lines/"):
            result[name] = [(k + 1, x, y) for k, (x, y) in enumerate(zip_longest(a, b)) if x != y]
            continue
        ba, bb = ({blk[0][:2]: blk for blk in d} for d in (a, b))
        diffs = [] if list(ba) == list(bb) else [("ion order", [x[0] for x in a], [x[0] for x in b])]
        for ion in sorted(set(ba) | set(bb)):
            (ha, ra), (hb, rb) = ba.get(ion, ((None,), [])), bb.get(ion, ((None,), []))
            diffs += [(ion, "header", ha, hb)] if ha != hb else []
            diffs += [(ion, k + 1, x, y) for k, (x, y) in enumerate(zip_longest(ra, rb)) if x != y]
        result[name] = diffs
    return result
