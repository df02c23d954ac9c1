"""Fitting an observed spectrum with the program: `python3 -m mcspec fit CONFIG.toml`.

The configuration (docs/fitting.md) names a starting model, an observed spectrum with fit
windows, the parameters to vary with their bounds, and the search. Models run on a Dask
cluster, local or at a scheduler address; results go to a new output directory. A
configuration with [[epoch]] tables fits a spectral sequence with one layered model
(mcspec.fit.sequence).
"""
from __future__ import annotations

import argparse
import json
import math
import os
import shutil
import sys
import time

from ..errors import McspecError
from .config import Config, ConfigError, load

__all__ = ["Config", "ConfigError", "load", "fit", "main"]

STATE = "fit-state.json"


def prepare_state(out: str, fp: str, config_path: str) -> bool:
    """Create the output directory, or accept it for a resume when it holds a fit of the same
    configuration (fingerprint fp). Returns True when resuming."""
    state = os.path.join(out, STATE)
    if os.path.exists(out):
        try:
            with open(state) as f:
                old = json.load(f)
        except (OSError, ValueError):
            raise ConfigError(f"{config_path}: [fit] output: {out} exists and is not the output "
                              f"of a fit; choose a new directory") from None
        if old.get("fingerprint") != fp:
            raise ConfigError(f"{config_path}: [fit] output: {out} holds a fit of a different "
                              f"configuration (or changed input files); choose a new "
                              f"directory")
        return True
    os.makedirs(out)
    shutil.copyfile(config_path, os.path.join(out, "config.toml"))
    tmp = state + ".tmp"
    with open(tmp, "w") as f:
        json.dump({"fingerprint": fp, "config": config_path}, f)
    os.replace(tmp, state)
    return False


def prepare_output(cfg: Config) -> bool:
    """prepare_state for a single-spectrum fit."""
    return prepare_state(cfg.output, cfg.fingerprint(), cfg.path)


def write_results(fit, elapsed: float, n_workers: int, startup: float = 0.0) -> dict:
    """best.json, best_spectrum.tsv, the plots; returns the summary dict."""
    from . import objective, plots
    cfg, out, rows = fit.cfg, fit.out_dir, fit.table.rows
    best = fit.best
    new = [r for r in rows if r["eval"] >= fit.first_new_eval and r["status"] != "infeasible"]
    prog = sum(r["program_s"] for r in new)
    wall = sum(r["wall_s"] for r in new)
    summary = {
        "evaluations": len(rows),
        "failed": sum(r["status"] != "ok" for r in rows),
        "from_table": fit.resumed,
        "session": {"evaluations": len(new), "elapsed_s": elapsed, "startup_s": startup,
                    "workers": n_workers,
                    "evaluations_per_hour": len(new) / elapsed * 3600 if elapsed > 0 else 0,
                    "outside_program_in_tasks": 1 - prog / wall if wall > 0 else None,
                    "outside_program_of_worker_time":
                        1 - prog / (elapsed * n_workers) if elapsed > 0 and n_workers else None},
        "best": None,
    }
    if best is not None:
        spct = fit.spectra.get(best["eval"])
        if spct is None and best["run_dir"]:
            from ..outputs import read_spct
            try:
                spct = read_spct(os.path.join(best["run_dir"], "spct.dat"))
            except McspecError:
                spct = None
        summary["best"] = {"eval": best["eval"],
                           "parameters": {n: best[n] for n in cfg.names},
                           "chi2": best["chi2"], "nbins": best["nbins"],
                           "chi2_per_bin": best["chi2"] / best["nbins"],
                           "run_dir": best["run_dir"]}
        if spct is not None:
            summary["best"]["band_ratios"] = [
                {"band": [lo, hi], "model_over_observed": r}
                for lo, hi, r in objective.band_ratios(spct, fit.observed, cfg.dereddened)]
            use, obs, var = fit.observed.bin_to(spct[:, 0])
            col = objective.COL_FORMAL if cfg.dereddened else objective.COL_FORMAL_REDDENED
            with open(os.path.join(out, "best_spectrum.tsv"), "w") as f:
                f.write("wavelength_A\tmodel\tobserved\tsigma\n")
                for i, o, v in zip(use, obs, var):
                    f.write(f"{spct[i, 0]!r}\t{spct[i, col]!r}\t{o!r}\t{math.sqrt(v)!r}\n")
            plots.best_fit(os.path.join(out, "best_fit.png"), spct, fit.observed,
                           cfg.dereddened,
                           f"eval {best['eval']}: χ² = {best['chi2']:.4g} over "
                           f"{best['nbins']} bins; " + ", ".join(
                               f"{n} = {best[n]:.4g}" for n in cfg.names))
    plots.history(os.path.join(out, "chi2.png"), rows)
    plots.parameters(os.path.join(out, "parameters.png"), rows, cfg.names, cfg.bounds)
    tmp = os.path.join(out, "best.json.tmp")
    with open(tmp, "w") as f:
        json.dump(summary, f, indent=2)
    os.replace(tmp, os.path.join(out, "best.json"))
    return summary


def fit(cfg: Config, engine=None, run_fn=None, log=None) -> dict:
    """Run (or resume) the fit of a loaded configuration; returns the summary."""
    from .engine import Engine, run_model
    from .search import Fit, NoModelSucceeded
    log = log or (lambda s: print(s, file=sys.stderr, flush=True))
    if engine is None:
        engine = Engine(cfg.scheduler, cfg.workers, cfg.retries, log=log, tls=cfg.tls)
    t_start = time.time()
    with engine:   # connected first: a cluster out of reach leaves no output directory
        created = not prepare_output(cfg)
        f = Fit(cfg, engine, cfg.output, run_fn=run_fn or run_model, log=log)
        f.first_new_eval = f.next_index
        t0 = time.time()   # worker time counts from here; cluster start-up is apart
        try:
            f.run()
        except NoModelSucceeded:
            if created:   # nothing worth keeping; the corrected configuration may use it
                shutil.rmtree(cfg.output, ignore_errors=True)
            raise
        elapsed = time.time() - t0
        n_workers = getattr(engine, "n_workers", 1)
    return write_results(f, elapsed, n_workers, t0 - t_start)


def summary_line(cfg: Config, s: dict) -> str:
    b = s["best"]
    if b is None:
        return (f"{cfg.output}: no model succeeded in {s['evaluations']} evaluations "
                f"({s['failed']} failed)")
    params = " ".join(f"{n}={v:.5g}" for n, v in b["parameters"].items())
    return (f"{cfg.output}: best chi2 {b['chi2']:.5g} over {b['nbins']} bins "
            f"(chi2/bin {b['chi2_per_bin']:.4g}) at {params}; eval {b['eval']} of "
            f"{s['evaluations']} ({s['failed']} failed, {s['from_table']} from the table); "
            f"run {b['run_dir'] or '(removed)'}")


def main(argv=None) -> int:
    """`python3 -m mcspec fit CONFIG.toml [--scheduler ADDRESS]`; exits 2 on a bad
    configuration, input or cluster, 3 when no model succeeded, 130 when interrupted (run
    again to resume)."""
    p = argparse.ArgumentParser(prog="python3 -m mcspec fit",
                                description="Fit an observed spectrum, or a spectral sequence "
                                            "with one layered model (a configuration with "
                                            "[[epoch]] tables); see docs/fitting.md.")
    p.add_argument("config", help="the fit configuration (TOML)")
    p.add_argument("--scheduler", help="a Dask scheduler address; overrides [cluster] scheduler")
    a = p.parse_args(argv)
    from .search import NoModelSucceeded
    from .sequence import Sequence, fit_sequence, summary_line as sequence_line
    try:
        cfg = load(a.config)
        target = cfg.base if isinstance(cfg, Sequence) else cfg
        if a.scheduler is not None:
            target.scheduler = a.scheduler
        if isinstance(cfg, Sequence):
            s = fit_sequence(cfg)
            print(sequence_line(cfg, s))
            return 0
        s = fit(cfg)
    except NoModelSucceeded as e:
        print(f"mcspec fit: {e}", file=sys.stderr)
        raise SystemExit(3)
    except (McspecError, OSError, ValueError) as e:
        print(f"mcspec fit: {e}", file=sys.stderr)
        raise SystemExit(2)
    except KeyboardInterrupt:
        print("mcspec fit: interrupted; run the same command again to resume", file=sys.stderr)
        raise SystemExit(130)
    print(summary_line(cfg, s))
    if s["best"] is None:
        raise SystemExit(3)
    return 0
