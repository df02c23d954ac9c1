"""The search: SciPy's differential evolution over the bounds of the fitted parameters, each
generation evaluated at once on the cluster (updating="deferred", workers = our map), with a
fixed seed. Every finished evaluation goes to the table; vectors the table already holds are
not run again, so an interrupted fit run again retraces its steps up to the interrupt from the
table and continues from there.

Warm starts ([fit] warm_start): every evaluation starts from the radiation field
(radfield.dat) of the nearest model, in parameters scaled by their bound ranges, among those of
the same epoch (DAY, when it is fitted) that had finished when its generation was submitted;
ties go to the lower evaluation number. A model farther than [fit] warm_radius starts cold. The
fields are kept in radfields/eval-NNNNNN.dat of the
output directory and the choices in radfields/choices.tsv as each generation is submitted, so
that a resumed fit starts the evaluations it submitted before from the same fields.
"""
from __future__ import annotations

import math
import os
import shutil
import sys
import time

from scipy.optimize import differential_evolution

from ..errors import McspecError, RunError
from . import modelfiles, objective
from .engine import run_model
from .results import Table

# chi^2 handed to the optimiser for a model that failed (a finite number keeps the
# population statistics of the optimiser finite).
FAILED_CHI2 = 1.0e30


class BudgetSpent(Exception):
    """Raised from the map when max_evaluations vectors have been evaluated."""


class NoModelSucceeded(McspecError):
    """Every model of the first generation failed: the rest would fail alike."""


def default_binary() -> str:
    from ..runner import find_binary
    return str(find_binary())


class Fit:
    def __init__(self, cfg, engine, out_dir: str, run_fn=run_model, log=None):
        self.cfg, self.engine, self.out_dir, self.run_fn = cfg, engine, out_dir, run_fn
        self.log = log or (lambda s: print(s, file=sys.stderr, flush=True))
        self.run_root = os.path.join(out_dir, "runs")
        self.table = Table(os.path.join(out_dir, "evaluations.tsv"), cfg.names)
        self.memo = self.table.memo()
        self.resumed = len(self.memo)
        best = self.table.best()
        self.best = best
        self.next_index = self.table.next_eval()
        self.spectra = {}   # eval -> spct array of evaluations finished in this session
        self.warm_dir = os.path.join(out_dir, "radfields")
        os.makedirs(self.warm_dir, exist_ok=True)
        self.choices = self._read_choices()

        self.dica = modelfiles.Dica(cfg.dica_text, os.path.join(cfg.model_dir, "dica.dat"))
        for name, v in cfg.overrides.items():
            if modelfiles.element_of(name) is None and modelfiles.zone_fraction_of(name) is None:
                self.dica.set(name, v)
        self.base_zones = None if cfg.zones_text is None else modelfiles.parse_zones(cfg.zones_text)
        self.base_comp = modelfiles.read_comp(cfg.comp_text) if self.base_zones is None else None
        z = cfg.redshift if cfg.redshift is not None else self.dica.get("ZRED")
        self.observed = objective.Observed.from_file(
            cfg.observed_file, cfg.windows, cfg.noise_floor, cfg.wavelengths, cfg.frame, z)
        self.binary = cfg.binary or default_binary()
        if not os.access(self.binary, os.X_OK):
            raise RunError(f"the program {self.binary} does not exist or cannot be run; build it "
                           f"(make build) or set MCSPEC_BINARY or [model] binary")
        self.started = time.time()
        self.new_evals = 0
        self.vectors_seen = 0   # vectors handed over by the optimiser (memoised ones too)
        self.generations = 0
        self.x0 = None          # a vector of the first generation (a sequence's stages set it)
        # Evaluations the current phase may reach: the search's share, then all (the polish).
        self.limit = cfg.max_evaluations - int(round(cfg.polish * cfg.max_evaluations))
        self.prune_runs()

    def prune_runs(self):
        """Remove the run directories of models that are not the best one (left by an
        interrupted fit: a worker keeps its model while it is better than the best it knew)."""
        if self.cfg.keep_runs or not os.path.isdir(self.run_root):
            return
        keep = os.path.abspath(self.best["run_dir"]) if self.best and self.best["run_dir"] else None
        for name in os.listdir(self.run_root):
            p = os.path.join(self.run_root, name)
            if os.path.isdir(p) and os.path.abspath(p) != keep:
                shutil.rmtree(p, ignore_errors=True)

    # -- one parameter vector -> input files
    def files_for(self, key) -> dict:
        dica = modelfiles.Dica(self.dica.text())
        fractions = {}
        for name, v in self.cfg.overrides.items():
            el = modelfiles.element_of(name) or modelfiles.zone_fraction_of(name)
            if el:
                fractions[el] = float(v)
        for name, v in zip(self.cfg.names, key):
            el = modelfiles.element_of(name) or modelfiles.zone_fraction_of(name)
            if el:
                fractions[el] = v
            else:
                dica.set(name, v)
        files = {"dica.dat": dica.text()}
        if self.base_zones is not None:
            z = modelfiles.zones_composition(self.base_zones, fractions, self.cfg.filler)
            files["zones.dat"] = modelfiles.zones_text(z)
        else:
            x = modelfiles.composition(self.base_comp, fractions, self.cfg.filler)
            files["comp.ind"] = modelfiles.comp_text(x)
        if self.cfg.hydro_text is not None:
            files["hydro.dat"] = self.cfg.hydro_text
        return files

    # -- warm starts
    def _field_path(self, index) -> str:
        return os.path.join(self.warm_dir, f"eval-{int(index):06d}.dat")

    def _read_choices(self) -> dict:
        """Parameter vector -> evaluation it starts from (None: cold), as submitted before."""
        path = os.path.join(self.warm_dir, "choices.tsv")
        out = {}
        if os.path.exists(path):
            with open(path) as f:
                for line in f:
                    parts = line.rstrip("\n").split("\t")
                    if len(parts) == len(self.cfg.names) + 1:   # a line cut by an interrupt is dropped
                        out[tuple(float(v) for v in parts[:-1])] = int(parts[-1]) if parts[-1] else None
        return out

    def _save_choices(self, new: dict):
        if not new:
            return
        with open(os.path.join(self.warm_dir, "choices.tsv"), "a") as f:
            for key, c in new.items():
                f.write("\t".join([repr(v) for v in key] + ["" if c is None else str(c)]) + "\n")
            f.flush()
            os.fsync(f.fileno())
        self.choices.update(new)

    def _nearest(self, key, finished):
        """The evaluation of `finished` [(eval, key)] nearest to key in scaled parameters and
        of the same epoch, or None; None too when the nearest lies farther than warm_radius
        (rms of the parameter differences in units of their bound ranges): a field from a
        distant model relaxes too slowly for the convergence test and biases the spectrum."""
        cfg = self.cfg
        day = cfg.names.index("DAY") if "DAY" in cfg.names else None
        best = None
        for ev, other in finished:
            if day is not None and other[day] != key[day]:
                continue
            d = sum(((a - b) / (hi - lo)) ** 2 for a, b, (lo, hi) in zip(key, other, cfg.bounds))
            if best is None or (d, ev) < best:
                best = (d, ev)
        if best is None or best[0] > cfg.warm_radius ** 2 * len(key):
            return None
        return best[1]

    @staticmethod
    def _usable(field: str) -> bool:
        """A field the program takes as warmstart.dat: 0 < W <= 1 in every shell (its own
        smoothing can extrapolate W of an end shell beyond that)."""
        try:
            rows = [ln.split() for ln in field.splitlines() if ln.strip() and ln.lstrip()[0] != "#"]
            return len(rows) > 1 and all(0 < float(r[3]) <= 1 for r in rows[1:])
        except (ValueError, IndexError):
            return False

    def _record(self, key, rec):
        if rec.get("radfield") and self._usable(rec["radfield"]):
            with open(self._field_path(rec["index"]), "w") as f:
                f.write(rec["radfield"])
        row = {"eval": rec["index"], **dict(zip(self.cfg.names, key)),
               "chi2": float(rec["chi2"]), "nbins": int(rec["nbins"]),
               "status": rec["status"], "wall_s": float(rec.get("wall_s", 0.0)),
               "program_s": float(rec.get("program_s", 0.0)), "worker": rec.get("worker", ""),
               "run_dir": rec.get("run_dir", ""), "message": rec.get("message", ""),
               "warm_from": "" if rec.get("warm_from") is None else str(rec["warm_from"]),
               "passes": int(rec.get("passes", 0))}
        improved = (row["status"] == "ok" and math.isfinite(row["chi2"])
                    and (self.best is None or row["chi2"] < self.best["chi2"]))
        if improved:
            if self.best is not None and not self.cfg.keep_runs:
                self._remove(self.best["run_dir"])
            self.best = row
        elif row["run_dir"] and not self.cfg.keep_runs:
            # Kept by its worker against an older best; another of its generation did better.
            self._remove(row["run_dir"])
            row["run_dir"] = ""
        self.table.append(row)
        self.memo[key] = row["chi2"] if row["status"] == "ok" else math.inf
        if rec.get("spct") is not None and improved:
            self.spectra = {row["eval"]: rec["spct"]}
        self.new_evals += 1
        done = len(self.table.rows)
        best = f"{self.best['chi2']:.6g}" if self.best else "-"
        what = (f"chi2 {row['chi2']:.6g}" if row["status"] == "ok"
                else f"{row['status']}: {row['message'][:120]}")
        self.log(f"fit: eval {row['eval']} ({done}/{self.cfg.max_evaluations}) {what}; "
                 f"best {best} [{row['worker']}, {row['wall_s']:.1f} s]")

    def _remove(self, path):
        if path and os.path.isdir(path) and os.path.dirname(path) == self.run_root:
            shutil.rmtree(path, ignore_errors=True)

    # -- the map handed to the optimiser
    def task(self, index, files, **extra) -> dict:
        """One run of the program for run_model: this fit's program, data, observed spectrum
        and run settings, with `extra` keys added or replaced."""
        return {"index": index, "files": files, "binary": self.binary, "mcdata": self.cfg.mcdata,
                "timeout": self.cfg.timeout, "observed": self.observed,
                "dereddened": self.cfg.dereddened,
                "keep_below": self.best["chi2"] if self.best else math.inf,
                "run_root": self.run_root, "keep": self.cfg.keep_runs,
                "packet_ramp": self.cfg.packet_ramp, "warm_from": None, **extra}

    def new_keys(self, vectors):
        """The optimiser's vectors as keys, and (key, evaluation number) of those to run now.
        The budget counts evaluations (rows of the table, resumed ones included), not the
        vectors the optimiser hands over: a vector already evaluated costs nothing."""
        keys = [tuple(float(v) for v in vec) for vec in vectors]
        left = self.limit - len(self.table.rows)
        self.vectors_seen += len(keys)
        new, seen = [], set()
        for key in keys:
            if key in self.memo or key in seen:
                continue
            if len(seen) >= left:
                break
            seen.add(key)
            new.append((key, self.next_index))
            self.next_index += 1
        return keys, new

    def answer(self, keys) -> list[float]:
        """chi^2 of every vector for the optimiser; BudgetSpent once the budget is reached."""
        out = []
        for key in keys:
            c = self.memo.get(key, math.inf)
            out.append(c if math.isfinite(c) else FAILED_CHI2)
        if len(self.table.rows) >= self.limit or \
                self.vectors_seen > 100 * self.cfg.max_evaluations:  # an optimiser that only repeats itself
            raise BudgetSpent
        return out

    def evaluate(self, vectors) -> list[float]:
        # The models finished before this generation, with a stored field.
        finished = [(r["eval"], tuple(r[n] for n in self.cfg.names)) for r in self.table.rows
                    if r["status"] == "ok" and os.path.exists(self._field_path(r["eval"]))]
        keys, new = self.new_keys(vectors)
        new_choices = {}
        tasks = []
        for key, index in new:
            try:
                files = self.files_for(key)
            except ValueError as e:
                self._record(key, {"index": index, "status": "infeasible", "chi2": math.inf,
                                   "nbins": 0, "message": str(e)})
                continue
            warm = None
            if self.cfg.warm_start:
                if key in self.choices:
                    warm = self.choices[key]
                else:
                    warm = new_choices[key] = self._nearest(key, finished)
                if warm is not None and not os.path.exists(self._field_path(warm)):
                    warm = None   # its stored field was removed: a cold start
                if warm is not None:
                    with open(self._field_path(warm)) as f:
                        files["warmstart.dat"] = f.read()
            tasks.append(self.task(index, files, key=key, warm_from=warm))
        self._save_choices(new_choices)
        for task, rec in self.engine.map(self.run_fn, tasks):
            self._record(task["key"], {**rec, "warm_from": task["warm_from"]})
        self.generations += 1
        if self.generations == 1 and self.best is None and self.table.rows:
            rows = self.table.rows
            first = next((r for r in rows if r["status"] in ("failed", "error")), rows[0])
            raise NoModelSucceeded(
                f"all {len(rows)} models of the first generation failed; eval {first['eval']}: "
                f"{first['status']}: {first['message']}")
        return self.answer(keys)

    def run(self):
        cfg = self.cfg
        if self.resumed:
            self.log(f"fit: resuming from {self.table.path}: {self.resumed} evaluations "
                     f"are taken from the table")
        try:
            try:
                result = differential_evolution(
                    lambda x: self.evaluate([x])[0], cfg.bounds, strategy="best1bin",
                    maxiter=10**6, popsize=cfg.popsize, tol=cfg.tol,
                    mutation=cfg.mutation, recombination=cfg.recombination, seed=cfg.seed,
                    polish=False, init="latinhypercube", updating="deferred", x0=self.x0,
                    workers=lambda func, xs: self.evaluate(list(xs)))
                self.stop_reason = result.message
            except BudgetSpent:
                self.stop_reason = (f"max_evaluations = {self.limit} reached" if
                                    len(self.table.rows) >= self.limit else
                                    f"{len(self.table.rows)} evaluations: the optimiser repeated evaluated vectors")
            if self.limit < cfg.max_evaluations:
                self.log(f"fit: differential evolution ended: {self.stop_reason}; local search")
                self.limit = cfg.max_evaluations
                self.stop_reason = self.compass_search()
        except BudgetSpent:
            self.stop_reason = f"max_evaluations = {cfg.max_evaluations} reached"
        finally:
            self.prune_runs()
        self.log(f"fit: search ended: {self.stop_reason}")

    def compass_search(self) -> str:
        """Local search from the best vector: every parameter one step up and one down (a
        step is a share of its bound range, first 0.1), all at once on the cluster; move to
        the best of them when it improves, else halve the step. Deterministic given the
        table, so a resumed fit retraces it."""
        if self.best is None:
            return "local search: no successful model to start from"
        names, bounds = self.cfg.names, self.cfg.bounds
        x = [self.best[n] for n in names]
        fx, step = self.best["chi2"], 0.1
        while step >= 0.004:
            cands = []
            for i, (lo, hi) in enumerate(bounds):
                for sign in (1, -1):
                    y = list(x)
                    y[i] = min(max(x[i] + sign * step * (hi - lo), lo), hi)
                    if y[i] != x[i] and y not in cands:
                        cands.append(y)
            values = self.evaluate(cands)
            j = min(range(len(cands)), key=lambda k: (values[k], k))
            if values[j] < fx:
                x, fx = cands[j], values[j]
            else:
                step /= 2
        return "local search converged (step below 0.004 of the ranges)"
