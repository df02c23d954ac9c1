#!/usr/bin/env python3
"""Builds a complete atomic-data directory (the directory MCDATA names) from the public
source files shipped under data/sources/ (see data/sources/PROVENANCE.md).

Energy levels and lines per ion come from one of three sources, the one giving the most
permitted lines: the Kurucz extracts (energies in eV made with 8064.505 cm^-1/eV, so
converted back with that factor), the NIST levels and E1 transition probabilities
(gf = g_u A lambda^2 / 6.6702e15, lambda in vacuum A), or the 20-level hydrogen atom.
Ionisation energies and atomic weights are NIST/IUPAC values, zeta is the fraction of
recombinations going directly to the ground state at 10000 K, the default density
profile is the W7 model at t = 1 day, the filters are Bessell (1990) U, B, V, R.

Standard library only; deterministic; the output directory is written under a temporary
name beside it and renamed into place, and an existing directory is never overwritten.

    usage: build_atomic_data.py [--sources DIR] OUTDIR
"""

import argparse
import io
import json
import math
import os
import re
import shutil
import sys
import tempfile
import time

# The Kurucz extract's energies in eV were made from Kurucz's wavenumbers with
# h = 4.13620e-15 eV s and c = 2.997925e10 cm/s: 8064.505 cm^-1/eV (not 8065.544), whose
# exact inverse gives back the wavenumbers.
KURUCZ_CM_PER_EV = 1.0 / (4.13620e-15 * 2.997925e10)
NIST_CM_PER_EV = 8065.544    # cm^-1 per eV (hydrogen model atom, ionisation limits)
GF_CONST = 6.6702e15         # gf = g_u A lambda^2 / GF_CONST, lambda in A
MAX_LEVELS = 850             # per ion
N_SYMBOLS = 60               # nbba.ind, nbia.ind
N_IONISATION_ROWS = 56       # ihea.ind, nama.ind
MAX_STAGE = 5                # the level table holds stages 1..5
MAX_Z_LINES = 30
STAGE_LABELS = ["I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX"]

# Source preference on equal line counts (earlier wins).
SOURCE_ORDER = ["h20", "kurucz-1e5K", "kurucz-2e4K", "nist-stout"]
SOURCE_TEXT = {
    "h20": "hydrogen 20-level model atom (n-resolved, g = 2n^2), agnwinds/python h20_*.dat",
    "kurucz-1e5K": "Kurucz gfall extract, agnwinds/data-gen lines_simple_kur.py (T = 1e5 K selection)",
    "kurucz-2e4K": "Kurucz gfall extract, agnwinds/data-gen cool_lines_simple_kur.py (T = 2e4 K selection)",
    "nist-stout": "NIST ASD levels and E1 transition probabilities, cloudy_lfs data/stout",
    "placeholder": "placeholder: ground level 6s 2S1/2 only, no line data",
}

KURUCZ_DIR = "agnwinds-data-gen/py_kurucz"
KURUCZ_FILES = {"kurucz-1e5K": ("levels_kur.py", "lines_simple_kur.py"),
                "kurucz-2e4K": ("cool_levels_kur.py", "cool_lines_simple_kur.py")}
STOUT_DIR = "cloudy-lfs/data/stout"
H20_LEVELS = "agnwinds-python/xdata/atomic_macro/h20_levels.dat"
H20_LINES = "agnwinds-python/xdata/atomic_macro/h20_lines.dat"
VERNER = "agnwinds-python/xdata/atomic/elem_ions_ver_80.dat"
ZETA = "carsus/carsus/data/knox_long_recombination_zeta.dat"
ELEMENTS = "plasmapy/src/plasmapy/particles/data/elements.json"
IONISATION = "plasmapy/src/plasmapy/particles/data/ionization_energy.json"
W7 = "pubsed/tests/w7/w7.mod"
BESSELL = "speclite/speclite/data/filters/bessell-%s.ecsv"


class SourceError(Exception):
    pass


def fail(path, line, msg, field=None):
    """Stops the build: the file, the record (its line number), the field and the fault."""
    where = "%s, line %d" % (path, line) if field is None else "%s, line %d, field %s" % (path, line, field)
    raise SourceError("%s: %s" % (where, msg))


def read_text(path):
    """The whole of a UTF-8 text file; undecodable bytes stop the build naming their line."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        fail(path, data.count(b"\n", 0, e.start) + 1, "undecodable bytes (the file is not UTF-8 text)")


def text_lines(path):
    """(line number, line) of a text file, lines ended as in text mode."""
    return enumerate(io.StringIO(read_text(path), newline=None), 1)


# Kinds of field: what a value must be.
INT, COUNT = "an integer", "a positive integer"
REAL, NONNEG, POSITIVE = "a finite number", "a finite number >= 0", "a finite number > 0"
WEIGHT = "a positive statistical weight"  # written as a real, rounded to an integer


def value(path, n, words, col, name, kind):
    """Field `col` (0-based) of record n, called `name`, checked to be of `kind`."""
    if col >= len(words) or not words[col].strip():
        fail(path, n, "missing (the record has %d fields)" % len(words), name)
    text = words[col].strip()
    try:
        v = int(text) if kind in (INT, COUNT) else float(text)
    except ValueError:
        fail(path, n, "%r is not %s" % (text, kind), name)
    if kind == WEIGHT and math.isfinite(v):
        v = int(round(v))
    bad = ((kind not in (INT, COUNT) and not math.isfinite(v))
           or (kind in (COUNT, POSITIVE, WEIGHT) and v <= 0) or (kind == NONNEG and v < 0))
    if bad:
        fail(path, n, "%r is not %s" % (text, kind), name)
    return v


def records(path, keyword, fields):
    """(line number, values) of each record whose first blank-separated word is `keyword`;
    fields: (column, name, kind) of the values wanted."""
    for n, line in text_lines(path):
        w = line.split()
        if w and w[0] == keyword:
            yield n, [value(path, n, w, c, name, kind) for c, name, kind in fields]


def json_records(path):
    """The top-level object of a JSON file and a function giving the line of a key's record."""
    text = read_text(path)
    try:
        data = json.loads(text)
    except ValueError as e:
        fail(path, getattr(e, "lineno", 1), "not valid JSON (%s)" % getattr(e, "msg", e))
    if not isinstance(data, dict):
        fail(path, 1, "not a JSON object of records")

    def line_of(key):
        m = re.search(r'^\s*"%s"\s*:' % re.escape(key), text, re.M)
        return 1 + text.count("\n", 0, m.start()) if m else 1
    return data, line_of


def json_value(path, line, rec, keys, kind):
    """rec[keys[0]][keys[1]]... of a JSON record, checked to be a number of `kind`."""
    v = rec
    for k in keys:
        v = v.get(k) if isinstance(v, dict) else None
    name = '"%s"' % ".".join(keys)
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        fail(path, line, "%r is not %s" % (v, kind), name)
    return value(path, line, [repr(float(v))], 0, name, kind)


def roman(j):
    return STAGE_LABELS[j - 1]


# --------------------------------------------------------------------------- elements

def read_elements(src):
    """Symbols and standard atomic weights of Z = 1..60."""
    path = os.path.join(src, ELEMENTS)
    data, line_of = json_records(path)
    sym, awt = {}, {}
    for s, rec in data.items():
        z = rec.get("atomic number") if isinstance(rec, dict) else None
        if isinstance(z, int) and 1 <= z <= N_SYMBOLS and s.isalpha():
            sym[z] = s
            if rec.get("atomic mass") is not None:
                awt[z] = json_value(path, line_of(s), rec, ("atomic mass", "value"), POSITIVE)
    # The file gives boron's interval bound; IUPAC's conventional value is 10.81.
    # Technetium has no stable isotope: the mass number of its longest-lived isotope.
    awt[5] = 10.81
    awt.setdefault(43, 98.0)
    for z in range(1, N_SYMBOLS + 1):
        if z not in sym or z not in awt:
            raise SourceError("%s: no symbol or atomic weight for Z = %d" % (path, z))
    return sym, awt


def read_ionisation(src, sym):
    """chi[(z, j)] in eV, the energy from stage j to j + 1 (j = 1 the neutral atom)."""
    path = os.path.join(src, IONISATION)
    data, line_of = json_records(path)
    chi = {}
    for z in range(1, N_IONISATION_ROWS + 1):
        for j in range(1, min(z, 9) + 1):
            key = sym[z] if j == 1 else "%s %d+" % (sym[z], j - 1)
            if key not in data:
                raise SourceError("%s: no ionisation energy for %s" % (path, key))
            chi[(z, j)] = json_value(path, line_of(key), data[key], ("ionization energy",), POSITIVE)
    return chi


def read_zeta(src):
    """log10 zeta at 10000 K per (z, j); only rows with a positive fraction."""
    path = os.path.join(src, ZETA)
    zeta = {}
    col = None
    for n, line in text_lines(path):
        w = line.split()
        if not w:
            continue
        if w[0] == "#name":
            if "t10000" not in w:
                fail(path, n, "no column t10000 in the column header")
            col = w.index("t10000")  # "#name" stands where the rows have "Frac"
            continue
        if w[0] != "Frac":
            continue
        if col is None:
            fail(path, n, "data before the column header")
        z, j, v = [value(path, n, w, c, name, kind) for c, name, kind in
                   ((1, "Z", COUNT), (2, "stage", COUNT), (col, "t10000", NONNEG))]
        if v > 1:
            fail(path, n, "%r is a fraction above 1" % w[col], "t10000")
        if v > 0:
            zeta[(z, j)] = math.log10(v)
    return zeta


def read_verner_ground_g(src):
    path = os.path.join(src, VERNER)
    g = {}
    for n, (z, j, gg) in records(path, "IonV", ((2, "Z", COUNT), (3, "stage", COUNT), (4, "g", COUNT))):
        g[(z, j)] = gg
    return g


# Ground-state statistical weights of the neutral atoms by electron count N = 1..56
# (NIST ground terms).
NEUTRAL_GROUND_G = [None, 2, 1, 2, 1, 2, 1, 4, 5, 4, 1, 2, 1, 2, 1, 4, 5, 4, 1, 2, 1,
                    4, 5, 4, 7, 6, 9, 10, 9, 2, 1, 2, 1, 4, 5, 4, 1, 2, 1, 4, 5, 2, 7,
                    6, 11, 10, 1, 2, 1, 2, 1, 4, 5, 4, 1, 2, 1]
# Singly charged ions whose ground term differs from that of the neutral atom with the
# same electron count (3d and 4d rows): N -> g.
SINGLY_CHARGED_G = {20: 3, 21: 4, 22: 1, 23: 6, 24: 7, 25: 10, 26: 9, 27: 6, 28: 1,
                    39: 4, 40: 1, 41: 6, 42: 7, 43: 10, 44: 9, 45: 6}
# Ground levels of d^n (Hund's rules), n = 0..10.
D_SHELL_G = [1, 4, 5, 4, 1, 6, 9, 10, 9, 6, 1]


def ground_g_rule(z, j):
    """Ground-state g of ion (z, j) by isoelectronic sequence (NIST ground terms)."""
    n = z - j + 1
    if n <= 0:
        return 1
    q = j - 1
    if q >= 2 and 18 < n <= 28:
        return D_SHELL_G[n - 18]
    if q >= 2 and 36 < n <= 46:
        return D_SHELL_G[n - 36]
    if q == 1 and n in SINGLY_CHARGED_G:
        return SINGLY_CHARGED_G[n]
    return NEUTRAL_GROUND_G[n]


# --------------------------------------------------------------------------- ions

class Candidate:
    """Levels and lines of one ion from one source, as read.

    levels: list of (key, energy_cm, g, label); lines: list of (upper_key, lower_key, gf).
    dropped: reason -> count (lines and levels removed while reading)."""

    def __init__(self, z, j, source):
        self.z, self.j, self.source = z, j, source
        self.levels = []
        self.lines = []
        self.dropped = {}
        self.ground_g = None  # used only where the source lacks a level at 0

    def drop(self, reason, k=1):
        self.dropped[reason] = self.dropped.get(reason, 0) + k


class Ion:
    """A finished ion: levels (energy_cm, g) in increasing energy, level 1 the ground
    level at 0; lines (upper, lower, gf) with 1-based level numbers."""

    def __init__(self, z, j, source, levels, lines, dropped):
        self.z, self.j, self.source = z, j, source
        self.levels, self.lines, self.dropped = levels, lines, dropped
        ups = {u for u, _, _ in lines}
        down = {}
        for u, _, _ in lines:
            down[u] = down.get(u, 0) + 1
        self.metastable = [i > 1 and i not in ups for i in range(1, len(levels) + 1)]
        self.eff_res = [l == 1 and down[u] == 1 for u, l, _ in lines]


def vac_to_air(lam):
    """Air wavelength (A) of a vacuum wavelength (A) above 2000 A (Edlen 1966)."""
    if lam <= 2000.0:
        return lam
    s2 = (1e4 / lam) ** 2
    n = 1.0 + 6.4328e-5 + 2.94981e-2 / (146.0 - s2) + 2.5540e-4 / (41.0 - s2)
    return lam / n


def finish(cand, chi_ev):
    """Common processing: levels at or above the ionisation limit go with their lines,
    duplicate lines are merged, unconnected levels above the lowest upper level are
    pruned, a ground level is added where missing (with cand.ground_g); returns the Ion."""
    limit_cm = chi_ev * NIST_CM_PER_EV
    levels = {k: (e, g, lab) for k, e, g, lab in cand.levels}
    above = {k for k, (e, g, lab) in levels.items() if e >= limit_cm}
    merged = {}
    order = []
    for u, l, gf in cand.lines:
        if u in above or l in above:
            cand.drop("line to a level above the ionisation limit")
            continue
        if (u, l) in merged:
            merged[(u, l)] += gf
            cand.drop("duplicate line merged (gf summed)")
        else:
            merged[(u, l)] = gf
            order.append((u, l))
    for k in above:
        del levels[k]
    used = set()
    for u, l in order:
        used.add(u)
        used.add(l)
    lowest_upper = min((levels[u][0] for u, _ in order), default=math.inf)
    ground_key = None
    if levels:
        ground_key = min(levels, key=lambda k: (levels[k][0], k))
        if levels[ground_key][0] != 0.0:
            ground_key = None
    keep = []
    pruned = 0
    for k, (e, g, lab) in levels.items():
        if k == ground_key or k in used or e < lowest_upper:
            keep.append(k)
        else:
            pruned += 1
    if pruned:
        cand.drop("unconnected levels pruned", pruned)
    # Increasing energy; levels of equal energy by increasing g, then in source order.
    keep.sort(key=lambda k: (levels[k][0], levels[k][1], k))
    lev = [(levels[k][0], levels[k][1]) for k in keep]
    if ground_key is None:
        # g unknown (None) unless given: such a candidate cannot be written (build_ions)
        cand.drop("ground level added")
        lev.insert(0, (0.0, cand.ground_g))
        keep.insert(0, None)
    if len(lev) > MAX_LEVELS:
        raise SourceError("%s %s: %d levels, more than %d" % (cand.z, cand.j, len(lev), MAX_LEVELS))
    num = {k: i + 1 for i, k in enumerate(keep)}
    lines = sorted((num[u], num[l], merged[(u, l)]) for u, l in order)
    return Ion(cand.z, cand.j, cand.source, lev, lines, cand.dropped)


# --------------------------------------------------------------------------- Kurucz

def read_kurucz(src, source):
    """Candidates per (z, j) from one Kurucz level/line extract pair."""
    lev_name, lin_name = KURUCZ_FILES[source]
    lev_path = os.path.join(src, KURUCZ_DIR, lev_name)
    lin_path = os.path.join(src, KURUCZ_DIR, lin_name)
    cands = {}
    keyed = {}
    for n, (z, j, g, e) in records(lev_path, "LevKur", ((1, "Z", COUNT), (2, "stage", COUNT),
                                                        (4, "g", COUNT), (5, "E", NONNEG))):
        if z > MAX_Z_LINES or j > MAX_STAGE:
            continue
        c = cands.setdefault((z, j), Candidate(z, j, source))
        key = (round(e * 1e6), g)
        if key in keyed.setdefault((z, j), {}):
            continue
        keyed[(z, j)][key] = key
        c.levels.append((key, e * KURUCZ_CM_PER_EV, g, ""))
    fields = ((1, "Z", COUNT), (2, "stage", COUNT), (3, "lambda", POSITIVE), (4, "f", REAL),
              (5, "g_l", COUNT), (6, "g_u", COUNT), (7, "E_l", REAL), (8, "E_u", REAL))
    for n, (z, j, lam, fval, gl, gu, el, eu) in records(lin_path, "Line", fields):
        if z > MAX_Z_LINES or j > MAX_STAGE:
            continue
        c = cands.setdefault((z, j), Candidate(z, j, source))
        if el < 0 or eu <= el:
            c.drop("bad level energies in source line")
            continue
        if fval <= 0:
            c.drop("zero oscillator strength")
            continue
        lam_e = vac_to_air(1e8 / ((eu - el) * KURUCZ_CM_PER_EV))
        if abs(lam / lam_e - 1.0) > 1e-3:
            c.drop("listed wavelength disagrees with the energies")
            continue
        kl, ku = (round(el * 1e6), gl), (round(eu * 1e6), gu)
        lv = keyed.get((z, j), {})
        if kl not in lv or ku not in lv:
            c.drop("unmatched level (energy, g)")
            continue
        c.lines.append((ku, kl, gl * fval))
    return cands


# --------------------------------------------------------------------------- NIST

ORBITAL_L = {"s": 0, "p": 1, "d": 2, "f": 3, "g": 4, "h": 5, "i": 6, "k": 7}


ORBITAL = re.compile(r"^(\d+|n)([spdfghik])(\d*)$")


def parity_odd(label):
    """Parity of a level from the configuration in its NIST label ("3s2.3p.4s 3P*0",
    "3d6.(5D).4s (6D).5p n 7D*5", "3s.3p3.(5S*<2>)"): odd when the sum of l over the electrons is odd.
    Parent terms in parentheses and one-letter series marks are skipped. Without a
    readable configuration, the '*' mark of the level's term (the last word)."""
    words = re.sub(r"\([^)]*\)", " ", label).split()
    if not words:
        return None
    total, seen = 0, False
    # The configuration precedes the level's term; a label of one word after the
    # parenthesised parts ("3s2.3p2.(3P<0>)") is all configuration.
    for word in words[:-1] if len(words) > 1 else words:
        if len(word) == 1 and word.isalpha():
            continue
        for part in word.split("."):
            if not part:
                continue
            m = ORBITAL.match(part)
            if not m:
                return "*" in words[-1]
            total += ORBITAL_L[m.group(2)] * (int(m.group(3)) if m.group(3) else 1)
            seen = True
    if seen:
        return total % 2 == 1
    return "*" in words[-1]


def stout_rows(path):
    """(line number, tab-separated fields) of the records of a Stout file: after its date
    line, up to the line of asterisks."""
    for n, line in text_lines(path):
        if n == 1:
            continue  # the file's date
        if line.startswith("*"):
            break
        yield n, line.rstrip("\n").split("\t")


def read_stout(src, z, j, sym):
    el = sym[z].lower()
    base = os.path.join(src, STOUT_DIR, el, "%s_%d" % (el, j), "%s_%d" % (el, j))
    nrg, tp = base + ".nrg", base + ".tp"
    if not (os.path.exists(nrg) and os.path.exists(tp)):
        return None
    c = Candidate(z, j, "nist-stout")
    energy, odd = {}, {}
    for n, w in stout_rows(nrg):
        if len(w) < 3 or not w[0].strip():
            continue
        k, e, g = [value(nrg, n, w, col, name, kind) for col, name, kind in
                   ((0, "index", INT), (1, "energy", NONNEG), (2, "g", WEIGHT))]
        lab = w[3].strip().strip('"') if len(w) > 3 else ""
        energy[k] = e
        odd[k] = parity_odd(lab) if lab else None
        c.levels.append((k, e, g, lab))
    gof = {k: g for k, e, g, lab in c.levels}
    for n, w in stout_rows(tp):
        if not w or w[0] != "A":
            continue
        lo, up, a = [value(tp, n, w, col, name, kind) for col, name, kind in
                     ((1, "lower", INT), (2, "upper", INT), (3, "A", REAL))]
        typ = w[4].strip() if len(w) > 4 else ""
        if typ and typ != "E1":
            c.drop("forbidden (typed %s)" % typ)
            continue
        if lo not in energy or up not in energy:
            c.drop("level index missing")
            continue
        if odd[lo] is not None and odd[lo] == odd[up]:
            c.drop("same parity (not E1)")
            continue
        if energy[up] < energy[lo]:
            lo, up = up, lo
        de = energy[up] - energy[lo]
        if de <= 0 or a <= 0:
            c.drop("zero energy difference or A")
            continue
        lam = 1e8 / de
        c.lines.append((up, lo, gof[up] * a * lam * lam / GF_CONST))
    return c


# --------------------------------------------------------------------------- hydrogen

def read_h20(src):
    lp = os.path.join(src, H20_LEVELS)
    c = Candidate(1, 1, "h20")
    fields = ((1, "Z", COUNT), (2, "stage", COUNT), (3, "level", INT), (5, "E", NONNEG), (6, "g", COUNT))
    for n, (z, j, k, e, g) in records(lp, "LevMacro", fields):
        if (z, j) != (1, 1):
            continue  # the bare nucleus
        c.levels.append((k, e * NIST_CM_PER_EV, g, ""))
    gof = {k: g for k, e, g, lab in c.levels}
    np_ = os.path.join(src, H20_LINES)
    fields = ((4, "f", POSITIVE), (5, "g_l", COUNT), (9, "lower", INT), (10, "upper", INT))
    for n, (fval, gl, lo, up) in records(np_, "LinMacro", fields):
        if lo not in gof or up not in gof:
            c.drop("level index missing")
            continue
        c.lines.append((up, lo, gl * fval))
    return c


# --------------------------------------------------------------------------- build

def build_ions(src, sym, chi):
    kur = {s: read_kurucz(src, s) for s in ("kurucz-1e5K", "kurucz-2e4K")}
    ions, rejected = [], []
    for z in range(1, MAX_Z_LINES + 1):
        for j in range(1, min(z, MAX_STAGE) + 1):
            cands = []
            if (z, j) == (1, 1):
                cands.append(read_h20(src))
            for s in ("kurucz-1e5K", "kurucz-2e4K"):
                if (z, j) in kur[s]:
                    cands.append(kur[s][(z, j)])
            st = read_stout(src, z, j, sym)
            if st is not None:
                cands.append(st)
            done = [finish(c, chi[(z, j)]) for c in cands]
            done = [i for i in done if i.lines]
            if not done:
                continue
            done.sort(key=lambda i: (-len(i.lines), SOURCE_ORDER.index(i.source)))
            if done[0].levels[0][1] is None:
                raise SourceError("%s %s (%s): no ground level at 0 cm^-1"
                                  % (sym[z], roman(j), done[0].source))
            ions.append(done[0])
            rejected.extend(done[1:])
    # The line and level readers stop at Ba II: a block with its ground level only.
    ba = Candidate(56, 2, "placeholder")
    ba.ground_g = 2
    ions.append(finish(ba, chi[(56, 2)]))
    return ions, rejected


def write_varn1(path, ions, sym):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for ion in ions:
            name = "%s %s" % (sym[ion.z], roman(ion.j))
            f.write("%-9s Z=%3d  stage=%2d  levels=%5d  lines=%6d\n"
                    % (name, ion.z, ion.j, len(ion.levels), len(ion.lines)))
            f.write("source: %s\n" % SOURCE_TEXT[ion.source])
            f.write("energy in cm-1 (negative: metastable, no permitted line down); J = (g-1)/2\n")
            f.write("%8d%4d%10d\n" % (ion.z, ion.j, len(ion.levels)))
            f.write("    level      energy (cm-1)           J\n")
            for i, (e, g) in enumerate(ion.levels, 1):
                if ion.metastable[i - 1]:
                    e = -e
                f.write("%9d%18.3f%12.1f\n" % (i, e, (g - 1) / 2.0))


def write_varn2(path, ions, sym):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        for ion in ions:
            name = "%s %s" % (sym[ion.z], roman(ion.j))
            f.write("%-9s Z=%3d  stage=%2d  lines=%6d  (levels numbered as in lines/varn1.new)\n"
                    % (name, ion.z, ion.j, len(ion.lines)))
            f.write("source: %s; negative lower level = effective resonance line\n"
                    % SOURCE_TEXT[ion.source])
            f.write("%8d%4d%10d\n" % (ion.z, ion.j, len(ion.lines)))
            f.write("  upper lower  log gf" * 4 + "\n")
            rec = []
            for (u, l, gf), res in zip(ion.lines, ion.eff_res):
                lg = "%8.3f" % math.log10(gf)
                if lg.strip() == "-0.000":
                    lg = "   0.000"  # no negative zero
                rec.append("%6d%6d" % (u, -l if res else l) + lg)
                if len(rec) == 4:
                    f.write("".join(rec) + "\n")
                    rec = []
            if rec:
                f.write("".join(rec) + "\n")


def write_tables(out, sym, awt, chi, zeta, ions, verner):
    with open(os.path.join(out, "nbba.ind"), "w", encoding="ascii", newline="\n") as f:
        for r in range(4):
            f.write("".join(" %-2s" % sym[z] for z in range(15 * r + 1, 15 * r + 16)) + "\n")
        f.write("".join(" %-4s" % s for s in STAGE_LABELS) + "\n")
    with open(os.path.join(out, "nbia.ind"), "w", encoding="ascii", newline="\n") as f:
        for z in range(1, N_SYMBOLS + 1):
            f.write("%3d %-2s%9.4f\n" % (z, sym[z], awt[z]))
    with open(os.path.join(out, "ihea.ind"), "w", encoding="ascii", newline="\n") as f:
        for z in range(1, N_IONISATION_ROWS + 1):
            v = [chi.get((z, j), 999.999) for j in range(1, 10)]
            f.write("%3d %-2s" % (z, sym[z]) + "".join("%8.3f" % x for x in v) + "\n")
        for z in range(1, N_IONISATION_ROWS + 1):
            v = [zeta.get((z, j), 0.0) if j <= z else 0.0 for j in range(1, 9)]
            f.write("%3d %-2s" % (z, sym[z]) + "".join("%7.2f" % x for x in v) + "\n")
    from_levels = {(i.z, i.j): i.levels[0][1] for i in ions}
    with open(os.path.join(out, "nama.ind"), "w", encoding="ascii", newline="\n") as f:
        for z in range(1, N_IONISATION_ROWS + 1):
            gs = []
            for j in range(1, 11):
                if j > z:
                    gs.append(1)
                elif (z, j) in from_levels:
                    gs.append(from_levels[(z, j)])
                elif (z, j) in verner:
                    gs.append(verner[(z, j)])
                else:
                    gs.append(ground_g_rule(z, j))
            f.write("%3d %-2s" % (z, sym[z]) + "".join("%4d" % g for g in gs) + "\n")


def read_model(path):
    """A homologous 1-D model ("1D_sphere SNR"): line 2 the number of zones, the inner
    boundary velocity (cm/s), the time (s) and the number of species; line 3 the species
    as Z.A; then per zone its outer velocity (cm/s), density (g/cm^3), temperature (K) and
    the mass fractions. Returns (time, inner velocity, species [(Z, A)], zones
    [(line, outer velocity, density, fractions)]), every value checked."""
    lines = [(n, ln.split()) for n, ln in text_lines(path)]
    if not lines or lines[0][1][:2] != ["1D_sphere", "SNR"]:
        fail(path, 1, 'not "1D_sphere SNR" (a homologous spherical model)')
    if len(lines) < 3:
        fail(path, len(lines), "no species line")
    w = lines[1][1]
    nz, vin, t, ns = [value(path, 2, w, c, name, kind) for c, name, kind in
                      ((0, "zones", COUNT), (1, "inner velocity", NONNEG), (2, "time", POSITIVE),
                       (3, "species", COUNT))]
    species = []
    for c in range(ns):
        za = value(path, 3, lines[2][1], c, "species %d (Z.A)" % (c + 1), POSITIVE)
        z, a = lines[2][1][c].split(".") if "." in lines[2][1][c] else (lines[2][1][c], "")
        if not (z.isdigit() and a.isdigit() and 1 <= int(z) <= int(a)):
            fail(path, 3, "%r is not Z.A" % lines[2][1][c], "species %d" % (c + 1))
        species.append((int(z), int(a)))
    if len(lines) < 3 + nz:
        fail(path, len(lines), "%d zones announced, %d given" % (nz, len(lines) - 3))
    zones, prev = [], vin
    for n, w in lines[3:3 + nz]:
        v, rho = value(path, n, w, 0, "velocity", POSITIVE), value(path, n, w, 1, "density", POSITIVE)
        if v <= prev:
            fail(path, n, "%r is not above the velocity before it" % w[0], "velocity")
        value(path, n, w, 2, "temperature", NONNEG)
        x = [value(path, n, w, 3 + c, "X(%d.%d)" % za, NONNEG) for c, za in enumerate(species)]
        zones.append((n, v, rho, x))
        prev = v
    return t, vin, species, zones


def read_w7(src):
    """Points (velocity km/s, radius cm, density) at t = 86400 s: one per zone at its
    centre velocity; a trailing zone repeating the density before it is dropped."""
    path = os.path.join(src, W7)
    t, vin, species, zones = read_model(path)
    nz = len(zones)
    pts = []
    for n, vout, rho, x in zones:
        vc = 0.5 * (vin + vout)  # cm/s
        pts.append((vc / 1e5, vc * t, rho))
        vin = vout
    dropped = 0
    while len(pts) > 1 and pts[-1][2] == pts[-2][2]:
        pts.pop()
        dropped += 1
    mass = 0.0
    for k, (v, r, rho) in enumerate(pts):
        rin = 0.0 if k == 0 else 0.5 * (pts[k - 1][1] + r)
        rout = r if k == len(pts) - 1 else 0.5 * (r + pts[k + 1][1])
        mass += 4.0 / 3.0 * math.pi * (rout ** 3 - rin ** 3) * rho
    return pts, t, nz, dropped, mass / 1.989e33


def write_w7(out, pts, t):
    with open(os.path.join(out, "rhw7.dat"), "w", encoding="ascii", newline="\n") as f:
        f.write("%3d %.1f\n" % (len(pts), t))
        for k, (v, r, rho) in enumerate(pts, 1):
            f.write("%4d%11.3f %12.6E %12.6E\n" % (k, v, r, rho))


def read_ecsv(path):
    pts = []
    for n, line in text_lines(path):
        s = line.strip()
        if not s or s.startswith("#") or s.startswith("wavelength"):
            continue
        w = s.split()
        pts.append((value(path, n, w, 0, "wavelength", POSITIVE), value(path, n, w, 1, "response", NONNEG)))
        if len(pts) > 1 and pts[-1][0] <= pts[-2][0]:
            fail(path, n, "%r is not above the wavelength before it" % w[0], "wavelength")
    if len(pts) < 2:
        raise SourceError("%s: fewer than two points" % path)
    return pts


def interp(pts, x):
    if x < pts[0][0] or x > pts[-1][0]:
        return 0.0
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        if x0 <= x <= x1:
            return y0 if x1 == x0 else y0 + (y1 - y0) * (x - x0) / (x1 - x0)
    return 0.0


def write_filters(out, src):
    curves = []
    for b in "UBVR":
        pts = read_ecsv(os.path.join(src, BESSELL % b))
        peak = max(y for _, y in pts)
        curves.append([(x, y / peak) for x, y in pts])
    with open(os.path.join(out, "filters.dat"), "w", encoding="ascii", newline="\n") as f:
        for i in range(109):
            lam = 3000.0 + 50.0 * i
            f.write("%9.1f" % lam + "".join("%8.3f" % interp(c, lam) for c in curves) + "\n")


def write_report(path, ions, rejected, sym, w7info):
    pts, t, nz, dropped, mass = w7info
    tot = {}
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("Atomic-data directory built by tools/build_atomic_data.py (not read by mcspec)\n")
        f.write("Kurucz energies converted with %.4f cm-1/eV; NIST gf = g_u A lambda^2 / %.4e\n"
                % (KURUCZ_CM_PER_EV, GF_CONST))
        f.write("rhw7.dat: W7 at t = %.0f s, %d zones, %d trailing point(s) with a repeated "
                "density dropped, %d points, %.4f Msun\n\n" % (t, nz, dropped, len(pts), mass))
        f.write("%-9s %-13s %7s %7s %5s %5s  %s\n"
                % ("ion", "source", "levels", "lines", "meta", "effr", "dropped (reason: count)"))
        for i in ions:
            name = "%s %s" % (sym[i.z], roman(i.j))
            why = "; ".join("%s: %d" % kv for kv in sorted(i.dropped.items()))
            f.write("%-9s %-13s %7d %7d %5d %5d  %s\n"
                    % (name, i.source, len(i.levels), len(i.lines), sum(i.metastable),
                       sum(i.eff_res), why))
            for k, v in i.dropped.items():
                tot[k] = tot.get(k, 0) + v
        f.write("\nion blocks: %d   levels: %d   lines: %d\n"
                % (len(ions), sum(len(i.levels) for i in ions), sum(len(i.lines) for i in ions)))
        f.write("dropped or merged, over the chosen sources:\n")
        for k in sorted(tot):
            f.write("  %-50s %6d\n" % (k, tot[k]))
        f.write("\ncandidates not chosen (ion, source, lines, levels):\n")
        for i in rejected:
            f.write("  %-9s %-13s %7d %7d\n" % ("%s %s" % (sym[i.z], roman(i.j)), i.source,
                                                len(i.lines), len(i.levels)))


def build(src, out):
    start = time.monotonic()
    out = os.path.abspath(out)
    if os.path.lexists(out):
        raise SourceError("%s exists already; it is never overwritten (remove it first)" % out)
    parent = os.path.dirname(out)
    os.makedirs(parent, exist_ok=True)
    sym, awt = read_elements(src)
    chi = read_ionisation(src, sym)
    zeta = read_zeta(src)
    print("build_atomic_data: reading levels and lines ...", flush=True)
    ions, rejected = build_ions(src, sym, chi)
    verner = read_verner_ground_g(src)
    w7info = read_w7(src)
    stage = tempfile.mkdtemp(prefix=".%s.partial-" % os.path.basename(out), dir=parent)
    try:
        os.mkdir(os.path.join(stage, "lines"))
        write_varn1(os.path.join(stage, "lines", "varn1.new"), ions, sym)
        write_varn2(os.path.join(stage, "lines", "varn2"), ions, sym)
        write_tables(stage, sym, awt, chi, zeta, ions, verner)
        write_w7(stage, w7info[0], w7info[1])
        write_filters(stage, src)
        write_report(os.path.join(stage, "BUILD-REPORT.txt"), ions, rejected, sym, w7info)
        os.chmod(stage, 0o755)
        os.rename(stage, out)
    except BaseException:
        shutil.rmtree(stage, ignore_errors=True)
        raise
    nlev = sum(len(i.levels) for i in ions)
    nlin = sum(len(i.lines) for i in ions)
    print("build_atomic_data: %d ion blocks, %d levels, %d lines -> %s (%.1f s)"
          % (len(ions), nlev, nlin, out, time.monotonic() - start))
    return ions


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sources", default=os.path.join(here, "..", "data", "sources"),
                    help="directory of the public source files (default: data/sources)")
    ap.add_argument("outdir", help="data directory to write (must not exist)")
    a = ap.parse_args(argv)
    try:
        build(os.path.abspath(a.sources), a.outdir)
    except (SourceError, OSError) as e:
        print("build_atomic_data: stopped: %s" % e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
