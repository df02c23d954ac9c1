"""Abundance tomography: one layered model of the ejecta fitted to a time series of spectra.

A sequence configuration (docs/fitting.md, "Tomography of a spectral sequence") names the
epochs ([[epoch]] tables: observed file, days after explosion, windows, bounds of LOGLS and
VPH), the elements whose mass fractions are fitted zone by zone ([zones]), and optionally a
density family ([density]) and a shift of the explosion time ([explosion]).

The zones. Above the earliest photosphere lie the outer zones o1 (outermost) .. oM, split at
the velocities of [zones] outer; below them zone e1 reaches down to the first epoch's
photosphere, and zone ek (k > 1) lies between the photospheres of epochs k-1 and k. Each
later spectrum sees one more zone.

The stages, the modellers' own way made automatic:
  1. the earliest epoch: its LOGLS and VPH, the zones above its photosphere (o1..oM, e1),
     the density parameters and the explosion-time shift;
  k. epoch k: its LOGLS and VPH (below the photosphere of epoch k-1) and zone ek, the outer
     zones fixed at what the stages before found;
  joint (when [fit] joint_evaluations > 0): every parameter at once, each vector run at every
     epoch, the objective the sum of the epochs' chi^2, within a trust region around the
     staged result; the zone boundaries stay at the staged photospheres.
Each stage is a differential-evolution search with its own evaluations table in its own
directory of the output, so that a rerun replays the finished evaluations from the tables
and resumes where the interrupt left it.

A zone's composition is parameterised by stick breaking, so that every vector is feasible:
the fixed fractions of [zones] fixed are set first; then, in the order of [zones] fractions,
each fitted element takes the share s (its parameter, bounded within [0, 1]) of the mass
that is left; the filler takes the rest.
"""
from __future__ import annotations

import dataclasses
import hashlib
import json
import math
import os
import shutil
import sys
import time

import numpy as np

from ..errors import ConfigError, McspecError, RunError
from ..inputs import ISOTOPES, Z_OF, zones_records
from . import modelfiles, objective
from .config import SECTIONS, Config, _num
from .engine import run_model
from .search import Fit, NoModelSucceeded

V_TOP = 100000.0      # km/s: v_outer written for the outermost zone (it reaches the edge)
TAIL_RAMP = 2000.0    # km/s over which the scaled tail of "w7-tail" reaches its full factor
DENSITY = {           # family -> its parameters (name in the tables, key in [density])
    "model": {},
    "w7-tail": {"VTAIL": "tail_velocity", "LOGTAIL": "log_tail_scale"},
    "exponential": {"LOGRHO0": "log_rho0", "VE": "v_e"},
}
DENSITY_RANGES = {"VTAIL": (1000.0, 60000.0), "LOGTAIL": (-4.0, 4.0),
                  "LOGRHO0": (-20.0, 0.0), "VE": (100.0, 20000.0)}
SEQ_SECTIONS = {
    "model": SECTIONS["model"],
    "observed": SECTIONS["observed"] - {"file", "windows"},
    "epoch": None,
    "zones": {"fractions", "filler", "fixed", "outer", "gap"},
    "density": {"family", "tail_velocity", "log_tail_scale", "log_rho0", "v_e"},
    "explosion": {"shift"},
    "overrides": None,
    "fit": (SECTIONS["fit"] - {"max_evaluations"}) | {"stage_evaluations", "first_stage_evaluations",
                                                      "joint_evaluations", "joint_width"},
    "cluster": SECTIONS["cluster"],
}
EPOCH_KEYS = {"file", "day", "windows", "LOGLS", "VPH", "noise_floor", "dereddened", "wavelengths",
              "frame", "redshift"}


@dataclasses.dataclass
class Epoch:
    label: str            # "4.5d": days after explosion, names its files and parameters
    day: float            # days after the explosion assumed by the observed dates
    cfg: Config           # the single-epoch configuration of its models (observed file, windows)
    logls: tuple[float, float]
    vph: tuple[float, float]


@dataclasses.dataclass
class Sequence:
    path: str
    base: Config                      # model, program, fit and cluster settings
    epochs: list[Epoch]
    elements: list[tuple[str, float, float]]   # stick-breaking order, bounds of the shares
    filler: str
    fixed: dict[str, float]
    outer: list[float]                # km/s, descending: boundaries of the outer zones
    gap: float                        # VPH of epoch k <= (1 - gap) x VPH of epoch k-1
    family: str
    density: dict                     # parameter name -> (lo, hi) or a fixed value
    shift: tuple[float, float] | float
    profile: tuple[float, np.ndarray] | None   # W7 (or the model's hydro.dat) for "w7-tail"
    stage_evaluations: int = 200
    first_stage_evaluations: int = 400
    joint_evaluations: int = 40
    joint_width: float = 0.1

    @property
    def zones(self) -> list[str]:
        """Zone names, outermost first."""
        return [f"o{j}" for j in range(1, len(self.outer) + 1)] + \
               [f"e{k}" for k in range(1, len(self.epochs) + 1)]

    def fingerprint(self) -> str:
        h = hashlib.sha256(self.base.fingerprint().encode())
        h.update(repr((self.elements, self.filler, sorted(self.fixed.items()), self.outer,
                       self.gap, self.family, sorted(self.density.items()), self.shift,
                       self.stage_evaluations, self.first_stage_evaluations,
                       self.joint_evaluations, self.joint_width,
                       [(e.label, e.day, e.logls, e.vph, e.cfg.fingerprint()) for e in self.epochs]
                       )).encode())
        return h.hexdigest()

    # -- the parameters
    def free_globals(self) -> list[tuple[str, float, float]]:
        out = [(n, *b) for n, b in self.density.items() if isinstance(b, tuple)]
        if isinstance(self.shift, tuple):
            out.append(("TSHIFT", *self.shift))
        return out

    def stage_params(self, k: int) -> list[tuple[str, float, float]]:
        """(name, lower, upper) of the free parameters of stage k (1 = the earliest epoch);
        the upper bound of VPH is set when the stage starts (it depends on stage k-1)."""
        e = self.epochs[k - 1]
        out = [(f"LOGLS@{e.label}", *e.logls), (f"VPH@{e.label}", *e.vph)]
        zones = self.zones[:len(self.outer) + 1] if k == 1 else [f"e{k}"]
        if k == 1:
            out += self.free_globals()
        for z in zones:
            out += [(f"{el}@{z}", lo, hi) for el, lo, hi in self.elements]
        return out

    def fixed_values(self) -> dict:
        v = {n: b for n, b in self.density.items() if not isinstance(b, tuple)}
        v["TSHIFT"] = self.shift if not isinstance(self.shift, tuple) else 0.0
        return v

    # -- one model's input files
    def zone_fractions(self, values: dict, zone: str) -> dict[str, float]:
        """Mass fractions (at the explosion) of a zone from its stick-breaking shares."""
        x = dict(self.fixed)
        left = 1.0 - sum(self.fixed.values())
        for el, _, _ in self.elements:
            take = values[f"{el}@{zone}"] * left
            x[el] = x.get(el, 0.0) + take
            left -= take
        x[self.filler] = x.get(self.filler, 0.0) + max(left, 0.0)
        return x

    def zones_text(self, values: dict, boundaries: dict, nzones: int, comments=()) -> str:
        """zones.dat of the outer zones and e1..e<nzones>; boundaries: epoch label -> the
        velocity (km/s) at the bottom of its zone (needed for e1..e<nzones - 1>)."""
        names = self.zones[:len(self.outer) + nzones]
        tops = [V_TOP] + list(self.outer) + [boundaries[self.epochs[k].label]
                                             for k in range(nzones - 1)]
        rows = [(top, self.zone_fractions(values, z)) for top, z in zip(tops, names)]
        rows.reverse()   # innermost first
        cols = list(dict.fromkeys(c for _, x in rows for c in x))
        return "\n".join(zones_records([t for t, _ in rows],
                                       {c: [x.get(c, 0.0) for _, x in rows] for c in cols},
                                       comments)) + "\n"

    def hydro_text(self, values: dict) -> str | None:
        if self.family == "model":
            return self.base.hydro_text
        if self.family == "w7-tail":
            t, rows = self.profile
            r, rho = rows[:, 2], rows[:, 3].copy()
            v = r / t / 1e5
            ramp = np.clip((v - values["VTAIL"]) / TAIL_RAMP, 0.0, 1.0)
            rho *= 10.0 ** (values["LOGTAIL"] * ramp)
        else:   # exponential: rho = rho0 exp(-v / v_e) at one day
            t = 86400.0
            v = np.linspace(100.0, 60000.0, 240)
            r = v * 1e5 * t
            rho = 10.0 ** values["LOGRHO0"] * np.exp(-v / values["VE"])
        recs = [f"{len(r)} {t!r}"] + [f"{i + 1} {vv:.6f} {rr:.8e} {dd:.8e}"
                                      for i, (vv, rr, dd) in enumerate(zip(v, r, rho))]
        return "\n".join(recs) + "\n"

    def files(self, k: int, values: dict, boundaries: dict, nzones: int) -> dict:
        """Input files of epoch k's model."""
        e = self.epochs[k - 1]
        day = e.day + values["TSHIFT"]
        if day <= 0:
            raise ValueError(f"epoch {e.label}: the explosion-time shift {values['TSHIFT']} d "
                             f"puts it before the explosion")
        d = modelfiles.Dica(e.cfg.dica_text)
        d.set("DAY", round(day, 4))
        d.set("LOGLS", values[f"LOGLS@{e.label}"])
        d.set("VPH", values[f"VPH@{e.label}"])
        files = {"dica.dat": d.text(), "zones.dat": self.zones_text(values, boundaries, nzones)}
        h = self.hydro_text(values)
        if h is not None:
            files["hydro.dat"] = h
        return files


# ---------------------------------------------------------------------------------- loading
def _pair_or_value(where, v, rng):
    if isinstance(v, list):
        if len(v) != 2:
            raise ConfigError(f"{where}: a pair [lower, upper] or one number is needed")
        lo, hi = (float(_num(where, x)) for x in v)
        if not lo < hi:
            raise ConfigError(f"{where}: lower bound {lo} is not below upper bound {hi}")
        out = (lo, hi)
        vals = out
    else:
        out = float(_num(where, v))
        vals = (out,)
    if any(not rng[0] <= x <= rng[1] for x in vals):
        raise ConfigError(f"{where}: {v} leaves the accepted range [{rng[0]}, {rng[1]}]")
    return out


def _pair(where, v, rng):
    out = _pair_or_value(where, v, rng)
    if not isinstance(out, tuple):
        raise ConfigError(f"{where}: a pair [lower, upper] is needed")
    return out


def is_sequence(doc: dict) -> bool:
    return "epoch" in doc


def load_sequence(path: str, doc: dict) -> Sequence:
    """Check a sequence configuration completely; raise ConfigError naming what is wrong."""
    for sec, val in doc.items():
        if sec not in SEQ_SECTIONS:
            raise ConfigError(f"{path}: unknown section [{sec}] of a sequence fit "
                              f"(known: {', '.join('[' + s + ']' for s in SEQ_SECTIONS)})")
        allowed = SEQ_SECTIONS[sec]
        if sec == "epoch":
            if not isinstance(val, list) or not all(isinstance(e, dict) for e in val):
                raise ConfigError(f"{path}: epochs are tables [[epoch]]")
            continue
        if not isinstance(val, dict):
            raise ConfigError(f"{path}: {sec} must be a section [{sec}]")
        for key in val if allowed is not None else ():
            if key not in allowed:
                raise ConfigError(f"{path}: [{sec}] unknown key {key!r} "
                                  f"(known: {', '.join(sorted(allowed))})")
    for sec in ("model", "zones", "fit"):
        if sec not in doc:
            raise ConfigError(f"{path}: [{sec}] is missing")
    if "dir" not in doc["model"] or "output" not in doc["fit"]:
        raise ConfigError(f"{path}: [model] dir and [fit] output are needed")
    epochs = doc["epoch"]
    if len(epochs) < 1:
        raise ConfigError(f"{path}: no [[epoch]]")
    obs_defaults = doc.get("observed", {})
    fit_doc = doc["fit"]
    # Each epoch is checked as a single-epoch fit would be (model, windows, observed file,
    # the program's limits at the bounds of LOGLS and VPH).
    built = []
    from .config import load_doc
    for i, ep in enumerate(epochs):
        where = f"{path}: [[epoch]] {i + 1}"
        for key in ep:
            if key not in EPOCH_KEYS:
                raise ConfigError(f"{where}: unknown key {key!r} (known: {', '.join(sorted(EPOCH_KEYS))})")
        for key in ("file", "day", "windows", "LOGLS", "VPH"):
            if key not in ep:
                raise ConfigError(f"{where}: {key} is missing")
        day = float(_num(f"{where} day", ep["day"]))
        if not 0 < day <= 1000:
            raise ConfigError(f"{where} day: need 0 < day <= 1000 (days after explosion)")
        sub = {"model": doc["model"],
               "observed": {**obs_defaults, **{k: ep[k] for k in ep
                                               if k not in ("day", "LOGLS", "VPH")}},
               "parameters": {"LOGLS": ep["LOGLS"], "VPH": ep["VPH"]},
               "overrides": {**doc.get("overrides", {}), "DAY": round(day, 4)},
               "fit": {k: v for k, v in fit_doc.items() if k in SECTIONS["fit"]},
               "cluster": doc.get("cluster", {})}
        try:
            cfg = load_doc(path, sub, composition=False)
        except ConfigError as e:
            raise ConfigError(f"[[epoch]] {i + 1}: {e}") from None
        d = modelfiles.Dica(cfg.dica_text)
        for n, v in cfg.overrides.items():
            d.set(n, v)
        cfg.dica_text = d.text()
        cfg.overrides = {}
        label = f"{day:.1f}d"
        built.append(Epoch(label, day, cfg, cfg.bounds[0], cfg.bounds[1]))
    built.sort(key=lambda e: e.day)
    labels = [e.label for e in built]
    if len(set(labels)) != len(labels):
        raise ConfigError(f"{path}: [[epoch]] two epochs share the day {labels} (to 0.1 d)")

    z = doc["zones"]
    fr = z.get("fractions")
    if not isinstance(fr, dict) or not fr:
        raise ConfigError(f"{path}: [zones] fractions: a table {{El = [lower, upper], ...}} of "
                          f"the fitted elements is needed")
    filler = z.get("filler", "O")
    if filler not in Z_OF:
        raise ConfigError(f"{path}: [zones] filler: unknown element {filler!r}")

    def column(where, name):
        if name not in Z_OF and name not in ISOTOPES:
            raise ConfigError(f"{where}: unknown column {name!r} (elements H..Nd and the "
                              f"isotopes {', '.join(ISOTOPES)})")
        if name == filler:
            raise ConfigError(f"{where}: the filler {filler} takes what the others leave")
        return name

    elements = []
    for el, b in fr.items():
        where = f"{path}: [zones] fractions {el}"
        column(where, el)
        elements.append((el, *_pair(where, b, (0.0, 1.0))))
    fixed = {}
    for el, v in z.get("fixed", {}).items():
        where = f"{path}: [zones] fixed {el}"
        column(where, el)
        if el in fr:
            raise ConfigError(f"{where}: also a fitted fraction")
        fixed[el] = float(_num(where, v))
        if not 0 <= fixed[el] <= 1:
            raise ConfigError(f"{where}: need 0 <= fraction <= 1")
    if sum(fixed.values()) >= 1:
        raise ConfigError(f"{path}: [zones] fixed: the fixed fractions sum to "
                          f"{sum(fixed.values()):.4g}; less than 1 is needed")
    top = built[0].vph[1]
    outer = z.get("outer")
    if outer is None:
        outer = [round(1.2 * top, -2)]
    if not isinstance(outer, list):
        raise ConfigError(f"{path}: [zones] outer: a list of velocities (km/s)")
    outer = sorted((float(_num(f"{path}: [zones] outer", v)) for v in outer), reverse=True)
    if outer and not outer[-1] > top:
        raise ConfigError(f"{path}: [zones] outer: {outer[-1]} km/s is not above the upper "
                          f"bound {top} km/s of the earliest epoch's VPH")
    if len(set(outer)) != len(outer) or any(v >= V_TOP for v in outer):
        raise ConfigError(f"{path}: [zones] outer: distinct velocities below {V_TOP:g} km/s")
    gap = float(_num(f"{path}: [zones] gap", z.get("gap", 0.03)))
    if not 0 <= gap < 0.5:
        raise ConfigError(f"{path}: [zones] gap: need 0 <= gap < 0.5 (a share of the velocity)")

    dens = doc.get("density", {})
    family = dens.get("family", "model")
    if family not in DENSITY:
        raise ConfigError(f"{path}: [density] family: one of {', '.join(DENSITY)}, not {family!r}")
    density = {}
    for name, key in DENSITY[family].items():
        if key not in dens:
            raise ConfigError(f"{path}: [density] {key} is needed for the family {family}")
        density[name] = _pair_or_value(f"{path}: [density] {key}", dens[key], DENSITY_RANGES[name])
    for key in dens:
        if key != "family" and key not in DENSITY[family].values():
            raise ConfigError(f"{path}: [density] {key} does not belong to the family {family}")
    profile = None
    b0 = built[0].cfg
    if family == "w7-tail":
        from ..inputs import read_hydro
        src = os.path.join(b0.model_dir, "hydro.dat")
        if not os.path.exists(src):
            src = os.path.join(b0.mcdata, "rhw7.dat")
        try:
            profile = read_hydro(src)
        except (McspecError, OSError) as e:
            raise ConfigError(f"{path}: [density] family w7-tail: {e}") from None
    elif family == "exponential" and b0.hydro_text is not None:
        raise ConfigError(f"{path}: [density] family exponential: the model {b0.model_dir} has "
                          f"its own hydro.dat; remove one of them")
    ex = doc.get("explosion", {})
    shift = _pair_or_value(f"{path}: [explosion] shift", ex.get("shift", 0.0), (-5.0, 5.0))

    seq = Sequence(path=path, base=built[0].cfg, epochs=built, elements=elements, filler=filler,
                   fixed=fixed, outer=outer, gap=gap, family=family, density=density, shift=shift,
                   profile=profile)
    for key, lo in (("stage_evaluations", 1), ("first_stage_evaluations", 1),
                    ("joint_evaluations", 0)):
        if key in fit_doc:
            v = _num(f"{path}: [fit] {key}", fit_doc[key], integer=True)
            if v < lo:
                raise ConfigError(f"{path}: [fit] {key}: need >= {lo}")
            setattr(seq, key, v)
    seq.joint_width = float(_num(f"{path}: [fit] joint_width", fit_doc.get("joint_width", 0.1)))
    if not 0 < seq.joint_width <= 1:
        raise ConfigError(f"{path}: [fit] joint_width: a share of each range, 0 < w <= 1")
    # Every bound combination the first model could meet must give a valid input.
    values = {**seq.fixed_values(), **{n: lo for n, lo, _ in seq.free_globals()}}
    for n, lo, _ in seq.stage_params(1):
        values.setdefault(n, lo)
    try:
        seq.files(1, values, {}, 1)
    except (McspecError, ValueError) as e:
        raise ConfigError(f"{path}: the first model at the lower bounds: {e}") from None
    return seq


# ---------------------------------------------------------------------------------- stages
class StageFit(Fit):
    """One stage: a single-epoch search (`Fit`) whose files come from the sequence."""

    def __init__(self, seq: Sequence, k: int, names, bounds, known: dict, boundaries: dict,
                 max_evaluations: int, x0, engine, out_dir, run_fn, log):
        e = seq.epochs[k - 1]
        cfg = dataclasses.replace(e.cfg, names=list(names), bounds=list(bounds),
                                  max_evaluations=max_evaluations, comp_text="",
                                  zones_text="v_outer O\n1 1\n", hydro_text=None,
                                  seed=seq.base.seed + k)
        os.makedirs(out_dir, exist_ok=True)
        self.seq, self.k, self.known, self.boundaries = seq, k, known, boundaries
        super().__init__(cfg, engine, out_dir, run_fn=run_fn, log=log)
        self.x0 = x0

    def values(self, key) -> dict:
        return {**self.known, **dict(zip(self.cfg.names, key))}

    def files_for(self, key) -> dict:
        return self.seq.files(self.k, self.values(key), self.boundaries, self.k)


class JointFit(Fit):
    """All parameters at once: a vector is run at every epoch; chi^2 is the sum."""

    def __init__(self, seq: Sequence, names, bounds, known, boundaries, fields, observed, x0,
                 engine, out_dir, run_fn, log):
        cfg = dataclasses.replace(seq.epochs[-1].cfg, names=list(names), bounds=list(bounds),
                                  max_evaluations=seq.joint_evaluations, comp_text="",
                                  zones_text="v_outer O\n1 1\n", hydro_text=None,
                                  seed=seq.base.seed, warm_start=False, polish=0.0)
        os.makedirs(out_dir, exist_ok=True)
        self.seq, self.known, self.boundaries, self.fields = seq, known, boundaries, fields
        super().__init__(cfg, engine, out_dir, run_fn=run_fn, log=log)
        self.observed_by = observed   # each epoch's, as its stage read it
        self.x0 = x0

    def values(self, key) -> dict:
        return {**self.known, **dict(zip(self.cfg.names, key))}

    def evaluate(self, vectors) -> list[float]:
        keys, new = self.new_keys(vectors)
        n = len(self.seq.epochs)
        tasks, pending = [], {}
        for key, index in new:
            vals = self.values(key)
            vph = [vals[f"VPH@{e.label}"] for e in self.seq.epochs]
            try:
                if any(b >= a for a, b in zip(vph, vph[1:])):
                    raise ValueError("the photospheric velocities do not fall from epoch to epoch")
                files = [self.seq.files(k, vals, self.boundaries, n) for k in range(1, n + 1)]
            except ValueError as e:
                self._record(key, {"index": index, "status": "infeasible", "chi2": math.inf,
                                   "nbins": 0, "message": str(e)})
                continue
            pending[index] = (key, [None] * n)
            for k, f in enumerate(files, start=1):
                if self.fields.get(k):
                    f["warmstart.dat"] = self.fields[k]
                tasks.append(self.task(index, f, epoch=k, key=key,
                                       observed=self.observed_by[k - 1],
                                       dereddened=self.seq.epochs[k - 1].cfg.dereddened,
                                       keep_below=-math.inf, keep=False))
        for task, rec in self.engine.map(self.run_fn, tasks):
            key, parts = pending[task["index"]]
            parts[task["epoch"] - 1] = rec
            if all(p is not None for p in parts):
                bad = [(k, p) for k, p in enumerate(parts, 1) if p["status"] != "ok"]
                rec = {"index": task["index"], "worker": "all", "warm_from": None,
                       "status": bad[0][1]["status"] if bad else "ok",
                       "chi2": sum(p["chi2"] for p in parts) if not bad else math.inf,
                       "nbins": sum(p["nbins"] for p in parts),
                       "message": (f"epoch {self.seq.epochs[bad[0][0] - 1].label}: "
                                   f"{bad[0][1]['message']}" if bad else
                                   "chi2 by epoch: " + " ".join(
                                       f"{p['chi2']!r}/{p['nbins']}" for p in parts)),
                       "wall_s": max(p.get("wall_s", 0.0) for p in parts),
                       "program_s": sum(p.get("program_s", 0.0) for p in parts),
                       "passes": sum(p.get("passes", 0) for p in parts)}
                self._record(key, rec)
        self.generations += 1
        return self.answer(keys)


# ---------------------------------------------------------------------------------- the fit
def _clip(v, lo, hi):
    return min(max(v, lo), hi)


def _stage_dir(path: str, context: dict, log) -> str:
    """A stage's directory, with the context its evaluations were made in (the values and
    boundaries the stages before fixed, its bounds and start) in context.json. A directory
    from another context (a stage before it changed its best, say after an evaluation that
    had failed on the cluster ran again) is moved aside, not replayed: its chi^2 belong to
    another model."""
    text = json.dumps(context, sort_keys=True)
    ctx = os.path.join(path, "context.json")
    if os.path.isdir(path):
        try:
            with open(ctx) as f:
                same = f.read() == text
        except OSError:
            same = False
        if not same:
            k = 1
            while os.path.exists(f"{path}.stale-{k}"):
                k += 1
            os.replace(path, f"{path}.stale-{k}")
            log(f"fit: {path} was made in another context (the stages before it changed); "
                f"moved to {path}.stale-{k}, the stage runs again")
    if not os.path.isdir(path):
        os.makedirs(path)
        tmp = ctx + ".tmp"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, ctx)
    return path


def _field_of(stage: Fit, row) -> str | None:
    p = stage._field_path(row["eval"])
    if os.path.exists(p):
        with open(p) as f:
            return f.read()
    return None


def fit_sequence(seq: Sequence, engine=None, run_fn=None, log=None) -> dict:
    """Run (or resume) the staged fit and the joint refinement; write the results."""
    from .engine import Engine
    from . import prepare_state
    log = log or (lambda s: print(s, file=sys.stderr, flush=True))
    base = seq.base
    if engine is None:
        engine = Engine(base.scheduler, base.workers, base.retries, log=log, tls=base.tls)
    run_fn = run_fn or run_model
    t_start = time.time()
    with engine:
        created = not prepare_state(base.output, seq.fingerprint(), seq.path)
        t0 = time.time()
        known = seq.fixed_values()
        boundaries: dict[str, float] = {}
        stages = []
        try:
            for k, e in enumerate(seq.epochs, start=1):
                params = seq.stage_params(k)
                if k > 1:   # below the photosphere of the epoch before
                    upper = boundaries[seq.epochs[k - 2].label] * (1.0 - seq.gap)
                    n, lo, hi = params[1]
                    if not lo < upper:
                        raise RunError(f"epoch {e.label}: its VPH bounds [{lo:g}, {hi:g}] km/s lie "
                                       f"above {upper:.0f} km/s, the photosphere of the epoch "
                                       f"before less the gap; lower the bounds")
                    params[1] = (n, lo, min(hi, upper))
                names = [p[0] for p in params]
                bounds = [(p[1], p[2]) for p in params]
                x0 = None
                if k > 1:   # start from the epoch before: its luminosity, the zone above
                    prev = seq.epochs[k - 2].label
                    guess = {f"LOGLS@{e.label}": known[f"LOGLS@{prev}"],
                             f"VPH@{e.label}": 0.5 * (bounds[1][0] + bounds[1][1])}
                    guess.update({f"{el}@e{k}": known[f"{el}@{'e%d' % (k - 1)}"]
                                  for el, _, _ in seq.elements})
                    x0 = [_clip(guess[n], lo, hi) for n, (lo, hi) in zip(names, bounds)]
                out_dir = _stage_dir(os.path.join(base.output, f"stage-{k}-{e.label}"),
                                     {"known": known, "boundaries": boundaries,
                                      "bounds": bounds, "x0": x0}, log)
                log(f"fit: stage {k} of {len(seq.epochs)}: epoch {e.label}, {len(names)} "
                    f"parameters ({', '.join(names)})")
                st = StageFit(seq, k, names, bounds, known, boundaries,
                              seq.first_stage_evaluations if k == 1 else seq.stage_evaluations,
                              x0, engine, out_dir, run_fn, log)
                st.run()
                if st.best is None:
                    raise NoModelSucceeded(f"stage {k} (epoch {e.label}): no model succeeded")
                best = st.best
                known.update({n: best[n] for n in names})
                boundaries[e.label] = best[f"VPH@{e.label}"]
                stages.append(st)
            joint = None
            if seq.joint_evaluations > 0:
                names, bounds, x0 = [], [], []
                free = {p[0]: (p[1], p[2]) for k in range(1, len(seq.epochs) + 1)
                        for p in seq.stage_params(k)}
                for n, (lo, hi) in free.items():
                    w = seq.joint_width * (hi - lo)
                    v = known[n]
                    a, b = max(lo, v - w), min(hi, v + w)
                    if b > a:
                        names.append(n)
                        bounds.append((a, b))
                        x0.append(v)
                fields = {k: _field_of(st, st.best) for k, st in enumerate(stages, start=1)}
                log(f"fit: joint refinement of {len(names)} parameters over "
                    f"{len(seq.epochs)} epochs")
                out_dir = _stage_dir(os.path.join(base.output, "joint"),
                                     {"known": known, "boundaries": boundaries,
                                      "bounds": bounds, "fields": fields}, log)
                joint = JointFit(seq, names, bounds, known, boundaries, fields,
                                 [st.observed for st in stages], x0, engine, out_dir, run_fn, log)
                joint.run()
        except NoModelSucceeded:
            if created:
                shutil.rmtree(base.output, ignore_errors=True)
            raise
        elapsed = time.time() - t0
        n_workers = getattr(engine, "n_workers", 1)
        summary = finish(seq, stages, joint, known, boundaries, engine, run_fn, log)
    summary["session"] = {"elapsed_s": elapsed, "startup_s": t0 - t_start, "workers": n_workers}
    new = sum(st.new_evals for st in stages) + (joint.new_evals * len(seq.epochs) if joint else 0)
    summary["session"]["models_run"] = new
    summary["session"]["models_per_hour"] = new / elapsed * 3600 if elapsed > 0 else 0.0
    _write_json(os.path.join(base.output, "sequence.json"), summary)
    return summary


def _write_json(path, obj):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(obj, f, indent=2)
    os.replace(tmp, path)


def finish(seq, stages, joint, known, boundaries, engine, run_fn, log) -> dict:
    """The final model: its values (the joint best when it improved on the staged sum),
    one run per epoch (kept), the model directory, the tables and the plots."""
    from . import plots
    values = dict(known)
    staged_sum = sum(st.best["chi2"] for st in stages)
    source = "staged"
    if joint is not None and joint.best is not None and joint.best["chi2"] < staged_sum:
        values.update({n: joint.best[n] for n in joint.cfg.names})
        source = "joint"
    out = seq.base.output
    n = len(seq.epochs)
    final_dir = os.path.join(out, "final-runs")
    runs = {}
    # The final model's run of each epoch: the staged best when the staged values stand
    # (the same inputs), otherwise run again here.
    files_by = [seq.files(k, values, boundaries, n) for k in range(1, n + 1)]
    tasks = []
    for k, (e, st, files) in enumerate(zip(seq.epochs, stages, files_by), start=1):
        dest = os.path.join(final_dir, e.label)
        if os.path.exists(os.path.join(dest, "spct.dat")):
            runs[k] = dest
            continue
        if source == "staged" and st.best["run_dir"] and os.path.isdir(st.best["run_dir"]):
            os.makedirs(final_dir, exist_ok=True)
            shutil.rmtree(dest, ignore_errors=True)
            shutil.copytree(st.best["run_dir"], dest)
            runs[k] = dest
            continue
        tasks.append(st.task(900000 + k, files, epoch=k, keep_below=math.inf,
                             run_root=final_dir + ".tmp", keep=True, packet_ramp=1.0))
    for task, rec in engine.map(run_fn, tasks):
        e = seq.epochs[task["epoch"] - 1]
        if rec["status"] == "ok" and rec.get("run_dir"):
            dest = os.path.join(final_dir, e.label)
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(final_dir, exist_ok=True)
            shutil.move(rec["run_dir"], dest)
            runs[task["epoch"]] = dest
        else:
            log(f"fit: the final model of epoch {e.label} failed: {rec.get('message', '')}")
    shutil.rmtree(final_dir + ".tmp", ignore_errors=True)

    # The model directory: zones.dat, hydro.dat, and one run directory per epoch.
    model_dir = os.path.join(out, "model")
    shutil.rmtree(model_dir, ignore_errors=True)
    os.makedirs(model_dir)
    comments = [f"fitted by python3 -m mcspec fit {os.path.basename(seq.path)} "
                f"(abundance tomography of {n} epochs, {source} result)",
                "mass fractions at the explosion; zones outermost last; Ni56 decays to each epoch"]
    zt = seq.zones_text(values, boundaries, n, comments)
    with open(os.path.join(model_dir, "zones.dat"), "w") as f:
        f.write(zt)
    epochs_out, spectra = [], []
    for k, (e, files) in enumerate(zip(seq.epochs, files_by), start=1):
        sub = os.path.join(model_dir, e.label)
        os.makedirs(sub)
        for name, text in files.items():
            if name != "warmstart.dat":
                with open(os.path.join(sub, name), "w") as f:
                    f.write(text if name != "zones.dat" else zt)
        if "hydro.dat" in files and k == 1:
            with open(os.path.join(model_dir, "hydro.dat"), "w") as f:
                f.write(files["hydro.dat"])
        row = {"epoch": e.label, "day": e.day, "day_model": e.day + values["TSHIFT"],
               "LOGLS": values[f"LOGLS@{e.label}"], "VPH": values[f"VPH@{e.label}"],
               "observed": e.cfg.observed_file, "run_dir": runs.get(k, "")}
        spct = None
        if k in runs:
            from ..outputs import read_spct
            from ..plot import compare_observed
            spct = read_spct(os.path.join(runs[k], "spct.dat"))
            obs = stages[k - 1].observed
            c, nb = objective.chi2(spct, obs, e.cfg.dereddened)
            row.update(chi2=c, nbins=nb, chi2_per_bin=c / nb,
                       band_ratios=[[lo, hi, r] for lo, hi, r in
                                    objective.band_ratios(spct, obs, e.cfg.dereddened)])
            si = compare_observed(runs[k], e.cfg.observed_file)["si_velocity"]
            row["si_ii_velocity"] = {"model": si[0], "observed": si[1]}
        epochs_out.append(row)
        spectra.append(spct)
    zones_out = []
    tops = [V_TOP] + list(seq.outer) + [boundaries[e.label] for e in seq.epochs[:-1]]
    bottoms = tops[1:] + [boundaries[seq.epochs[-1].label]]
    for z, top, bot in zip(seq.zones, tops, bottoms):
        zones_out.append({"zone": z, "v_bottom": bot, "v_top": top if top < V_TOP else None,
                          "fractions": seq.zone_fractions(values, z)})
    with open(os.path.join(out, "epochs.tsv"), "w") as f:
        f.write("epoch\tday\tday_model\tLOGLS\tVPH_kms\tchi2\tnbins\tchi2_per_bin\t"
                "si_ii_kms_model\tsi_ii_kms_observed\n")
        for r in epochs_out:
            si = r.get("si_ii_velocity", {})
            f.write("\t".join(str(x) for x in (
                r["epoch"], r["day"], round(r["day_model"], 4), r["LOGLS"], round(r["VPH"], 1),
                r.get("chi2", "nan"), r.get("nbins", 0), r.get("chi2_per_bin", "nan"),
                _rounded(si.get("model")), _rounded(si.get("observed")))) + "\n")
    with open(os.path.join(out, "velocities.tsv"), "w") as f:
        f.write("zone\tv_bottom_kms\tv_top_kms\tseen_first_at\n")
        for zr, z in zip(zones_out, seq.zones):
            first = seq.epochs[int(z[1:]) - 1].label if z[0] == "e" else seq.epochs[0].label
            f.write(f"{z}\t{zr['v_bottom']:.0f}\t"
                    f"{'edge' if zr['v_top'] is None else format(zr['v_top'], '.0f')}\t{first}\n")
    plots.sequence(os.path.join(out, "sequence.png"), seq, epochs_out, spectra,
                   [stages[k].observed for k in range(n)])
    plots.zones(os.path.join(out, "composition.png"), zones_out,
                [(e.label, values[f"VPH@{e.label}"]) for e in seq.epochs])
    total = sum(r.get("chi2", math.inf) for r in epochs_out)
    return {"source": source, "staged_chi2": staged_sum,
            "joint_chi2": joint.best["chi2"] if joint is not None and joint.best else None,
            "chi2": total, "values": values, "boundaries": boundaries,
            "epochs": epochs_out, "zones": zones_out,
            "evaluations": {**{e.label: len(st.table.rows) for e, st in zip(seq.epochs, stages)},
                            "joint": len(joint.table.rows) if joint is not None else 0}}


def _rounded(v):
    return "nan" if v is None or not math.isfinite(v) else round(v)


def summary_line(seq: Sequence, s: dict) -> str:
    parts = [f"{r['epoch']} chi2/bin {r.get('chi2_per_bin', math.nan):.3g} VPH {r['VPH']:.0f}"
             for r in s["epochs"]]
    return (f"{seq.base.output}: {len(s['epochs'])} epochs ({s['source']} result): "
            + "; ".join(parts) + f"; model in {os.path.join(seq.base.output, 'model')}")
