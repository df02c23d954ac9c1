"""The fit with the program: a real Dask cluster on 127.0.0.1 (a scheduler and two workers
started here, one killed in the middle of the fit), and injection and recovery of LOGLS, VPH
and X(Si) from a synthetic spectrum made by the program. Small models (10000 packets, 8 shells,
400 bins) keep each run near one second."""
import math
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

pytestmark = pytest.mark.slow

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
SHARED = os.environ.get("MCSPEC_SHARED_DIR", os.path.join(os.path.dirname(ROOT), "shared"))

BINARY = os.path.abspath(os.environ.get("MCSPEC_BINARY", os.path.join(ROOT, "build", "mcspec")))
EXAMPLE = os.path.join(SHARED, "examples", "sn-ia-max")
MCDATA = os.path.join(SHARED, "mcdata")
OBSERVED = os.path.join(SHARED, "observed", "SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat")
TINY = {"NP4": 1, "ITT": 2, "JS": 8, "WVM1": 0.3, "KG": 400}


@pytest.fixture(autouse=True)
def needs():
    if not os.path.isdir(EXAMPLE) or not os.path.isfile(OBSERVED):
        pytest.skip(f"shared example or observed spectrum absent ({SHARED})")
    if not os.access(BINARY, os.X_OK):
        pytest.skip(f"program not built ({BINARY})")


def env():
    e = dict(os.environ)
    e["PYTHONPATH"] = os.pathsep.join(
        [os.path.join(ROOT, "python")] + [p for p in [e.get("PYTHONPATH")] if p])
    return e


def config(path, observed, params, output, extra="", overrides=TINY, noise_floor=0.1,
           windows="[[3500.0, 9000.0]]"):
    ov = "\n".join(f'"{k}" = {v}' for k, v in overrides.items())
    pars = "\n".join(f'"{k}" = [{lo}, {hi}]' for k, (lo, hi) in params.items())
    path.write_text(f"""
[model]
dir = "{EXAMPLE}"
mcdata = "{MCDATA}"
binary = "{BINARY}"
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


def test_cluster_on_localhost_survives_a_dead_worker(tmp_path):
    procs = []

    def start(*args):
        # TMPDIR: the run directory left by the killed worker stays in the test's directory.
        p = subprocess.Popen(args, cwd=tmp_path, env=dict(env(), TMPDIR=str(tmp_path)),
                             stdout=subprocess.DEVNULL,
                             stderr=open(tmp_path / f"log{len(procs)}.txt", "w"),
                             start_new_session=True)
        procs.append(p)
        return p

    sched_file = tmp_path / "scheduler.json"
    try:
        start(sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
              "--port", "0", "--no-dashboard", "--scheduler-file", str(sched_file))
        for _ in range(300):
            if sched_file.exists() and sched_file.stat().st_size > 0:
                break
            time.sleep(0.1)
        import json
        address = json.loads(sched_file.read_text())["address"]
        assert address.startswith("tcp://127.0.0.1:")
        workers = [start(sys.executable, "-m", "distributed.cli.dask_worker", address,
                         "--host", "127.0.0.1", "--nthreads", "1", "--nworkers", "1",
                         "--no-dashboard", "--name", f"w{i}") for i in (1, 2)]
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
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
        for p in procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)


def run_program(directory, overrides, fractions=None):
    """One run of the program on the example with dica values and mass fractions changed."""
    from mcspec.fit import modelfiles
    from mcspec import read_spct
    os.makedirs(directory)
    dica = modelfiles.Dica(open(os.path.join(EXAMPLE, "dica.dat")).read())
    for k, v in overrides.items():
        dica.set(k, v)
    comp = modelfiles.read_comp(open(os.path.join(EXAMPLE, "comp.ind")).read())
    x = modelfiles.composition(comp, fractions or {}, "O")
    open(os.path.join(directory, "dica.dat"), "w").write(dica.text())
    open(os.path.join(directory, "comp.ind"), "w").write(modelfiles.comp_text(x))
    subprocess.run([BINARY], cwd=directory, check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, MCDATA=MCDATA, MCSPEC_THREADS="1"))
    return read_spct(os.path.join(directory, "spct.dat"))


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
    import json
    best = json.loads((tmp_path / "out" / "best.json").read_text())["best"]
    report = ", ".join(f"{n} {best['parameters'][n]:.4g} (truth {truth[n]}, tolerance "
                       f"{tol[n]:.3g})" for n in truth)
    print(f"injection: seed noise {noise:.4f}; {report}; {time.time() - t0:.0f} s")
    for n in truth:
        assert abs(best["parameters"][n] - truth[n]) <= tol[n], report


def test_tls_cluster_refuses_a_client_without_the_certificate(tmp_path):
    """The secure commands of docs/fitting.md on 127.0.0.1, with a CA and a certificate made
    here: the fit's engine with the certificate runs a task; without it, or with a
    certificate the CA did not sign, it is refused."""
    import json
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
    procs = []
    try:
        for args in (["distributed.cli.dask_scheduler", "--protocol", "tls", "--host",
                      "127.0.0.1", "--port", "0", "--no-dashboard", "--scheduler-file", "s.json"],
                     ["distributed.cli.dask_worker", "--scheduler-file", "s.json", "--nthreads",
                      "1", "--no-dashboard"]):
            procs.append(subprocess.Popen([sys.executable, "-m", *args, *tls], cwd=tmp_path,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                          start_new_session=True))
            for _ in range(600):
                if (tmp_path / "s.json").exists() and (tmp_path / "s.json").stat().st_size:
                    break
                time.sleep(0.1)
        address = json.loads((tmp_path / "s.json").read_text())["address"]
        assert address.startswith("tls://127.0.0.1:")
        files = lambda name: tuple(str(tmp_path / f) for f in ("ca.pem", name + ".pem", name + ".key"))  # noqa: E731
        with Engine(address, tls=files("node"), log=lambda s: None) as e:
            assert [r for _, r in e.map(dict, [{"index": 7}])] == [{"index": 7}]
        for tls in (None, files("other")):
            with pytest.raises(RunError, match="cannot connect to the Dask scheduler"):
                Engine(address, tls=tls, log=lambda s: None).__enter__()
    finally:
        for p in procs:
            os.killpg(p.pid, signal.SIGTERM)
            p.wait(timeout=30)
