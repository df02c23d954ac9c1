"""mcspec.fit without the program: configuration errors, the objective against hand-worked
values, a failing model in the middle of a fit, and resuming an interrupted fit; on a model
with zones.dat, the files of one vector with X(Si)@2 and the configurations refused. Models
are replaced by a fake evaluation (a paraboloid in the parameters) run in this process."""
import json
import os
import math
import time

import numpy as np
import pytest

import mcspec
from mcspec import fit as mfit
from mcspec.fit import modelfiles, objective
from mcspec.fit.engine import SerialEngine
from mcspec.fit.search import Fit
from mcspec.wavelengths import air_to_vacuum, vacuum_to_air

from conftest import FIT_CONFIG, fit_dir

COMP = "".join(f"{z:3d} {s:<2s} {x}\n" for z, s, x in
               [(1, "H", 0), (2, "He", 0), (3, "Li", 0), (4, "Be", 0), (5, "B", 0), (6, "C", 0),
                (7, "N", 0), (8, "O", 0.3), (9, "F", 0), (10, "Ne", 0), (11, "Na", 0),
                (12, "Mg", 0.1), (13, "Al", 0), (14, "Si", 0.4), (15, "P", 0), (16, "S", 0.2)])
CONFIG = FIT_CONFIG
TRUTH = (9.55, 10500.0, 0.45)


@pytest.fixture
def setup(tmp_path):
    return fit_dir(tmp_path, CONFIG, comp=COMP)


def field(index):
    return f"# of eval {index}\n12000\n1 10000 11000 0.5 9900\n"


class Fake:
    """A paraboloid chi^2; fails (as the program would, with a message) when VPH > fail_vph."""

    def __init__(self, fail_vph=math.inf, interrupt_after=None):
        self.calls, self.fail_vph, self.interrupt_after = 0, fail_vph, interrupt_after
        self.warm = {}   # eval -> the warmstart.dat it was given

    def __call__(self, task):
        if self.interrupt_after is not None and self.calls >= self.interrupt_after:
            raise KeyboardInterrupt
        self.calls += 1
        d = modelfiles.Dica(task["files"]["dica.dat"])
        x_si = modelfiles.read_comp(task["files"]["comp.ind"])[13]
        x = (d.get("LOGLS"), d.get("VPH"), x_si)
        rec = {"index": task["index"], "worker": "fake", "wall_s": 0.01, "program_s": 0.009,
               "run_dir": "", "spct": None, "nbins": 10, "message": "", "status": "ok",
               "radfield": field(task["index"]), "passes": 11}
        self.warm[task["index"]] = task["files"].get("warmstart.dat")
        if x[1] > self.fail_vph:
            rec.update(status="failed", chi2=math.inf,
                       message="exit 3: photosphere above the outer edge")
        else:
            rec["chi2"] = 1.0 + sum(((a - b) / s) ** 2
                                    for a, b, s in zip(x, TRUTH, (0.1, 1000.0, 0.1)))
        return rec


def run(path, fake, text=None):
    if text is not None:
        (path / "fit.toml").write_text(text)
    cfg = mfit.load(str(path / "fit.toml"))
    return mfit.fit(cfg, engine=SerialEngine(), run_fn=fake, log=lambda s: None)


def edit(name, old, new):
    """A change to one file of the setup: `old` replaced by `new` (None: the whole text)."""
    return lambda d: (d / name).write_text(new if old is None else
                                           (d / name).read_text().replace(old, new, 1))


ZEROS = "".join(f"{z:3d} X 0.0\n" for z in range(1, 17))


def toml(old, new):
    return edit("fit.toml", old, new)


@pytest.mark.parametrize("change, message", [
    (toml("[fit]", "[fit]\npopsze = 4"), "fit.toml: [fit] unknown key 'popsze'"),
    (toml("[fit]", "[fitt]\nx = 1\n[fit]"), "fit.toml: unknown section [fitt]"),
    (toml("VPH = [7000.0, 13000.0]", "VPH = [13000.0, 7000.0]"),
     "fit.toml: [parameters] VPH: lower bound 13000.0 is not below upper bound"),
    (toml("LOGLS = [9.3, 9.8]", "LOGLS = [9.3, 19.8]"), "leave the accepted range"),
    (toml("LOGLS = [9.3, 9.8]", "LUM = [9.3, 9.8]"), "unknown parameter 'LUM'"),
    (toml("LOGLS = [9.3, 9.8]", "NP4 = [1, 3]"), "NP4 is an integer"),
    (toml('"X(Si)" = [0.1, 0.7]', '"X(Si)" = [0.1, 0.7]\n"X(S)" = [0.95, 0.99]'), "even at the lower bounds"),
    (toml("[[3500.0, 9000.0]]", "[[1500.0, 9000.0]]"), "fit.toml: [observed] windows[0]: [1500.0, 9000.0] A lies outside"),
    (toml("[fit]", "[overrides]\nWVM1 = 0.4\n[fit]"),
     "fit.toml: [observed] windows[0]: [3500.0, 9000.0] A lies outside the model's wavelength grid 4000-"),
    (toml("[fit]", "[overrides]\nJS = 1\n[fit]"),
     "fit.toml: [overrides] JS: the program would refuse every model: dica.dat record 4: JS = 1"),
    (toml('file = "obs.dat"', 'file = "missing.dat"'), "missing.dat does not exist"),
    (toml('output = "out"', ''), "fit.toml: [fit] output is missing"),
    (toml('binary = "/bin/true"', 'binary = "/none"'), "fit.toml: [model] binary: the mcspec program was not found at /none"),
    (toml("[fit]", '[cluster]\ntls_ca_file = "ca.pem"\n[fit]'), "fit.toml: [cluster] tls_cert is missing"),
    (toml(None, "[model\n"), "fit.toml: not valid TOML"),
    (edit("model/comp.ind", " 0.4\n", " nan\n"), "comp.ind: the mass fraction of Z = 14 (Si) is nan"),
    (edit("model/comp.ind", None, ZEROS), "comp.ind: the mass fractions sum to zero"),
    (edit("model/hydro.dat", None, "2 1.0e5\n1 1 1 1\n"), "hydro.dat\": 1 points, 2 announced"),
    (edit("obs.dat", None, "5000 1 0.1\n6000 nan 0.1\n"), "fit.toml: [observed] file: {d}/obs.dat: 1 observed points "
     "inside the fit windows have a flux or error that is not finite (the first at 6000 A)"),
    (edit("obs.dat", None, "5000 1 0.1\n6000 x 0.1\n"), "obs.dat\", record 2: not a number"),
    (edit("obs.dat", None, "5000 1\n6000 1\n"), "a fit needs the error column"),
])
def test_config_errors_before_any_model(setup, change, message, capsys):
    change(setup)
    with pytest.raises(SystemExit) as e:
        mfit.main([str(setup / "fit.toml")])
    assert e.value.code == 2
    assert message.format(d=setup) in capsys.readouterr().err
    assert not (setup / "out").exists()


def test_all_models_failing_stop_after_the_first_generation(setup, monkeypatch, capsys):
    # The real evaluation of a program that fails at once, in this process.
    monkeypatch.setattr("mcspec.fit.engine.Engine", lambda *a, **k: SerialEngine())
    (setup / "fit.toml").write_text(CONFIG.replace("/bin/true", "/bin/false"))
    with pytest.raises(SystemExit) as e:
        mfit.main([str(setup / "fit.toml")])
    assert e.value.code == 3
    assert "all 9 models of the first generation failed; eval 1: failed: exit 1" \
        in capsys.readouterr().err
    assert not (setup / "out").exists()


def test_unreachable_scheduler(setup, capsys):
    import distributed  # noqa: F401  (imported before the clock starts)
    t0 = time.time()
    with pytest.raises(SystemExit) as e:
        mfit.main([str(setup / "fit.toml"), "--scheduler", "tcp://127.0.0.1:1"])
    assert e.value.code == 2 and time.time() - t0 < 12
    assert "cannot connect to the Dask scheduler tcp://127.0.0.1:1" in capsys.readouterr().err
    assert not (setup / "out").exists()


def test_paths_are_relative_to_the_config_file(setup, monkeypatch):
    monkeypatch.chdir(setup / "model")
    cfg = mfit.load("../fit.toml")
    assert cfg.observed_file == str(setup / "obs.dat")
    assert cfg.output == str(setup / "out") and cfg.mcdata == str(setup / "model")


def test_composition_filler():
    x = modelfiles.composition([0.0] * 7 + [0.3, 0, 0, 0, 0.1, 0, 0.4, 0, 0.2], {"Si": 0.6}, "O")
    assert math.isclose(sum(x), 1.0) and x[13] == 0.6 and math.isclose(x[7], 0.1)
    with pytest.raises(ValueError, match="filler O"):
        modelfiles.composition([0.0] * 7 + [0.3, 0, 0, 0, 0.1, 0, 0.4, 0, 0.2], {"Si": 0.8}, "O")


def test_edlen_air_vacuum():
    # Standard air: 5000.000 A in vacuum is 4998.605 A in air; below 2000 A nothing changes.
    assert abs(vacuum_to_air(5000.0) - 4998.605) < 0.002
    w = np.array([1900.0, 3000.0, 6562.8, 9000.0])
    assert np.allclose(vacuum_to_air(air_to_vacuum(w)), w, atol=1e-9, rtol=0)
    assert air_to_vacuum(1900.0) == 1900.0


def test_chi2_hand_worked():
    # Model bins at 4000..4099 A (log-uniform); observed: 3 points per bin, flux 1.1 x model
    # in alternating points so a bin mean is exact, errors 0.02; floor 0.1.
    mw = 4000.0 * 1.001 ** np.arange(100)
    spct = np.zeros((100, 6))
    spct[:, 0], spct[:, 1] = mw, 2.0
    ow = np.concatenate([mw * 0.9997, mw, mw * 1.0003])
    obs = objective.Observed(ow, np.full(ow.size, 2.2), np.full(ow.size, 0.02),
                             [(4010.0, 4300.0)], 0.1)
    chi2, n = objective.chi2(spct, obs)
    inside = ((mw >= 4010) & (mw <= 4300)).sum()
    # per bin: (0.2)^2 / (0.02^2 / 3 + 0.22^2)
    assert n == inside
    assert math.isclose(chi2, inside * 0.04 / (0.0004 / 3 + 0.0484), rel_tol=1e-12)
    spct[5, 1] = np.nan
    with pytest.raises(ValueError, match="not finite"):
        objective.chi2(spct, obs)


def test_failing_models_do_not_stop_the_fit(setup):
    fake = Fake(fail_vph=11500.0)
    s = run(setup, fake)
    rows = [r.split("\t") for r in (setup / "out" / "evaluations.tsv").read_text().splitlines()]
    head, rows = rows[0], rows[1:]
    failed = [r for r in rows if r[head.index("status")] == "failed"]
    assert len(rows) == 30 and 0 < len(failed) < 30
    assert all("photosphere above the outer edge" in r[head.index("message")] for r in failed)
    assert all(r[head.index("chi2")] == "inf" for r in failed)
    assert s["best"]["parameters"]["VPH"] <= 11500.0 and s["failed"] == len(failed)
    assert (setup / "out" / "chi2.png").stat().st_size > 5000
    assert (setup / "out" / "parameters.png").stat().st_size > 5000


def test_infeasible_composition_is_recorded_without_a_run(setup):
    fake = Fake()
    run(setup, fake, CONFIG.replace("[fit]", '[overrides]\n"X(S)" = 0.4\n[fit]'))
    text = (setup / "out" / "evaluations.tsv").read_text()
    n_inf = text.count("\tinfeasible\t")
    assert n_inf > 0 and "filler O" in text
    assert fake.calls == 30 - n_inf


def test_resume_after_interrupt(setup, tmp_path_factory):
    whole = Fake()
    ref = run(setup, whole)
    ref_rows = (setup / "out" / "evaluations.tsv").read_text().splitlines()
    (setup / "out").rename(setup / "out-whole")

    with pytest.raises(KeyboardInterrupt):
        run(setup, Fake(interrupt_after=13))
    table = setup / "out" / "evaluations.tsv"
    # An interrupt while a record was written leaves a cut line: it is dropped and redone.
    with open(table, "a") as f:
        f.write("14\t9.5\t1")
    again = Fake()
    s = run(setup, again)
    assert again.calls == 30 - 13
    assert s["from_table"] == 13
    assert sorted(table.read_text().splitlines()) == sorted(ref_rows)
    assert s["best"]["parameters"] == ref["best"]["parameters"]
    # A different configuration may not reuse the directory.
    (setup / "fit.toml").write_text(CONFIG.replace("seed = 3", "seed = 4"))
    with pytest.raises(mfit.ConfigError, match="different configuration"):
        mfit.fit(mfit.load(str(setup / "fit.toml")), engine=SerialEngine(), run_fn=Fake())
    assert json.loads((setup / "out" / "best.json").read_text())["evaluations"] == 30


def test_warm_start_from_the_nearest_model_of_earlier_generations(setup):
    fake = Fake(fail_vph=11500.0)
    run(setup, fake)
    lines = (setup / "out" / "evaluations.tsv").read_text().splitlines()
    head = lines[0].split("\t")
    rows = [dict(zip(head, ln.split("\t"))) for ln in lines[1:]]
    scale = [0.5, 6000.0, 0.6]
    names = ["LOGLS", "VPH", "X(Si)"]
    beyond = False
    for r in rows:
        ev, gen = int(r["eval"]), (int(r["eval"]) - 1) // 9   # 9 vectors a generation
        earlier = [o for o in rows if (int(o["eval"]) - 1) // 9 < gen and o["status"] == "ok"]
        dist = lambda o: sum(((float(r[n]) - float(o[n])) / s) ** 2 for n, s in zip(names, scale))  # noqa: E731
        want = min(earlier, default=None, key=lambda o: (dist(o), int(o["eval"])))
        if want and dist(want) > 3 * 0.1 ** 2:   # beyond warm_radius (rms 0.1): cold
            want, beyond = None, True
        assert r["warm_from"] == (want["eval"] if want else ""), ev
        assert fake.warm[ev] == (field(want["eval"]) if want else None), ev
    assert beyond and 0 < sum(r["warm_from"] != "" for r in rows) < len(rows) - 9
    # Without warm starts every run starts cold.
    cold = Fake()
    run(setup, cold, CONFIG.replace('output = "out"', 'output = "out2"\nwarm_start = false'))
    assert set(cold.warm.values()) == {None}


def test_budget_counts_evaluations_not_repeated_vectors(setup):
    # A generation that repeats a vector: max_evaluations = 3 gives three models, not two.
    from mcspec.fit.search import BudgetSpent, Fit
    cfg = mfit.load(str(setup / "fit.toml"))
    cfg.max_evaluations = 3
    (setup / "out").mkdir()
    fit = Fit(cfg, SerialEngine(), str(setup / "out"), run_fn=Fake(), log=lambda s: None)
    a, b, c, d = ([9.5, v, 0.4] for v in (8000.0, 9000.0, 10000.0, 11000.0))
    assert len(fit.evaluate([a, a])) == 2 and len(fit.table.rows) == 1
    with pytest.raises(BudgetSpent):
        fit.evaluate([b, a, c, d])
    assert len(fit.table.rows) == 3


def test_interrupted_fit_keeps_only_the_best_run(setup):
    class Keeping(Fake):  # keeps a model's directory while it beats the best its worker knew
        def __call__(self, task):
            d = os.path.join(task["run_root"], f"eval-{task['index']}")
            os.makedirs(d)  # the interrupt comes after the model kept its directory, before its record
            rec = super().__call__(task)
            if rec["chi2"] < task["keep_below"]:
                rec["run_dir"] = d
            else:
                os.rmdir(d)
            return rec
    with pytest.raises(KeyboardInterrupt):
        run(setup, Keeping(interrupt_after=13))
    best = min((r for r in mfit.search.Table(str(setup / "out" / "evaluations.tsv"), ["LOGLS", "VPH", "X(Si)"]).rows),
               key=lambda r: r["chi2"])
    assert os.listdir(setup / "out" / "runs") == [os.path.basename(best["run_dir"])]


# Zone 2 sums to 2 (the program normalises it): its O is 0.25, its Si 0.5 of the zone.
ZONES = "# three zones\nv_outer O Si Fe\n9000 0.1 0.2 0.7\n12000 0.5 1.0 0.5\n20000 0.9 0.1 0\n"
ZONES_CONFIG = FIT_CONFIG.replace('VPH = [7000.0, 13000.0]\n"X(Si)" = [0.1, 0.7]', '"X(Si)@2" = [0.1, 0.7]')


@pytest.fixture
def model(tmp_path):
    return fit_dir(tmp_path, ZONES_CONFIG, zones=ZONES)


def test_zone_fraction_files(model):
    (model / "fit.toml").write_text(ZONES_CONFIG.replace("[fit]", '[overrides]\n"X(Ni56)@3" = 0.2\n[fit]'))
    f = Fit(mfit.load(str(model / "fit.toml")), SerialEngine(), str(model), run_fn=None)
    files = f.files_for((9.5, 0.6))
    assert "comp.ind" not in files
    (model / "zones.dat").write_text(files["zones.dat"])
    z = mcspec.read_zones(model / "zones.dat")
    assert list(z.fractions) == ["O", "Si", "Fe", "Ni56"] and list(z.v_outer) == [9000, 12000, 20000]
    # zone 2: Si set, Fe as normalised, O takes up the rest; zone 3: Ni56 added, O fills.
    assert [z.fractions[c][1] for c in ("O", "Si", "Fe", "Ni56")] == pytest.approx([0.15, 0.6, 0.25, 0])
    assert [z.fractions[c][2] for c in ("O", "Si", "Fe", "Ni56")] == pytest.approx([0.7, 0.1, 0, 0.2])
    assert [z.fractions[c][0] for c in ("O", "Si", "Fe", "Ni56")] == [0.1, 0.2, 0.7, 0.0]  # untouched


@pytest.mark.parametrize("change, message", [
    (('"X(Si)@2"', '"X(Si)@4"'), "zones 1..3 (1 innermost), not 4"),
    (('"X(Si)@2"', '"X(Si)"'), "name the zone of a mass fraction"),
    (('"X(Si)@2"', '"X(Xx)@2"'), "unknown column 'Xx'"),
    (('"X(Si)@2"', '"X(O)@2"'), "filler element cannot be a fitted parameter"),
    (('"X(Si)@2" = [0.1, 0.7]', '"X(Si)@2" = [0.6, 0.7]\n"X(Fe)@2" = [0.5, 0.9]'), "in zone 2 the mass fractions"),
    (("[fit]", "[composition]\nfiller = \"Ni57\"\n[fit]"), "filler: unknown element 'Ni57'"),
])
def test_zone_config_refused(model, change, message):
    (model / "fit.toml").write_text(ZONES_CONFIG.replace(*change, 1))
    with pytest.raises(mcspec.ConfigError, match=message.replace("(", r"\(").replace(")", r"\)")):
        mfit.load(str(model / "fit.toml"))


def test_composition_files_refused(model):
    (model / "model" / "comp.ind").write_text("  8 O  1.0\n")
    with pytest.raises(mcspec.ConfigError, match="both zones.dat and comp.ind"):
        mfit.load(str(model / "fit.toml"))
    (model / "model" / "zones.dat").unlink()
    with pytest.raises(mcspec.ConfigError, match="not zones.dat"):
        mfit.load(str(model / "fit.toml"))
