"""The atomic-data builder (tools/build_atomic_data.py): its rules on small hand-made
source extracts, the Si II 6347 line from the shipped Kurucz extract, and the whole
directory compared record by record with the reference directory ../shared/mcdata."""

import math
import os
import subprocess
import sys
from itertools import zip_longest

import pytest

from conftest import REPO, SHARED

sys.path.insert(0, os.path.join(REPO, "tools"))
import build_atomic_data as bad  # noqa: E402

SOURCES = os.path.join(REPO, "data", "sources")
REFERENCE = str(SHARED / "mcdata")

# The data records of an atomic-data directory (comment records left out), so that two
# directories can be compared record by record.
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


@pytest.fixture(scope="module")
def built(atomic_data):
    return str(atomic_data)


def ion_block(directory, name, z, j):
    for head, recs in records(directory, name):
        if head[:2] == (z, j):
            return recs
    raise AssertionError("no block %d %d in %s" % (z, j, name))


# ------------------------------------------------------------------ hand-made extracts

NRG = """17 09 05
1\t0.000\t2\t"3s 2S1/2"
2\t200.000\t4\t"3s2 2D3/2"
3\t20000.000\t2\t"3p 2P*1/2"
4\t20100.000\t4\t"3p 2P*3/2"
5\t30000.000\t2\t"4s 2S1/2"
6\t60000.000\t2\t"9p 2P*1/2"
7\t120000.000\t2\t"nf 2F*5/2"
**************
"""
# Lines: 3-1 (the only way down from 3), 4-1 and 4-2 (given twice: merged), 5-4 and 5-3,
# 7-1 (to a level above the 10 eV limit), an E2 line 2-1; level 6 has no line.
TP = """17 09 05
A\t1\t3\t1.0e8\t
A\t1\t4\t2.0e8\t
A\t2\t4\t1.0e7\t
A\t2\t4\t1.0e7\t
A\t4\t5\t3.0e7\t
A\t3\t5\t3.0e7\t
A\t1\t7\t1.0e6\t
A\t1\t2\t1.0e-3\tE2
**************
"""


def tiny_ion(tmp_path):
    d = tmp_path / "cloudy-lfs/data/stout/na/na_1"
    d.mkdir(parents=True)
    (d / "na_1.nrg").write_text(NRG)
    (d / "na_1.tp").write_text(TP)
    cand = bad.read_stout(str(tmp_path), 11, 1, {11: "Na"})
    ion = bad.finish(cand, 10.0)  # limit 80655 cm^-1: level 7 lies above it
    bad.write_varn1(str(tmp_path / "varn1"), [ion], {11: "Na"})
    bad.write_varn2(str(tmp_path / "varn2"), [ion], {11: "Na"})
    return ion, cand


def read_tiny(tmp_path):
    with open(tmp_path / "varn1") as f:
        rows = f.read().splitlines()[5:]
    levels = [(int(r[0:9]), float(r[9:27]), float(r[27:39])) for r in rows]
    with open(tmp_path / "varn2") as f:
        rows = f.read().splitlines()[4:]
    lines = []
    for r in rows:
        for k in range(0, len(r), 20):
            lines.append((int(r[k:k + 6]), int(r[k + 6:k + 12]), float(r[k + 12:k + 20])))
    return levels, lines


def test_rules_on_a_hand_made_ion(tmp_path):
    ion, cand = tiny_ion(tmp_path)
    levels, lines = read_tiny(tmp_path)
    # Kept: ground, the low metastable level 2 (below the lowest upper level 3, stored
    # negative), 3, 4, 5. Level 7 (above the limit) goes with its line, level 6 (above the
    # lowest upper level, no line) is pruned. J = (g - 1)/2.
    assert levels == [(1, 0.0, 0.5), (2, -200.0, 1.5), (3, 20000.0, 0.5), (4, 20100.0, 1.5),
                      (5, 30000.0, 0.5)]
    # gf = g_u A lambda^2 / 6.6702e15, lambda (A, vacuum) from the energies.
    def lgf(gu, a, de):
        return round(math.log10(gu * a * (1e8 / de) ** 2 / 6.6702e15), 3)
    # Ordered by upper, then lower level; 3 -> 1 is its level's only way down, so its
    # lower level is written negative; 4 -> 2 given twice has its gf summed.
    assert lines == [(3, -1, lgf(2, 1e8, 20000.0)), (4, 1, lgf(4, 2e8, 20100.0)),
                     (4, 2, lgf(4, 2e7, 19900.0)), (5, 3, lgf(2, 3e7, 10000.0)),
                     (5, 4, lgf(2, 3e7, 9900.0))]
    assert cand.dropped == {"forbidden (typed E2)": 1, "line to a level above the ionisation limit": 1,
                            "duplicate line merged (gf summed)": 1, "unconnected levels pruned": 1}


# The parent term's mark is not the level's; jK labels: the term is in parentheses.
@pytest.mark.parametrize("label, odd", [(x, True) for x in (
    "3s2.3p.4s 3P*0", "2s2.2p3.(4S*).3s 5S*2", "3d4.(a 3P).4p y 2S*1/2", "3d6.(5D).4s (6D).5p n 7D*5",
    "3p6.4s.np w 1P*1", "3p5.(2P*<3/2>).4s2.5s 2[3/2]*1", "3s.3p3.(5S*<2>)")] + [
    ("3d3.4s2 a 4F3/2", False), ("3s2.3p2.(3P<0>)", False)])
def test_parity_from_the_configuration(label, odd):
    assert bad.parity_odd(label) is odd


def test_kurucz_energies_use_the_extracts_own_factor(built):
    # Si II 4s 2S1/2 - 4p 2P*3/2, 6347.109 A in air (NIST): to better than 0.01 A.
    recs = ion_block(built, "lines/varn1.new", 14, 2)
    energy = [abs(float(r[9:27])) for r in recs]
    best = min((abs(bad.vac_to_air(1e8 / (eu - el)) - 6347.109), eu, el)
               for eu in energy for el in energy if eu > el)
    assert best[0] < 0.01
    # 8065.544 cm^-1/eV would put the line 0.8 A off.
    assert abs(bad.KURUCZ_CM_PER_EV - 8064.505) < 0.001


def test_never_overwrites_and_leaves_nothing_half_written(tmp_path):
    (tmp_path / "mcdata").mkdir()
    (tmp_path / "mcdata" / "mine").write_text("keep")
    tool = os.path.join(REPO, "tools", "build_atomic_data.py")
    r = subprocess.run([sys.executable, tool, str(tmp_path / "mcdata")], capture_output=True, text=True)
    assert r.returncode == 2 and "never overwritten" in r.stderr
    assert (tmp_path / "mcdata" / "mine").read_text() == "keep"
    r = subprocess.run([sys.executable, tool, "--sources", str(tmp_path / "none"), str(tmp_path / "new")],
                       capture_output=True, text=True)
    assert r.returncode == 2 and "elements.json" in r.stderr
    assert sorted(os.listdir(tmp_path)) == ["mcdata"]


def test_deterministic(built, tmp_path):
    out = tmp_path / "again"
    subprocess.run([sys.executable, os.path.join(REPO, "tools", "build_atomic_data.py"), str(out)], check=True)
    for name in FILES + ["BUILD-REPORT.txt"]:
        with open(os.path.join(built, name), "rb") as a, open(out / name, "rb") as b:
            assert a.read() == b.read(), name


# ------------------------------------------------------------------ damaged sources

def damaged(tmp_path, rel, content):
    """data/sources seen through links, with the file `rel` replaced by `content`."""
    real, mine = SOURCES, tmp_path / "src"
    for part in rel.split("/")[:-1] + [None]:
        mine.mkdir()
        for name in os.listdir(real):
            if name != part and name != os.path.basename(rel):
                os.symlink(os.path.join(real, name), mine / name)
        if part is not None:
            real, mine = os.path.join(real, part), mine / part
    (mine / os.path.basename(rel)).write_bytes(content)
    return tmp_path / "src"


PE = "plasmapy/src/plasmapy/particles/data/"
KUR = "agnwinds-data-gen/py_kurucz/"
STOUT = "cloudy-lfs/data/stout/c/c_1/c_1."
H20 = "agnwinds-python/xdata/atomic_macro/h20_"
W7HEAD = b"1D_sphere SNR\n2 0.0 86400.0 1\n2.4\n"


# (damaged file, its hand-made content, line and field the message must name)
@pytest.mark.parametrize("rel, content, line, field", [
    (PE + "elements.json", b'{\n "H": {"atomic number": 1,\n  "atomic mass": {"value": NaN}}}', 2, "\"atomic mass.value\""),
    (PE + "elements.json", b'{\n "H": {"atomic number": 1,,\n}}', 2, None),
    (PE + "ionization_energy.json", b'{\n "H": {"ionization energy": -13.6}}', 2, "\"ionization energy\""),
    ("carsus/carsus/data/knox_long_recombination_zeta.dat", b"#name Z ion t10000\nFrac 1 1 inf\n", 2, "t10000"),
    (KUR + "levels_kur.py", b"LevKur 1 1 1 2 nan\n", 1, "E"),
    (KUR + "levels_kur.py", b"LevKur 1 1 1 2 0.0\nLevKur 1 1 2 8 \xff10.2\n", 2, None),
    (KUR + "lines_simple_kur.py", b"Line 1 1 1215.67 1e999 2 8 0.0 10.2 1e8\n", 1, "f"),
    (KUR + "lines_simple_kur.py", b"Line 1 1 -1215.67 0.4 2 8 0.0 10.2 1e8\n", 1, "lambda"),
    (KUR + "lines_simple_kur.py", b"Line 1 1 1215.67 0.4 0 8 0.0 10.2\n", 1, "g_l"),
    (STOUT + "nrg", b'date\n1\t0.0\t2\t"1s"\n2\t-82259\t2\t"2p"\n', 3, "energy"),
    (STOUT + "tp", b"date\nA\t1\t2\tnan\t\n", 2, "A"),
    (H20 + "levels.dat", b"LevMacro 1 1 1 x 0.0 0\n", 1, "g"),
    (H20 + "lines.dat", b"LinMacro 1 1 1215 -0.4 2 8 x x 1 2\n", 1, "f"),
    ("agnwinds-python/xdata/atomic/elem_ions_ver_80.dat", b"IonV H 1 1 0\n", 1, "g"),
    ("pubsed/tests/w7/w7.mod", W7HEAD + b"1e8 nan 1e4 1.0\n1e9 1e-9 1e4 1.0\n", 4, "density"),
    ("pubsed/tests/w7/w7.mod", W7HEAD + b"1e9 1e-9 1e4 1.0\n1e8 1e-9 1e4 1.0\n", 5, "velocity"),
    ("pubsed/tests/w7/w7.mod", W7HEAD + b"1e8 1e-9 1e4 1.0\n", 4, None),
    ("speclite/speclite/data/filters/bessell-U.ecsv", b"wavelength response\n3000 0.1\n2900 0.2\n", 3, "wavelength"),
])
def test_a_damaged_source_stops_the_build_naming_file_line_and_field(tmp_path, capsys, rel, content, line, field):
    src = damaged(tmp_path, rel, content)
    assert bad.main(["--sources", str(src), str(tmp_path / "out" / "mcdata")]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and os.path.join(str(src), rel) + ", line %d" % line in err, err
    assert field is None or "field %s" % field in err, err
    assert os.listdir(tmp_path / "out") == []


# ------------------------------------------------------------------ the reference

# The one known difference: Ca I level 53 of the NIST extract, 43933.477 cm^-1, labelled
# "3p6.4s.np w 1P*1" (an odd 4snp 1P1 level, n unassigned), with its two E1 lines to the
# 4s2 1S0 ground level and to 3d4s 1D2. The reference treats them as joining levels of
# equal parity and drops the level; 1S0 - 1P*1 is a permitted line, so we keep it.
CA_I_EXTRA_LEVEL = 43933.477


def test_equal_to_the_reference_directory(built):
    if not os.path.isdir(REFERENCE):
        pytest.skip("reference directory %s not present" % REFERENCE)
    diffs = compare(built, REFERENCE)
    for name in FILES:
        if not name.startswith("lines/"):
            assert diffs[name] == [], name
    ions = {d[0] for name in ("lines/varn1.new", "lines/varn2") for d in diffs[name]}
    assert ions == {(20, 1)}
    # Without the extra level and its lines, Ca I is the reference's Ca I.
    ours = ion_block(built, "lines/varn1.new", 20, 1)
    theirs = ion_block(REFERENCE, "lines/varn1.new", 20, 1)
    e_ours = [float(r[9:27]) for r in ours]
    k = e_ours.index(CA_I_EXTRA_LEVEL) + 1
    assert [r[9:] for r in ours if float(r[9:27]) != CA_I_EXTRA_LEVEL] == [r[9:] for r in theirs]

    def entries(recs):
        return [(int(r[i:i + 6]), int(r[i + 6:i + 12]), r[i + 12:i + 20])
                for r in recs for i in range(0, len(r), 20)]

    renumber = lambda n: int(math.copysign(abs(n) - (abs(n) > k), n))  # noqa: E731
    lo = entries(ion_block(built, "lines/varn2", 20, 1))
    extra = [e for e in lo if abs(e[0]) == k or abs(e[1]) == k]
    assert sorted((abs(u), abs(l)) for u, l, _ in extra) == [(k, 1), (k, 8)]
    rest = [(renumber(u), renumber(l), g) for u, l, g in lo if (u, l, g) not in extra]
    assert rest == entries(ion_block(REFERENCE, "lines/varn2", 20, 1))
