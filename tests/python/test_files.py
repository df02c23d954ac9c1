"""Readers on damaged copies of a real run's files and of the layered-ejecta files; writers on
bad arguments; round trips writer -> reader; any cut of a run's file reads identically or
raises; the number forms the program writes (three-digit exponents without a letter, D
exponents, fields too narrow for their value)."""

import math
import shutil

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import mcspec
from mcspec import outputs
from mcspec.__main__ import main
from mcspec.fit import modelfiles
from mcspec.inputs import Params
from mcspec.numbers import parse_float

from test_layers import COMPOSITION

READERS = {name: fn for name, fn in outputs.RUN_FILES.values()}
READERS.update({"composition.dat": mcspec.read_composition, "zones.dat": mcspec.read_zones})
BASE = {"composition.dat": COMPOSITION.encode(), "zones.dat": b""}  # the others: the run's file


def cut(n):
    return lambda b: b[:-n]


def line_dropped(k):
    return lambda b: b"\n".join(l for i, l in enumerate(b.split(b"\n")) if i != k)


def replaced(old, new):
    return lambda b: b.replace(*(x.encode() if isinstance(x, str) else x for x in (old, new)), 1)


def whole(text):
    return lambda b: text.encode()


GARBAGE = bytes(range(256)) * 4
ROW2 = COMPOSITION.splitlines()[4]

# file, damage, what the message names ('' for any message), (line, field) when checked
DAMAGED = [
    ("spct.dat", cut(5), "field blackbody_reddened: record cut short", None),   # 0.41005E-12 -> 0.41005
    ("lhea.dat", cut(5), "field tau_max: record cut short", None),              # 0.283E-02 -> 0.283
    ("sica.dat", cut(3), "field log_l: record cut short", None),
    ("yhea.dat", cut(5), "field IV: record cut short", None),
    ("ionspec.dat", cut(5), "field share: record cut short", None),
    ("stst.dat", cut(5), "record", None),
    ("sbib.dat", cut(5), "MBol", None),
    ("eica.dat", cut(5), "field energy: record cut short", None),
    ("atmd.oud", cut(5), "field J: record cut short", None),
    ("ptfn.dat", cut(5), "field igt: record cut short", None),
    ("spcp.dat", lambda b: b[:len(b) // 2], "cut short", None),
    ("spcp.dat", lambda b: b[:b.rindex(b"     Iteration")], "no final spectrum", None),
    ("lhea.dat", line_dropped(3), "transition 5 out of order", None),
    ("atmd.oud", line_dropped(5), "level 3 out of order", None),
    ("ptfn.dat", line_dropped(3), "shell with", None),
    ("sica.dat", line_dropped(8), "block of", None),
    ("spct.dat", replaced(b"E-1", b"X-1"), "record 1, field formal: not a number", None),
    ("stst.dat", lambda b: GARBAGE, "record 2: undecodable byte 0x80", None),
    ("sbib.dat", lambda b: GARBAGE, "record 2: undecodable byte 0x80", None),
    ("sbib.dat", lambda b: b"\0" + b, "record 1: control character 0x00", None),
    ("stst.dat", lambda b: b[:b.index(b"POWER:")], "no closing flux check", None),
    ("sbib.dat", lambda b: b[:b.index(b"DISTANCE")], "no DISTANCE", None),
    # composition.dat (a hand-made one, test_layers.py)
    ("composition.dat", replaced(ROW2, ROW2[:-20]), "cut short", (5, "Cr48")),  # a record cut inside
    ("composition.dat", replaced("3.0000E-01", "3.000xE-01"), "not a number", (5, "O")),
    ("composition.dat", replaced(ROW2, ROW2.replace("    2", "    3", 1)), "shell 3 where shell 2", (5, "shell")),
    ("composition.dat", replaced("    12000.0    15000.0", "    12500.0    15000.0"), "does not follow", (5, "v_inner")),
    ("composition.dat", replaced("6.0000E-01", "7.0000E-01"), "sum to 1.10000", (5, None)),  # a damaged digit
    ("composition.dat", replaced("5.0000E-02  5.0000E-02", "5.0000E-02 -5.0000E-02"), ">= 0", (5, "Ni")),
    ("composition.dat", replaced("   18.00", "   18.0x"), "not a number", (1, "DAY")),
    ("composition.dat", replaced("Si          Co", "Co          Si"), "increasing Z", (3, "Si")),
    ("composition.dat", replaced("Ni56", "Ni57"), "must end with Ni56", (3, None)),
    ("composition.dat", lambda b: b"".join(b.splitlines(True)[:3]), "no shell records", None),
    # zones.dat, refused as the program refuses it
    ("zones.dat", whole("v_outer O fe\n1 1 1\n"), "case-sensitive: 'Fe'", (1, "fe")),
    ("zones.dat", whole("v_outer O O\n1 1 1\n"), "named twice", (1, "O")),
    ("zones.dat", whole("# c\nv_outer O Si\n1 1\n"), "2 values", (3, "Si")),
    ("zones.dat", whole("v_outer O Si\n1 1 +1\n"), "not a number", (2, "Si")),
    ("zones.dat", whole("v_outer O\n2 1\n\n2 1\n"), "must increase", (4, "v_outer")),
    ("zones.dat", whole("v_outer O\n"), "no zone", (None, None)),
] + [(name, lambda b: b"", "empty", None) for name in ("spct.dat", "spcp.dat", "sica.dat", "stst.dat", "sbib.dat",
                                                        "yhea.dat", "ptfn.dat", "lhea.dat", "atmd.oud", "ionspec.dat")]


@pytest.fixture(scope="module")
def run_dir(hydrogen_run):
    """A run with every file, ionspec.dat too."""
    return hydrogen_run.directory


@pytest.mark.parametrize("name, damage, message, where", DAMAGED, ids=[f"{d[0]}-{i}" for i, d in enumerate(DAMAGED)])
def test_damaged_file_raises_naming_it(run_dir, tmp_path, name, damage, message, where):
    p = tmp_path / name
    p.write_bytes(damage(BASE[name] if name in BASE else (run_dir / name).read_bytes()))
    with pytest.raises(mcspec.FileFormatError) as e:
        READERS[name](p)
    assert str(p) in str(e.value) and message in str(e.value)
    assert where is None or (e.value.line, e.value.field) == where


def test_run_reports_missing_and_damaged_files(run_dir, tmp_path, capsys):
    d = tmp_path / "incomplete-run"
    shutil.copytree(run_dir, d)
    (d / "sica.dat").unlink()
    (d / "spcp.dat").write_bytes((run_dir / "spcp.dat").read_bytes()[:-3000])
    with pytest.raises(mcspec.IncompleteRunError) as e:
        mcspec.read_run(d)
    assert e.value.problems["sica.dat"] == "missing" and "spcp.dat" in e.value.problems
    r = mcspec.read_run(d, partial=True)
    assert set(r.problems) == {"sica.dat", "spcp.dat"} and r.spectrum is None and r.lines is not None
    # The command line: the file and the record, no traceback, status 1.
    (d / "spcp.dat").write_bytes(GARBAGE)
    assert main(["summary", str(d)]) == 1
    err = capsys.readouterr().err
    assert "spcp.dat\", record 2: undecodable" in err and "Traceback" not in err


@pytest.fixture(scope="module")
def scratch(run_dir, tmp_path_factory):
    d = tmp_path_factory.mktemp("cut") / "run"
    shutil.copytree(run_dir, d)
    return d, mcspec.read_run(d)


@settings(max_examples=60, deadline=None, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_any_cut_reads_identically_or_raises(run_dir, scratch, data):
    # eica.dat and ionspec.dat hold no counts: a cut between two of their entries is only
    # seen when it falls inside a record.
    name = data.draw(st.sampled_from(sorted(n for n in READERS if (run_dir / n).exists())))
    whole = (run_dir / name).read_bytes()
    n = data.draw(st.integers(0, len(whole) - 1))
    while name in ("eica.dat", "ionspec.dat") and n > 0 and b"\n" in (whole[n - 1:n], whole[n:n + 1]):
        n -= 1  # into a record
    d, ref = scratch
    (d / name).write_bytes(whole[:n])
    try:
        r = mcspec.read_run(d)
    except mcspec.McspecError as e:
        assert name in str(e)
        return
    finally:
        (d / name).write_bytes(whole)
    assert whole[n:].strip() == b""  # only blanks were cut
    assert _same(r, ref)


def _same(a, b):
    if hasattr(a, "__dataclass_fields__"):
        return all(_same(getattr(a, f), getattr(b, f)) for f in a.__dataclass_fields__)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(map(_same, a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(_same(a[k], b[k]) for k in a)
    if isinstance(a, np.ndarray):
        return a.shape == b.shape and (list(a) == list(b) if a.dtype == object else np.array_equal(a, b, True))
    return a == b or (a != a and b != b)


# ---------------------------------------------------------------------------- writers

HYDRO = dict(time_s=86400.0, radius_cm=[1e13, 2e13], density=[1e-10, 1e-11])
BAD_WRITES = [(mcspec.write_dica, {k: v}) for k, v in [
    ("np4", True), ("np4", 1.5), ("logls", "9.6"), ("vph", math.nan), ("day", math.inf), ("iopt", (1, 1, True, 0, 0)),
    ("iopt", (1, 1, 1)), ("js", 2), ("js", 86), ("kb", 1), ("kb", 503), ("xe1", 1.0), ("vph", 0.0), ("tb", -1.0),
    ("day", -1.0), ("wvm1", 0.0), ("kg", 5001), ("np4", 0), ("np4", 214749), ("seed", 1)]] + [
    (mcspec.write_dica, dict(wvm2=0.1, wvm1=0.2)), (mcspec.write_dica, dict(iopt=(1, 1, 0, 0, 0), wth1=0.0))] + [
    (mcspec.write_comp, dict(fractions=f)) for f in [[0.5, -0.1], [0.0, 0.0], [math.nan], [0.0] * 56 + [0.1], [True],
                                                    ["0.5"], [1e308, 1e308], {"Xx": 1.0}, [0.1] * 61, "0.5"]] + [
    (mcspec.write_hydro, {**HYDRO, **k}) for k in [
        dict(radius_cm=[1e13], density=[1e-10]), dict(radius_cm=[2e13, 1e13]), dict(density=[1e-10, 0.0]),
        dict(density=[1e-10, math.nan]), dict(time_s=math.nan), dict(time_s="1"), dict(radius_cm=["1e13", "2e13"]),
        dict(velocity_kms=[1, math.inf])]]


@pytest.mark.parametrize("writer, args", BAD_WRITES, ids=[f"{w.__name__}-{a}" for w, a in BAD_WRITES])
def test_bad_values_are_refused_and_nothing_written(tmp_path, writer, args):
    target = tmp_path / "input"
    target.write_text("before\n")
    with pytest.raises(mcspec.InputValueError):
        writer(target, **args)
    assert target.read_text() == "before\n" and [p.name for p in tmp_path.iterdir()] == ["input"]


def test_failed_replacement_leaves_no_temporary_file(tmp_path):
    (tmp_path / "dica.dat").mkdir()  # the target cannot be replaced
    with pytest.raises(OSError):
        mcspec.write_dica(tmp_path / "dica.dat")
    assert [p.name for p in tmp_path.iterdir()] == ["dica.dat"]


finite = st.floats(-1e30, 1e30, allow_nan=False, allow_subnormal=False)


@settings(max_examples=50, deadline=None, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.builds(Params, np4=st.integers(1, 214748), itt=st.integers(0, 100), js=st.integers(3, 85),
                 kb=st.integers(2, 502), xe1=st.floats(0.01, 0.99), logls=finite, vph=st.floats(1.0, 1e5),
                 tb=st.floats(1.0, 1e6), day=st.floats(1e-3, 1e4), dmod=finite, iseed=st.integers(-2**31, 2**31 - 1),
                 kg=st.integers(1, 5000), wvm2=st.floats(1.0, 100.0), iopt=st.tuples(*[st.integers(0, 1)] * 5)),
       st.lists(st.floats(0, 1e3), min_size=1, max_size=56).filter(lambda x: sum(x) > 0))
def test_written_inputs_read_back(tmp_path, p, x):
    mcspec.write_dica(tmp_path / "dica.dat", p)
    assert mcspec.read_dica(tmp_path / "dica.dat") == p
    mcspec.write_comp(tmp_path / "comp.ind", x)
    assert list(mcspec.read_comp(tmp_path / "comp.ind")) == x


def test_hydro_round_trip(tmp_path):
    r = np.geomspace(1e13, 1e15, 50)
    mcspec.write_hydro(tmp_path / "hydro.dat", 86400.0, r, 1e-10 * (r / 1e13) ** -7)
    t, a = mcspec.read_hydro(tmp_path / "hydro.dat")
    assert t == 86400.0 and np.array_equal(a[:, 2], r) and np.allclose(a[:, 1], r / 86400 / 1e5, rtol=1e-15)


def test_fit_reads_comp_past_a_blank_record():
    # Regression: the fit's reader stopped at the first blank record, so the model files of
    # every evaluation lost the elements after it; the program skips blank records.
    x = modelfiles.read_comp("  1 H  0.5\n\n  2 He 0.5\n")
    assert x == [0.5, 0.5] and modelfiles.comp_text(modelfiles.composition(x, {}, "H")).count("\n") == 2


@pytest.mark.parametrize("text, value", [
    ("0.20238-158", 0.20238e-158),     # E15.5 with a three-digit exponent: no letter
    ("0.18566+123", 0.18566e123),
    ("-0.5-100", -0.5e-100),
    ("0.130D+10", 1.3e9),              # D exponent
    ("  -0.3419D-03", -3.419e-4),
    ("0.61503E-12", 6.1503e-13),
    ("2020.38", 2020.38),
    ("-99.0000", -99.0),
    ("Infinity", math.inf), ("-Infinity", -math.inf), ("-Inf", -math.inf),
    ("*******", math.nan), ("***************", math.nan), ("NaN", math.nan),  # values too wide for their field
    ("", None), ("abc", None), ("1.2.3", None), ("E+5", None),  # refused
])
def test_number_forms(text, value):
    if value is None:
        with pytest.raises(ValueError):
            parse_float(text)
    else:
        assert parse_float(text) == pytest.approx(value, rel=1e-15, nan_ok=True)


def test_spct_record_forms(tmp_path):
    # Records as the program writes them (F9.2, 5E15.5), one with a value too wide for its field.
    p = tmp_path / "spct.dat"
    p.write_text("  2017.13    0.20800E-13    0.19079E-13    0.00000E+00    0.00000E+00    0.61789E-12\n"
                 "  2020.38    0.19272E-13    0.17680E-13    0.20238-158    0.18566-158    0.61932E-12\n"
                 "*********    0.17623D-13***************    0.20238-158    0.18569-158    0.62074E-12\n")
    a = mcspec.read_spct(p)
    assert a.shape == (3, 6)
    assert a[1, 3] == pytest.approx(2.0238e-159, rel=1e-15)
    assert a[2, 1] == pytest.approx(1.7623e-14)
    assert np.isnan(a[2, 0]) and np.isnan(a[2, 2])  # a bad record: test_files.py
