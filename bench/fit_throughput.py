#!/usr/bin/env python3
"""Fit throughput: the same small fit of SN 2011fe at maximum (LOGLS, VPH, X(Si) free, NP4 = 1,
fixed seed and budget) run cold, with warm starts, and with warm starts and a packet ramp, one
after the other through the public command (python3 -m mcspec fit). Reports per configuration
the evaluations per hour, the mean temperature passes per model, the mean program time per
model and the best chi^2 reached, and their ratios to the cold fit.

    PYTHONPATH=python /usr/bin/python3 bench/fit_throughput.py [--evaluations 24] [--popsize 2]
        [--ramp 0.25] [--seed 1] [--workers 2] [--mcdata DIR] [--binary PATH] [--keep DIR]

The first generation (popsize x 3 models) always starts cold; later ones start from the
nearest model of the earlier generations. Other work on the machine slows every figure:
the load average is reported; the passes per model do not depend on it.
"""
from __future__ import annotations

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CONFIG = """
[model]
dir = "{model}"
mcdata = "{mcdata}"
binary = "{binary}"
[observed]
file = "{observed}"
windows = [[3500.0, 9000.0]]
[parameters]
LOGLS = [9.3, 9.8]
VPH = [7000.0, 13000.0]
"X(Si)" = [0.1, 0.7]
[overrides]
NP4 = 1
[fit]
max_evaluations = {evaluations}
popsize = {popsize}
seed = {seed}
output = "{output}"
warm_start = {warm}
packet_ramp = {ramp}
[cluster]
workers = {workers}
"""


def run_fit(work, name, args, warm, ramp):
    out = os.path.join(work, name)
    cfg = os.path.join(work, name + ".toml")
    with open(cfg, "w") as f:
        f.write(CONFIG.format(
            model=os.path.join(REPO, "examples", "sn2011fe-max"), mcdata=args.mcdata,
            binary=args.binary,
            observed=os.path.join(REPO, "data", "observed",
                                  "SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat"),
            evaluations=args.evaluations, popsize=args.popsize, seed=args.seed, output=out,
            warm="true" if warm else "false", ramp=ramp, workers=args.workers))
    env = dict(os.environ, PYTHONPATH=os.path.join(REPO, "python"))
    subprocess.run([sys.executable, "-m", "mcspec", "fit", cfg], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(out, "best.json")) as f:
        best = json.load(f)
    with open(os.path.join(out, "evaluations.tsv")) as f:
        head, *rows = [ln.rstrip("\n").split("\t") for ln in f]
    rows = [dict(zip(head, r)) for r in rows if r[head.index("status")] == "ok"]
    n = max(len(rows), 1)
    warm_rows = [r for r in rows if r["warm_from"]]
    return {"name": name,
            "per_hour": best["session"]["evaluations_per_hour"],
            "passes": sum(int(r["passes"]) for r in rows) / n,
            "passes_warm": (sum(int(r["passes"]) for r in warm_rows) / len(warm_rows)
                            if warm_rows else float("nan")),
            "program_s": sum(float(r["program_s"]) for r in rows) / n,
            "chi2": best["best"]["chi2"] if best["best"] else float("inf"),
            "evaluations": best["evaluations"], "warm": len(warm_rows)}


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--evaluations", type=int, default=24)
    p.add_argument("--popsize", type=int, default=2)
    p.add_argument("--ramp", type=float, default=0.25)
    p.add_argument("--seed", type=int, default=1, help="seed of the optimiser")
    p.add_argument("--workers", type=int, default=2)
    p.add_argument("--mcdata", default=os.environ.get("MCDATA", os.path.join(REPO, "build", "mcdata")))
    p.add_argument("--binary", default=os.environ.get("MCSPEC_BINARY",
                                                      os.path.join(REPO, "build", "mcspec")))
    p.add_argument("--keep", help="keep the fits' output directories here")
    args = p.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="mcspec-fit-bench-")
    os.makedirs(work, exist_ok=True)
    print(f"load average before: {open('/proc/loadavg').read().split()[:3]} ({os.cpu_count()} cores)")
    try:
        res = [run_fit(work, "cold", args, False, 1.0),
               run_fit(work, "warm", args, True, 1.0),
               run_fit(work, f"warm+ramp{args.ramp:g}", args, True, args.ramp)]
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"load average after: {open('/proc/loadavg').read().split()[:3]}")
    cold = res[0]
    print(f"{'fit':<16}{'evals':>6}{'warm':>6}{'evals/h':>9}{'x cold':>8}{'passes':>8}"
          f"{'(warm)':>8}{'x cold':>8}{'prog s':>8}{'best chi2':>11}{'x cold':>8}")
    for r in res:
        print(f"{r['name']:<16}{r['evaluations']:>6}{r['warm']:>6}{r['per_hour']:>9.0f}"
              f"{r['per_hour'] / cold['per_hour']:>8.2f}{r['passes']:>8.2f}{r['passes_warm']:>8.2f}"
              f"{r['passes'] / cold['passes']:>8.2f}{r['program_s']:>8.2f}{r['chi2']:>11.5g}"
              f"{r['chi2'] / cold['chi2']:>8.3f}")


if __name__ == "__main__":
    main()
