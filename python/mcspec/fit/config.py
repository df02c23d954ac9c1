"""The fit configuration: a TOML file read with tomllib and checked completely before any model
runs. Every key is documented in docs/fitting.md. Relative paths are taken relative to the
directory of the configuration file.
"""
from __future__ import annotations

import hashlib
import math
import os
import tomllib
from dataclasses import dataclass, field

from ..errors import ConfigError, McspecError
from ..inputs import ELEMENTS, read_hydro
from .modelfiles import DICA_FIELDS, ISOTOPES, Z_OF, Dica, element_of, parse_zones, read_comp, zone_fraction_of


REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))))


# Physically sensible ranges of the dica.dat values a fit may vary or override
# (bounds outside are refused before any model runs). Integers may only be overridden.
RANGES = {
    "NP4": (1, 1000), "ITT": (1, 100), "JS": (1, 85), "KB": (2, 502), "XE1": (1e-3, 1.0),
    "LOGLS": (5.0, 12.0), "VPH": (100.0, 60000.0), "TB": (1000.0, 1.0e6),
    "DAY": (0.1, 1000.0), "DMOD": (-5.0, 60.0), "ZRED": (0.0, 10.0),
    "EBVG": (0.0, 10.0), "EBVH": (0.0, 10.0), "ISEED": (1, 2**31 - 1),
    "LOGTAUG": (-12.0, 3.0), "CHL": (1.0, 1000.0), "NC": (-10**6, 10**6),
    "WVM1": (0.01, 100.0), "WVM2": (0.01, 100.0), "KG": (7, 5000),
    "WV1": (100.0, 1.0e6), "WV2": (100.0, 1.0e6), "LOGLWV": (0.0, 20.0),
    "WTH1": (1.0, 1.0e7), "WTH2": (1.0, 1.0e7),
    "IOPT(1)": (0, 1), "IOPT(2)": (0, 1), "IOPT(3)": (0, 1), "IOPT(4)": (0, 1), "IOPT(5)": (0, 1),
}

SECTIONS = {
    "model": {"dir", "mcdata", "binary"},
    "observed": {"file", "windows", "wavelengths", "frame", "redshift", "dereddened",
                 "noise_floor"},
    "parameters": None,   # free names, checked below
    "overrides": None,
    "composition": {"filler"},
    "fit": {"method", "max_evaluations", "seed", "output", "popsize", "mutation",
            "recombination", "tol", "timeout", "retries", "keep_runs", "warm_start", "warm_radius", "polish",
            "packet_ramp"},
    "cluster": {"scheduler", "workers", "tls_ca_file", "tls_cert", "tls_key"},
}
REQUIRED = {"model": {"dir"}, "observed": {"file", "windows"}, "fit": {"output"}}


@dataclass
class Config:
    path: str
    model_dir: str
    mcdata: str
    binary: str
    observed_file: str
    windows: list[tuple[float, float]]
    wavelengths: str = "air"
    frame: str = "rest"
    redshift: float | None = None
    dereddened: bool = True
    noise_floor: float = 0.1
    names: list[str] = field(default_factory=list)
    bounds: list[tuple[float, float]] = field(default_factory=list)
    overrides: dict = field(default_factory=dict)
    filler: str = "O"
    method: str = "differential_evolution"
    max_evaluations: int = 400
    seed: int = 1
    output: str = ""
    popsize: int = 10
    mutation: tuple[float, float] = (0.5, 1.0)
    recombination: float = 0.7
    tol: float = 0.01
    timeout: float = 600.0
    retries: int = 2
    keep_runs: bool = False
    warm_start: bool = True
    warm_radius: float = 0.1
    polish: float = 0.0
    packet_ramp: float = 1.0
    scheduler: str = ""
    workers: int = 0
    tls: tuple[str, str, str] | None = None   # CA, certificate, key (PEM files)
    dica_text: str = ""
    comp_text: str = ""
    hydro_text: str | None = None
    zones_text: str | None = None   # the model's zones.dat (then comp_text is "")

    def fingerprint(self) -> str:
        """Hash of everything that decides the evaluations' results (not the output, the
        program's path or the cluster), so that a rerun resumes only the same fit."""
        h = hashlib.sha256()
        for part in (self.dica_text, self.comp_text, self.hydro_text or "", self.zones_text or "",
                     repr((self.mcdata, self.names, self.bounds, sorted(self.overrides.items()),
                           self.filler, self.windows, self.wavelengths, self.frame,
                           self.redshift, self.dereddened, self.noise_floor, self.method,
                           self.seed, self.popsize, self.mutation, self.recombination,
                           self.tol, self.warm_start, self.packet_ramp, self.warm_radius, self.polish))):
            h.update(part.encode())
        with open(self.observed_file, "rb") as f:
            h.update(f.read())
        return h.hexdigest()


def _num(where, v, integer=False):
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        raise ConfigError(f"{where}: a number is needed, not {v!r}")
    if integer and not isinstance(v, int):
        raise ConfigError(f"{where}: an integer is needed, not {v!r}")
    if not math.isfinite(v):
        raise ConfigError(f"{where}: {v!r} is not finite")
    return v


def _path(base, where, v):
    if not isinstance(v, str) or not v:
        raise ConfigError(f"{where}: a path (text) is needed, not {v!r}")
    v = os.path.expanduser(v)
    return v if os.path.isabs(v) else os.path.normpath(os.path.join(base, v))


def _check_name(where, name):
    zone = zone_fraction_of(name)
    if zone is not None:
        if zone[0] not in Z_OF and zone[0] not in ISOTOPES:
            raise ConfigError(f"{where}: unknown column {zone[0]!r} (zones.dat holds the elements H..Nd and "
                              f"the isotopes {', '.join(ISOTOPES)})")
        return zone
    el = element_of(name)
    if el is not None:
        if el not in Z_OF:
            raise ConfigError(f"{where}: unknown element {el!r} (comp.ind holds Z = 1..60)")
        return el
    if name not in DICA_FIELDS or name == "JS2":
        raise ConfigError(f"{where}: unknown parameter {name!r}; use a dica.dat name "
                          f"({', '.join(n for n in DICA_FIELDS if n != 'JS2')}) or X(El)")
    return None


def load(path: str):
    """Read and check the configuration; raise ConfigError naming what is wrong. Returns a
    Config, or a sequence.Sequence for a configuration with [[epoch]] tables."""
    path = os.path.abspath(path)
    try:
        with open(path, "rb") as f:
            doc = tomllib.load(f)
    except OSError as e:
        raise ConfigError(f"{path}: cannot read: {e.strerror}") from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as e:
        raise ConfigError(f"{path}: not valid TOML: {e}") from None
    if "epoch" in doc:
        from .sequence import load_sequence
        return load_sequence(path, doc)
    return load_doc(path, doc)


def load_doc(path: str, doc: dict, composition: bool = True) -> Config:
    """Check a parsed single-spectrum configuration. composition=False: the model directory
    needs no comp.ind or zones.dat (a sequence fit writes its own zones)."""
    base = os.path.dirname(path)

    for sec, val in doc.items():
        if sec not in SECTIONS:
            raise ConfigError(f"{path}: unknown section [{sec}] "
                              f"(known: {', '.join('[' + s + ']' for s in SECTIONS)})")
        if not isinstance(val, dict):
            raise ConfigError(f"{path}: {sec} must be a section [{sec}]")
        allowed = SECTIONS[sec]
        if allowed is not None:
            for key in val:
                if key not in allowed:
                    raise ConfigError(f"{path}: [{sec}] unknown key {key!r} "
                                      f"(known: {', '.join(sorted(allowed))})")
    for sec, keys in REQUIRED.items():
        for key in keys:
            if key not in doc.get(sec, {}):
                raise ConfigError(f"{path}: [{sec}] {key} is missing")

    m, o, fit = doc["model"], doc["observed"], doc["fit"]
    w = lambda sec, key: f"{path}: [{sec}] {key}"  # noqa: E731

    model_dir = _path(base, w("model", "dir"), m["dir"])
    mcdata = m.get("mcdata", "")
    if not isinstance(mcdata, str):
        raise ConfigError(f"{w('model', 'mcdata')}: a path (text) is needed")
    if mcdata:
        mcdata = _path(base, w("model", "mcdata"), mcdata)
    else:
        built = os.path.join(REPO, "build", "mcdata")
        mcdata = os.environ.get("MCDATA") or (built if os.path.isdir(built) else "")
    if not mcdata:
        raise ConfigError(f"{w('model', 'mcdata')}: empty, MCDATA is not set and {built} "
                          f"does not exist (make data); name the data directory")
    if not os.path.isdir(mcdata):
        raise ConfigError(f"{w('model', 'mcdata')}: {mcdata} is not a directory")
    binary = m.get("binary", "")
    binary = _path(base, w("model", "binary"), binary) if binary else ""

    texts = {}
    layered = os.path.exists(os.path.join(model_dir, "zones.dat"))
    if not composition:
        layered = False
        from ..inputs import comp_records
        texts["comp.ind"] = "\n".join(comp_records({"O": 1.0})) + "\n"   # not used: the sequence writes zones.dat
    for name in ("dica.dat", *(() if not composition else ("zones.dat" if layered else "comp.ind",)),
                 "hydro.dat"):
        p = os.path.join(model_dir, name)
        try:
            with open(p) as f:
                texts[name] = f.read()
        except FileNotFoundError:
            if name != "hydro.dat":
                raise ConfigError(f"{w('model', 'dir')}: {p} does not exist") from None
        except OSError as e:
            raise ConfigError(f"{w('model', 'dir')}: cannot read {p}: {e.strerror}") from None
    if composition and layered and os.path.exists(os.path.join(model_dir, "comp.ind")):
        raise ConfigError(f"{w('model', 'dir')}: {model_dir} holds both zones.dat and comp.ind; the program "
                          f"takes one composition: remove one of them")
    try:
        dica = Dica(texts["dica.dat"], os.path.join(model_dir, "dica.dat"))
        if layered:
            zones = parse_zones(texts["zones.dat"], os.path.join(model_dir, "zones.dat"))
        else:
            base_comp = read_comp(texts["comp.ind"], os.path.join(model_dir, "comp.ind"))
    except McspecError as e:
        raise ConfigError(str(e)) from None
    comp_path = os.path.join(model_dir, "comp.ind")
    for z, x in enumerate([] if layered else base_comp, start=1):
        if not (math.isfinite(x) and x >= 0):
            raise ConfigError(f"{comp_path}: the mass fraction of Z = {z} ({ELEMENTS[z - 1]}) "
                              f"is {x}; a finite number >= 0 is needed")
    if not layered and not sum(base_comp) > 0:
        raise ConfigError(f"{comp_path}: the mass fractions sum to zero")
    if "hydro.dat" in texts:
        try:
            read_hydro(os.path.join(model_dir, "hydro.dat"))
        except McspecError as e:
            raise ConfigError(str(e)) from None

    obs = _path(base, w("observed", "file"), o["file"])
    if not os.path.isfile(obs):
        raise ConfigError(f"{w('observed', 'file')}: {obs} does not exist")
    wins = o["windows"]
    if not isinstance(wins, list) or not wins:
        raise ConfigError(f"{w('observed', 'windows')}: a list of [lower, upper] pairs is needed")
    windows = []
    for i, pair in enumerate(wins):
        ww = f"{w('observed', 'windows')}[{i}]"
        if not isinstance(pair, list) or len(pair) != 2:
            raise ConfigError(f"{ww}: a pair [lower, upper] in Angstrom is needed")
        lo, hi = (_num(ww, v) for v in pair)
        if not 0 < lo < hi:
            raise ConfigError(f"{ww}: need 0 < lower < upper, got [{lo}, {hi}]")
        windows.append((float(lo), float(hi)))
    cfg = Config(path=path, model_dir=model_dir, mcdata=mcdata, binary=binary,
                 observed_file=obs, windows=windows,
                 dica_text=texts["dica.dat"], comp_text=texts.get("comp.ind", ""),
                 hydro_text=texts.get("hydro.dat"), zones_text=texts.get("zones.dat"))
    cfg.wavelengths = o.get("wavelengths", "air")
    if cfg.wavelengths not in ("air", "vacuum"):
        raise ConfigError(f"{w('observed', 'wavelengths')}: \"air\" or \"vacuum\", "
                          f"not {cfg.wavelengths!r}")
    cfg.frame = o.get("frame", "rest")
    if cfg.frame not in ("rest", "observed"):
        raise ConfigError(f"{w('observed', 'frame')}: \"rest\" or \"observed\", not {cfg.frame!r}")
    if "redshift" in o:
        cfg.redshift = float(_num(w("observed", "redshift"), o["redshift"]))
        if not 0 <= cfg.redshift < 10:
            raise ConfigError(f"{w('observed', 'redshift')}: need 0 <= z < 10")
    cfg.dereddened = o.get("dereddened", True)
    if not isinstance(cfg.dereddened, bool):
        raise ConfigError(f"{w('observed', 'dereddened')}: true or false")
    cfg.noise_floor = float(_num(w("observed", "noise_floor"), o.get("noise_floor", 0.1)))
    if not 0 <= cfg.noise_floor < 10:
        raise ConfigError(f"{w('observed', 'noise_floor')}: need 0 <= floor < 10 "
                          f"(a fraction of the observed flux)")

    params = doc.get("parameters", {})
    if not params:
        raise ConfigError(f"{path}: [parameters] names no parameter to fit")
    for name, b in params.items():
        ww = f"{path}: [parameters] {name}"
        el = _check_name(ww, name)
        if not isinstance(b, list) or len(b) != 2:
            raise ConfigError(f"{ww}: a pair [lower, upper] is needed")
        lo, hi = (float(_num(ww, v)) for v in b)
        if not lo < hi:
            raise ConfigError(f"{ww}: lower bound {lo} is not below upper bound {hi}")
        if el is not None:
            rlo, rhi = 0.0, 1.0
            if (el[0] if isinstance(el, tuple) else el) == doc.get("composition", {}).get("filler", "O"):
                raise ConfigError(f"{ww}: the filler element cannot be a fitted parameter")
        else:
            rlo, rhi = RANGES[name]
            if DICA_FIELDS[name][2] is int:
                raise ConfigError(f"{ww}: {name} is an integer; set it in [overrides]")
        if lo < rlo or hi > rhi:
            raise ConfigError(f"{ww}: bounds [{lo}, {hi}] leave the accepted range "
                              f"[{rlo}, {rhi}]")
        cfg.names.append(name)
        cfg.bounds.append((lo, hi))

    for name, v in doc.get("overrides", {}).items():
        ww = f"{path}: [overrides] {name}"
        el = _check_name(ww, name)
        if name in params:
            raise ConfigError(f"{ww}: also a fitted parameter")
        if el is not None and (el[0] if isinstance(el, tuple) else el) == doc.get("composition", {}).get("filler",
                                                                                                        "O"):
            raise ConfigError(f"{ww}: the filler element takes what the others leave; "
                              f"it cannot be set")
        integer = el is None and DICA_FIELDS[name][2] is int
        v = _num(ww, v, integer=integer)
        rlo, rhi = (0.0, 1.0) if el is not None else RANGES[name]
        if not rlo <= v <= rhi:
            raise ConfigError(f"{ww}: {v} is outside the accepted range [{rlo}, {rhi}]")
        cfg.overrides[name] = v

    filler = doc.get("composition", {}).get("filler", "O")
    if filler not in Z_OF and not (layered and filler in ISOTOPES):
        raise ConfigError(f"{path}: [composition] filler: unknown element {filler!r}")
    cfg.filler = filler
    if layered:
        _check_zones(path, cfg, zones)
        return _check_inputs(_fit_section(path, cfg, fit, doc, w, base), dica, w)
    if any(zone_fraction_of(n) for n in [*cfg.names, *cfg.overrides]):
        raise ConfigError(f"{path}: [parameters]/[overrides]: X(El)@k names a zone; the model "
                          f"{model_dir} has comp.ind (one uniform composition), not zones.dat")
    # The free and fixed fractions at their lower bounds must leave room for the filler.
    fixed = {element_of(n): v for n, v in cfg.overrides.items() if element_of(n)}
    free = {element_of(n): lo for n, (lo, _) in zip(cfg.names, cfg.bounds) if element_of(n)}
    total = sum(base_comp)
    xs = {z: f / total for z, f in enumerate(base_comp, start=1)}
    xs.update({Z_OF[el]: v for el, v in {**fixed, **free}.items()})
    least = sum(v for z, v in xs.items() if z != Z_OF[filler])
    if least > 1.0 + 1e-12:
        raise ConfigError(f"{path}: [parameters]/[overrides]: the mass fractions other than "
                          f"the filler {filler} sum to {least:.4g} > 1 even at the lower bounds")

    return _check_inputs(_fit_section(path, cfg, fit, doc, w, base), dica, w)


def _check_zones(path, cfg, zones):
    """The zone fractions of a model with zones.dat: zones that exist, and room for the
    filler in each zone changed with the fractions at their lower bounds."""
    names = [*cfg.names, *cfg.overrides]
    if any(element_of(n) for n in names):
        raise ConfigError(f"{path}: [parameters]/[overrides]: the model has zones.dat: name the zone of a "
                          f"mass fraction, X(El)@k (k = 1 innermost .. {zones.nz})")
    least = {n: lo for n, (lo, _) in zip(cfg.names, cfg.bounds)}
    least.update(cfg.overrides)
    rows = {}
    for n in names:
        zf = zone_fraction_of(n)
        if zf is None:
            continue
        col, k = zf
        if not 1 <= k <= zones.nz:
            raise ConfigError(f"{path}: {n}: zones.dat has zones 1..{zones.nz} (1 innermost), not {k}")
        rows.setdefault(k, {})[col] = least[n]
    x = zones.normalised()
    for k, set_ in sorted(rows.items()):
        row = {c: float(v[k - 1]) for c, v in x.items()}
        row.update(set_)
        rest = sum(v for c, v in row.items() if c != cfg.filler)
        if rest > 1.0 + 1e-12:
            raise ConfigError(f"{path}: [parameters]/[overrides]: in zone {k} the mass fractions other than the "
                              f"filler {cfg.filler} sum to {rest:.4g} > 1 even at the lower bounds")


def _fit_section(path, cfg, fit, doc, w, base):
    cfg.method = fit.get("method", "differential_evolution")
    if cfg.method != "differential_evolution":
        raise ConfigError(f"{w('fit', 'method')}: only \"differential_evolution\" is available")
    cfg.max_evaluations = _num(w("fit", "max_evaluations"), fit.get("max_evaluations", 400), True)
    cfg.seed = _num(w("fit", "seed"), fit.get("seed", 1), True)
    cfg.popsize = _num(w("fit", "popsize"), fit.get("popsize", 10), True)
    if cfg.max_evaluations < 1 or cfg.popsize < 1 or cfg.seed < 0:
        raise ConfigError(f"{path}: [fit] max_evaluations and popsize must be >= 1, seed >= 0")
    mut = fit.get("mutation", [0.5, 1.0])
    if isinstance(mut, list):
        if len(mut) != 2:
            raise ConfigError(f"{w('fit', 'mutation')}: a number or a pair [min, max]")
        mut = tuple(float(_num(w("fit", "mutation"), v)) for v in mut)
        if not 0 <= mut[0] <= mut[1] < 2:
            raise ConfigError(f"{w('fit', 'mutation')}: need 0 <= min <= max < 2")
    else:
        mut = float(_num(w("fit", "mutation"), mut))
        if not 0 <= mut < 2:
            raise ConfigError(f"{w('fit', 'mutation')}: need 0 <= mutation < 2")
    cfg.mutation = mut
    cfg.recombination = float(_num(w("fit", "recombination"), fit.get("recombination", 0.7)))
    if not 0 <= cfg.recombination <= 1:
        raise ConfigError(f"{w('fit', 'recombination')}: need 0 <= recombination <= 1")
    cfg.tol = float(_num(w("fit", "tol"), fit.get("tol", 0.01)))
    cfg.timeout = float(_num(w("fit", "timeout"), fit.get("timeout", 600.0)))
    cfg.retries = _num(w("fit", "retries"), fit.get("retries", 2), True)
    if cfg.tol < 0 or cfg.timeout <= 0 or cfg.retries < 0:
        raise ConfigError(f"{path}: [fit] need tol >= 0, timeout > 0, retries >= 0")
    cfg.keep_runs = fit.get("keep_runs", False)
    if not isinstance(cfg.keep_runs, bool):
        raise ConfigError(f"{w('fit', 'keep_runs')}: true or false")
    cfg.warm_start = fit.get("warm_start", True)
    if not isinstance(cfg.warm_start, bool):
        raise ConfigError(f"{w('fit', 'warm_start')}: true or false")
    cfg.polish = float(_num(w("fit", "polish"), fit.get("polish", 0.0)))
    if not 0 <= cfg.polish < 1:
        raise ConfigError(f"{w('fit', 'polish')}: a share of max_evaluations, 0 <= share < 1")
    cfg.warm_radius = float(_num(w("fit", "warm_radius"), fit.get("warm_radius", 0.1)))
    if not cfg.warm_radius > 0:
        raise ConfigError(f"{w('fit', 'warm_radius')}: need > 0 (rms distance in bound ranges)")
    cfg.packet_ramp = float(_num(w("fit", "packet_ramp"), fit.get("packet_ramp", 1.0)))
    if not 0 < cfg.packet_ramp <= 1:
        raise ConfigError(f"{w('fit', 'packet_ramp')}: a share of the packets, 0 < f <= 1 "
                          f"(1: no ramp)")
    cfg.output = _path(base, w("fit", "output"), fit["output"])

    cl = doc.get("cluster", {})
    cfg.scheduler = cl.get("scheduler", "")
    if not isinstance(cfg.scheduler, str):
        raise ConfigError(f"{path}: [cluster] scheduler: an address text such as "
                          f"\"tcp://127.0.0.1:8786\", or \"\"")
    cfg.workers = _num(f"{path}: [cluster] workers", cl.get("workers", 0), True)
    if cfg.workers < 0:
        raise ConfigError(f"{path}: [cluster] workers: need >= 0 (0: one per core)")
    tls = [cl.get(k) for k in ("tls_ca_file", "tls_cert", "tls_key")]
    if any(v is not None for v in tls):
        for k, v in zip(("tls_ca_file", "tls_cert", "tls_key"), tls):
            if v is None:
                raise ConfigError(f"{path}: [cluster] {k} is missing (TLS needs "
                                  f"tls_ca_file, tls_cert and tls_key)")
        tls = [_path(base, w("cluster", k), v)
               for k, v in zip(("tls_ca_file", "tls_cert", "tls_key"), tls)]
        for k, v in zip(("tls_ca_file", "tls_cert", "tls_key"), tls):
            if not os.access(v, os.R_OK) or not os.path.isfile(v):
                raise ConfigError(f"{w('cluster', k)}: {v} is not a readable file")
        cfg.tls = tuple(tls)
    return cfg


def _check_inputs(cfg: Config, dica: Dica, w) -> Config:
    """What every model would meet, checked before the output directory is made: the
    program's limits on dica.dat with the overrides and at each bound of a fitted value,
    the wavelength grid against the windows, the observed spectrum in the windows, and
    the program itself."""
    from ..runner import find_binary
    from .objective import Observed
    dpath = os.path.join(cfg.model_dir, "dica.dat")
    for name, v in cfg.overrides.items():
        if name in DICA_FIELDS:
            dica.set(name, v)
    try:
        dica.params().check()
    except McspecError as e:
        named = [n for n in cfg.overrides if f"{n} =" in str(e)]
        where = f"{cfg.path}: [overrides] {', '.join(named)}" if named else dpath
        raise ConfigError(f"{where}: the program would refuse every model: {e}") from None
    for name, (lo, hi) in zip(cfg.names, cfg.bounds):
        if name not in DICA_FIELDS:
            continue
        for v in (lo, hi):
            d = Dica(dica.text())
            d.set(name, v)
            try:
                d.params().check()
            except McspecError as e:
                raise ConfigError(f"{cfg.path}: [parameters] {name}: at the bound {v} the "
                                  f"program would refuse the model: {e}") from None
    # The grid every model shares: the narrowest one the bounds allow.
    bounds = dict(zip(cfg.names, cfg.bounds))
    g_lo = bounds["WVM1"][1] if "WVM1" in bounds else dica.get("WVM1")
    g_hi = bounds["WVM2"][0] if "WVM2" in bounds else dica.get("WVM2")
    for i, (lo, hi) in enumerate(cfg.windows):
        if lo < g_lo * 1e4 or hi > g_hi * 1e4:
            raise ConfigError(f"{w('observed', 'windows')}[{i}]: [{lo}, {hi}] A lies outside "
                              f"the model's wavelength grid {g_lo * 1e4:.0f}-{g_hi * 1e4:.0f} A "
                              f"(WVM1, WVM2 of dica.dat after [overrides] and at the bounds "
                              f"of [parameters])")
    z = cfg.redshift if cfg.redshift is not None else dica.get("ZRED")
    try:
        Observed.from_file(cfg.observed_file, cfg.windows, cfg.noise_floor, cfg.wavelengths,
                           cfg.frame, z)
    except McspecError as e:
        where = "" if cfg.observed_file in str(e) else f"{cfg.observed_file}: "
        raise ConfigError(f"{w('observed', 'file')}: {where}{e}") from None
    try:
        cfg.binary = str(find_binary(cfg.binary or None))
    except McspecError as e:
        raise ConfigError(f"{w('model', 'binary')}: {e}") from None
    return cfg
