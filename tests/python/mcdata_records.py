"""Reads an atomic-data directory as its data records (comment records left out), so
that two directories can be compared record by record."""

import math
import os

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
    """Per file: (number of differing records, first few differences)."""
    result = {}
    for name in FILES:
        a, b = records(ours, name), records(theirs, name)
        diffs = []
        if name.startswith("lines/"):
            ba = {blk[0][:2]: blk for blk in a}
            bb = {blk[0][:2]: blk for blk in b}
            if [blk[0][:2] for blk in a] != [blk[0][:2] for blk in b]:
                diffs.append(("ion order", [x[0] for x in a], [x[0] for x in b]))
            for ion in sorted(set(ba) | set(bb)):
                ha, ra = ba.get(ion, ((None,), []))
                hb, rb = bb.get(ion, ((None,), []))
                if ha != hb:
                    diffs.append((ion, "header", ha, hb))
                for k in range(max(len(ra), len(rb))):
                    x = ra[k] if k < len(ra) else None
                    y = rb[k] if k < len(rb) else None
                    if x != y:
                        diffs.append((ion, k + 1, x, y))
        else:
            for k in range(max(len(a), len(b))):
                x = a[k] if k < len(a) else None
                y = b[k] if k < len(b) else None
                if x != y:
                    diffs.append((k + 1, x, y))
        result[name] = diffs
    return result


if __name__ == "__main__":
    import sys
    res = compare(sys.argv[1], sys.argv[2])
    for name, d in res.items():
        print("%-16s %6d differing records" % (name, len(d)))
        for x in d[:int(sys.argv[3]) if len(sys.argv) > 3 else 5]:
            print("    ", x)
