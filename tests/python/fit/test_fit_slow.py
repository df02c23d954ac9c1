"""The fit with the program: a real Dask cluster on 127.0.0.1 (a scheduler and two workers
started here, one killed in the middle of the fit), and injection and recovery of LOGLS, VPH
and X(Si) from a synthetic spectrum made by the program. Small models (10000 packets, 8 shells,
400 bins) keep each run near one second. A warm start does not bias the spectrum: the type Ia
example started from the radiation field of a neighbouring model (LOGLS +0.05, VPH -5 %) and
started cold, six seeds each, gives band fluxes whose means agree within their seed-to-seed
scatter."""

import json
import math
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from scipy import stats

import mcspec
from mcspec.fit import modelfiles
from mcspec.io import read_spct

from conftest import REPO, SHARED

pytestmark = pytest.mark.slow

EXAMPLE = SHARED / "examples" / "sn-ia-max"
MCDATA = SHARED / "mcdata"
OBSERVED = SHARED / "observed" / "SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat"
TINY = {"NP4": 1, "ITT": 2, "JS": 8, "WVM1": 0.3, "KG": 400}


@pytest.fixture(autouse=True)
def needs(binary):
    if not EXAMPLE.is_dir() or not OBSERVED.is_file():
        pytest.skip(f"shared example or observed spectrum absent ({SHARED})")


def env():
    return dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(REPO / "python")] + [p for p in [os.environ.get("PYTHONPATH")] if p]))


@pytest.fixture
def dask(tmp_path):
    """dask("scheduler"|"worker", *args): a Dask process in tmp_path (its run directories
    too); the scheduler's call returns its address (from s.json). All end with the test."""
    procs = []

    def start(kind, *args, name=None):
        procs.append(subprocess.Popen(
            [sys.executable, "-m", f"distributed.cli.dask_{kind}", "--no-dashboard", *args],
            cwd=tmp_path, env=dict(env(), TMPDIR=str(tmp_path)), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True))
        if kind == "worker":
            return procs[-1]
        sched = tmp_path / "s.json"
        for _ in range(600):
            if sched.exists() and sched.stat().st_size:
                return json.loads(sched.read_text())["address"]
            time.sleep(0.1)
        raise AssertionError("no scheduler file")
    yield start
    for p in reversed(procs):
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGTERM)
    for p in procs:
        try:
            p.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)


def config(path, observed, params, output, extra="", overrides=TINY, noise_floor=0.1,
           windows="[[3500.0, 9000.0]]"):
    ov = "\n".join(f'"{k}" = {v}' for k, v in overrides.items())
    pars = "\n".join(f'"{k}" = [{lo}, {hi}]' for k, (lo, hi) in params.items())
    path.write_text(f"""
[model]
dir = "{EXAMPLE}"
mcdata = "{MCDATA}"
binary = "{mcspec.find_binary()}"
[observed]
file = "{observed}"
windows = {windows}
noise_floor = {noise_floor}
[parameters]
{pars}
[overrides]
{ov}
[fit]
output = "{output}"
{extra}
""")


def test_cluster_on_localhost_survives_a_dead_worker(tmp_path, dask):
    address = dask("scheduler", "--host", "127.0.0.1", "--port", "0", "--scheduler-file", "s.json")
    assert address.startswith("tcp://127.0.0.1:")
    workers = [dask("worker", address, "--host", "127.0.0.1", "--nthreads", "1", "--nworkers", "1",
                    "--name", f"w{i}") for i in (1, 2)]
    config(tmp_path / "fit.toml", OBSERVED,
           {"LOGLS": (9.3, 9.8), "VPH": (8000.0, 12000.0)}, "out",
           "max_evaluations = 20\npopsize = 5\nseed = 2")
    fit = subprocess.Popen([sys.executable, "-m", "mcspec", "fit",
                            str(tmp_path / "fit.toml"), "--scheduler", address],
                           cwd=tmp_path, env=env(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    table = tmp_path / "out" / "evaluations.tsv"
    deadline = time.time() + 300
    while time.time() < deadline and fit.poll() is None:
        if table.exists() and len(table.read_text().splitlines()) > 5:
            break
        time.sleep(0.2)
    os.killpg(workers[1].pid, signal.SIGKILL)     # worker w2 and its nanny die mid-fit
    out, err = fit.communicate(timeout=600)
    assert fit.returncode == 0, err
    rows = [r.split("\t") for r in table.read_text().splitlines()]
    head, rows = rows[0], rows[1:]
    assert len(rows) == 20
    assert {r[head.index("status")] for r in rows} == {"ok"}, err
    names = [r[head.index("worker")] for r in rows]
    assert set(names) == {"w1", "w2"} and names[-1] == "w1"
    assert "best chi2" in out and os.path.isdir(out.split("run ")[-1].strip())


def run_program(directory, overrides, fractions=None):
    """One run of the program on the example with dica values and mass fractions changed."""
    from mcspec import read_comp, run
    from mcspec.fit import modelfiles
    x = modelfiles.composition(list(read_comp(os.path.join(EXAMPLE, "comp.ind"))), fractions or {}, "O")
    return run(example=EXAMPLE, comp=x, mcdata=MCDATA, workdir=directory, env={"MCSPEC_THREADS": "1"},
               **{k.lower(): v for k, v in overrides.items()}).spct


def test_injection_and_recovery(tmp_path):
    """A synthetic spectrum at known LOGLS, VPH, X(Si), made with other random seeds than the
    fit's, plus 1 % noise, is fitted from the bounds. The model's own noise decides the
    tolerances: s is the seed-to-seed scatter of the spectrum (relative rms over the window);
    the best model and the synthetic spectrum are two independent realisations, whose
    difference scatters by sqrt(2) s, so a parameter is recovered when it lies within the shift
    that changes the spectrum by 3 s rms (about 2 sigma of that difference). The response to a
    shift of 10 % of the range is measured on both sides and the weaker one taken (line
    saturation makes X(Si) respond less upwards)."""
    t0 = time.time()
    truth = {"LOGLS": 9.55, "VPH": 10500.0, "X(Si)": 0.45}
    bounds = {"LOGLS": (9.3, 9.8), "VPH": (8000.0, 13000.0), "X(Si)": (0.1, 0.7)}
    dica_truth = {**TINY, "LOGLS": truth["LOGLS"], "VPH": truth["VPH"]}
    seeds = [1234567, 2345671, 3456712, 4567123]
    spectra = [run_program(tmp_path / f"seed{s}", {**dica_truth, "ISEED": s},
                           {"Si": truth["X(Si)"]}) for s in seeds]
    w = spectra[0][:, 0]
    win = (w >= 3500) & (w <= 9000)
    f = np.array([s[win, 1] for s in spectra])
    noise = float(np.sqrt(np.mean((f.std(axis=0, ddof=1) / f.mean(axis=0)) ** 2)))
    base = run_program(tmp_path / "base", dica_truth, {"Si": truth["X(Si)"]})[win, 1]
    tol = {}
    for name, (lo, hi) in bounds.items():
        step, change = 0.1 * (hi - lo), []
        for sign in (-1, 1):
            shifted = dict(truth, **{name: truth[name] + sign * step})
            s = run_program(tmp_path / f"shift-{name}{sign:+d}",
                            {**TINY, "LOGLS": shifted["LOGLS"], "VPH": shifted["VPH"]},
                            {"Si": shifted["X(Si)"]})[win, 1]
            change.append(float(np.sqrt(np.mean(((s - base) / base) ** 2))))
        tol[name] = step * 3 * noise / min(change)
        assert tol[name] < 0.4 * (hi - lo), f"{name}: the spectrum hardly depends on it"

    rng = np.random.default_rng(5)
    obs = spectra[0][win]
    flux = obs[:, 1] * (1 + 0.01 * rng.standard_normal(obs.shape[0]))
    np.savetxt(tmp_path / "synthetic.dat", np.c_[obs[:, 0], flux, 0.01 * obs[:, 1]])
    config(tmp_path / "fit.toml", tmp_path / "synthetic.dat", bounds, "out",
           "max_evaluations = 150\npopsize = 5\nseed = 1\n[cluster]\nworkers = 2",
           noise_floor=round(noise, 4))
    r = subprocess.run([sys.executable, "-m", "mcspec", "fit", str(tmp_path / "fit.toml")],
                       cwd=tmp_path, env=env(),
                       capture_output=True, text=True, timeout=1200)
    assert r.returncode == 0, r.stderr
    best = json.loads((tmp_path / "out" / "best.json").read_text())["best"]
    report = ", ".join(f"{n} {best['parameters'][n]:.4g} (truth {truth[n]}, tolerance "
                       f"{tol[n]:.3g})" for n in truth)
    print(f"injection: seed noise {noise:.4f}; {report}; {time.time() - t0:.0f} s")
    for n in truth:
        assert abs(best["parameters"][n] - truth[n]) <= tol[n], report


def test_tls_cluster_refuses_a_client_without_the_certificate(tmp_path, dask):
    """The secure commands of docs/fitting.md on 127.0.0.1, with a CA and a certificate made
    here: the fit's engine with the certificate runs a task; without it, or with a
    certificate the CA did not sign, it is refused."""
    import shutil
    from mcspec.errors import RunError
    from mcspec.fit.engine import Engine
    if shutil.which("openssl") is None:
        pytest.skip("openssl is needed to make the certificates")

    def ssl(*args):
        subprocess.run(["openssl", *args], cwd=tmp_path, check=True, capture_output=True)
    key = ["-newkey", "rsa:2048", "-nodes", "-subj"]
    ssl("req", "-x509", "-days", "1", *key, "/CN=fit CA", "-keyout", "ca.key", "-out", "ca.pem")
    ssl("req", *key, "/CN=node", "-keyout", "node.key", "-out", "node.csr")
    ssl("x509", "-req", "-days", "1", "-in", "node.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "node.pem")
    ssl("req", "-x509", "-days", "1", *key, "/CN=other", "-keyout", "other.key",
        "-out", "other.pem")
    tls = ["--tls-ca-file", "ca.pem", "--tls-cert", "node.pem", "--tls-key", "node.key"]
    address = dask("scheduler", "--protocol", "tls", "--host", "127.0.0.1", "--port", "0",
                   "--scheduler-file", "s.json", *tls)
    dask("worker", "--scheduler-file", "s.json", "--nthreads", "1", *tls)
    assert address.startswith("tls://127.0.0.1:")
    files = lambda name: tuple(str(tmp_path / f) for f in ("ca.pem", name + ".pem", name + ".key"))  # noqa: E731
    with Engine(address, tls=files("node"), log=lambda s: None) as e:
        assert [r for _, r in e.map(dict, [{"index": 7}])] == [{"index": 7}]
    for tls in (None, files("other")):
        with pytest.raises(RunError, match="cannot connect to the Dask scheduler"):
            Engine(address, tls=tls, log=lambda s: None).__enter__()


def test_sequence_injection_and_recovery(tmp_path):
    """Three synthetic epochs of a known three-zone model (an oxygen zone above 12500 km/s, a
    silicon zone down to 10000, oxygen with some silicon down to 8000 km/s; X(Si) fitted in
    each zone, oxygen the filler), each made with other seeds
    than the fit's plus 1 % noise, are fitted stage by stage from the bounds. Tolerances as
    in test_injection_and_recovery: the shift of a parameter that changes the epoch's spectrum
    by 3 times its seed-to-seed scatter (rms over the window)."""
    from mcspec.fit import load, modelfiles
    t0 = time.time()
    days, vph, logl = (7.0, 12.0, 18.0), (12500.0, 10000.0, 8000.0), (9.1, 9.4, 9.5)
    labels = [f"{d:.1f}d" for d in days]
    epochs = "".join(f"""
[[epoch]]
file = "synthetic-{e}.dat"
day = {d}
windows = [[3500.0, 9000.0]]
LOGLS = [{lg - 0.15}, {lg + 0.15}]
VPH = [{v - 1200}, {v + 1000}]
""" for e, d, v, lg in zip(labels, days, vph, logl))
    ov = "\n".join(f'"{k}" = {v}' for k, v in TINY.items())
    text = f"""
[model]
dir = "{EXAMPLE}"
mcdata = "{MCDATA}"
binary = "{mcspec.find_binary()}"
{epochs}
[zones]
fractions = {{ Si = [0.0, 1.0] }}
filler = "O"
outer = []
[overrides]
{ov}
[fit]
first_stage_evaluations = 90
stage_evaluations = 90
joint_evaluations = 0
polish = 0.3
warm_start = false
popsize = 5
seed = 1
output = "out"
[cluster]
workers = 2
"""
    win_lo, win_hi = 3500.0, 9000.0
    for e in labels:   # placeholders for loading; replaced by the synthetic spectra below
        w = np.linspace(3000.0, 9500.0, 50)
        np.savetxt(tmp_path / f"synthetic-{e}.dat", np.c_[w, w * 0 + 1, w * 0 + 0.1])
    (tmp_path / "fit.toml").write_text(text)
    seq = load(str(tmp_path / "fit.toml"))
    truth = {"TSHIFT": 0.0, **{f"LOGLS@{e}": lg for e, lg in zip(labels, logl)},
             **{f"VPH@{e}": v for e, v in zip(labels, vph)},
             "Si@e1": 0.05, "Si@e2": 0.8, "Si@e3": 0.3}
    dominant = {"e1": ("O", "Si@e1", -1), "e2": ("Si", "Si@e2", 1), "e3": ("O", "Si@e3", -1)}
    bounds = dict(zip(labels, vph))

    def flux(k, values, seed, name):
        for attempt in range(3):   # 10000 packets may leave a shell unsampled: another seed
            d = tmp_path / f"{name}-{attempt}"
            d.mkdir()
            for fn, t in seq.files(k, values, bounds, 3).items():
                if fn == "dica.dat":
                    dd = modelfiles.Dica(t)
                    dd.set("ISEED", seed + attempt)
                    t = dd.text()
                (d / fn).write_text(t)
            r = subprocess.run([seq.base.binary], cwd=d, capture_output=True, text=True,
                               env=dict(os.environ, MCDATA=str(MCDATA), MCSPEC_THREADS="1"))
            if r.returncode == 0:
                break
        assert r.returncode == 0, r.stderr
        s = mcspec.read_spct(d / "spct.dat")
        return s[(s[:, 0] >= win_lo) & (s[:, 0] <= win_hi)]

    def rms(a, b):
        return float(np.sqrt(np.mean(((a - b) / b) ** 2)))

    rng = np.random.default_rng(5)
    tol, noises = {}, []
    for k, e in enumerate(labels, start=1):
        obs = flux(k, truth, 1234567, f"truth-{e}")
        other = flux(k, truth, 2345671, f"seed-{e}")[:, 1]
        noise = rms(other, obs[:, 1])
        base = flux(k, truth, 3456712, f"base-{e}")[:, 1]
        zone = f"e{k}"
        for name, step, hi in ((f"VPH@{e}", 300.0, math.inf), (dominant[zone][1], 0.1, 1.0)):
            response = []   # rms change of the spectrum per unit of the parameter
            for sign in (-1, 1):
                x = min(max(truth[name] + sign * step, 0.0), hi)
                response.append(rms(flux(k, {**truth, name: x}, 3456712, f"shift-{name}{sign:+d}")[:, 1],
                                    base) / abs(x - truth[name]))
            tol[name] = 3 * noise / min(response)
        np.savetxt(tmp_path / f"synthetic-{e}.dat",
                   np.c_[obs[:, 0], obs[:, 1] * (1 + 0.01 * rng.standard_normal(len(obs))),
                         0.01 * obs[:, 1]])
        noises.append(noise)
    (tmp_path / "fit.toml").write_text(text.replace(
        "[model]", f"[observed]\nnoise_floor = {max(noises):.4f}\n[model]"))
    r = subprocess.run([sys.executable, "-m", "mcspec", "fit", str(tmp_path / "fit.toml")],
                       cwd=tmp_path, env=env(), capture_output=True, text=True, timeout=1500)
    assert r.returncode == 0, r.stderr
    s = json.loads((tmp_path / "out" / "sequence.json").read_text())
    v = s["values"]
    zones = {z["zone"]: z["fractions"] for z in s["zones"]}
    truth_x = {z: seq.zone_fractions(truth, z) for z in zones}
    report = "; ".join(
        [f"VPH@{e} {v[f'VPH@{e}']:.0f} (truth {truth[f'VPH@{e}']:.0f} ± {tol[f'VPH@{e}']:.0f})"
         for e in labels] +
        [f"{z}: {el} {zones[z][el]:.3f} (truth {truth_x[z][el]:.3f} ± {max(tol[n], 0.05):.3f})"
         for z, (el, n, _) in dominant.items()])
    print(f"sequence injection: {report}; {time.time() - t0:.0f} s")
    for e in labels:
        assert abs(v[f"VPH@{e}"] - truth[f"VPH@{e}"]) <= tol[f"VPH@{e}"], report
    for z, (el, name, sign) in dominant.items():
        assert max(zones[z], key=zones[z].get) == el, report
        # A share's tolerance is in the share; the element's own fraction moves by at most as much.
        assert abs(zones[z][el] - truth_x[z][el]) <= max(tol[name], 0.05), report


BANDS = [(3500, 4500), (4500, 5500), (5500, 6500), (6500, 8000)]


def run(binary, path, seed, changes=None, warm=None):
    path.mkdir()
    d = modelfiles.Dica((EXAMPLE / "dica.dat").read_text())
    for k, v in {**TINY, "ISEED": seed, **(changes or {})}.items():
        d.set(k, v)
    (path / "dica.dat").write_text(d.text())
    (path / "comp.ind").write_text((EXAMPLE / "comp.ind").read_text())
    if warm is not None:
        (path / "warmstart.dat").write_text(warm)
    env = dict(os.environ, MCDATA=str(MCDATA), MCSPEC_QUIET="1",
               MCSPEC_THREADS="1")
    subprocess.run([str(binary)], cwd=path, env=env, check=True, stdout=subprocess.DEVNULL)
    s = read_spct(path / "spct.dat")
    return [s[(s[:, 0] >= lo) & (s[:, 0] < hi), 1].mean() for lo, hi in BANDS]


def test_warm_start_agrees_with_cold_within_the_seed_scatter(tmp_path, binary):
    d = modelfiles.Dica((EXAMPLE / "dica.dat").read_text())
    near = {"LOGLS": d.get("LOGLS") + 0.05, "VPH": 0.95 * d.get("VPH")}
    run(binary, tmp_path / "near", 99, near)
    field = (tmp_path / "near" / "radfield.dat").read_text()
    seeds = [1001, 2002, 3003, 4004, 5005, 6006]
    cold = np.array([run(binary, tmp_path / f"cold{s}", s) for s in seeds])
    warm = np.array([run(binary, tmp_path / f"warm{s}", s, warm=field) for s in seeds])
    # Difference of the means against its standard error from the scatter of both sets (a
    # t statistic with 10 degrees of freedom): a false alarm in any of the four bands has a
    # chance below 0.4 % (0.1 % per band, two-sided).
    se = np.sqrt(cold.var(axis=0, ddof=1) / len(seeds) + warm.var(axis=0, ddof=1) / len(seeds))
    t = np.abs(warm.mean(axis=0) - cold.mean(axis=0)) / se
    assert np.all(t < stats.t.ppf(1 - 0.0005, 2 * len(seeds) - 2)), \
        f"warm - cold in units of the standard error, per band: {t}"
