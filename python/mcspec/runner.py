"""Running mcspec from Python: inputs written (or copied) into a new directory, the
program run there, the results read back.

The program is found as: the `binary` argument, else the environment variable
MCSPEC_BINARY, else build/mcspec of the checkout this package lives in, else `mcspec` on
the PATH (an installed program, `make install`).
"""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from pathlib import Path
from typing import Mapping, Optional, Sequence, Union

from .errors import InputValueError, RunError, RunFailed
from .inputs import Params, read_dica, write_comp, write_dica, write_hydro, write_zones
from .outputs import RunResult, read_run

__all__ = ["run", "find_binary", "RunFailed"]

REPO = Path(__file__).resolve().parents[2]


def find_binary(binary: Optional[Union[str, Path]] = None) -> Path:
    """The program to run.

    Parameters
    ----------
    binary : str or Path, optional
        Its path; else $MCSPEC_BINARY, else build/mcspec of the checkout holding this
        package, else mcspec on the PATH.

    Returns
    -------
    Path
        The resolved path of an executable file.

    Raises
    ------
    RunError
        No executable file there.
    """
    cand = binary or os.environ.get("MCSPEC_BINARY")
    if not cand:
        checkout = REPO / "build" / "mcspec"
        cand = checkout if checkout.is_file() else shutil.which("mcspec") or checkout
    p = Path(cand)
    if not (p.is_file() and os.access(p, os.X_OK)):
        raise RunError(f"the mcspec program was not found at {p} nor on the PATH; build it (make build), "
                       f"install it (make install) or set MCSPEC_BINARY")
    return p.resolve()


def _place(value, name: str, directory: Path, writer) -> None:
    """Put one input into the run directory: a path is copied, anything else written."""
    if value is None:
        return
    if isinstance(value, (str, os.PathLike)):
        src = Path(value)
        if not src.is_file():
            raise InputValueError(f"{src}: no such input file (for {name})")
        shutil.copyfile(src, directory / name)
    else:
        writer(directory / name, value)


def run(dica: Union[Params, Mapping, str, os.PathLike, None] = None,
        comp: Union[Sequence[float], Mapping, str, os.PathLike, None] = None,
        hydro: Union[tuple, str, os.PathLike, None] = None, *, example: Optional[Union[str, os.PathLike]] = None,
        mcdata: Optional[Union[str, os.PathLike]] = None, workdir: Optional[Union[str, os.PathLike]] = None,
        env: Optional[Mapping[str, str]] = None, binary: Optional[Union[str, os.PathLike]] = None,
        timeout: Optional[float] = None, seed: Optional[int] = None, zones=None, **params) -> RunResult:
    """Run mcspec in a new directory and return its results.

    Parameters
    ----------
    dica : Params, dict, str or Path, optional
        Params, a dict of parameter values, or the path of a dica.dat (default Params()).
    comp : sequence of float, dict, str or Path
        Mass fractions (sequence from Z = 1, or dict {Z or symbol: fraction}) or the path
        of a comp.ind.
    hydro : tuple, str or Path, optional
        None (the data directory's W7 profile), the path of a hydro.dat, or a tuple
        (time in s, radii in cm, densities in g cm^-3).
    example : str or Path, optional
        A directory holding dica.dat / comp.ind or zones.dat / hydro.dat used for whatever
        of dica, comp (or zones), hydro is not given. A relative path not found from the
        current directory is looked for in the checkout holding this package
        (examples/sn2011fe-max).
    mcdata : str or Path, optional
        The atomic-data directory (else the environment's MCDATA).
    workdir : str or Path, optional
        The run directory, created new (must not exist); default a new temporary
        directory, kept after the run (its path is result.directory).
    env : dict, optional
        Extra environment variables (e.g. {"MCSPEC_ION_SPECTRUM": "1"}).
    binary : str or Path, optional
        The program (see `find_binary`).
    timeout : float, optional
        Seconds the run may take.
    seed : int, optional
        The random seed (ISEED); the same as iseed=.
    zones : Zones, str or Path, optional
        The composition by velocity zones instead of `comp`: a `mcspec.inputs.Zones` or
        the path of a zones.dat (the run then writes composition.dat).
    **params
        Single parameters over dica (np4=1, iseed=5, ...; units as in Params).

    Returns
    -------
    RunResult
        `read_run` of the directory, with .stdout and .stderr.

    Raises
    ------
    InputValueError
        A bad input or argument (nothing is run).
    RunFailed
        The program ended with a non-zero status; the message is its own.
    RunError
        The program not found, or not finished within `timeout`.
    """
    exe = find_binary(binary)
    if seed is not None:
        if "iseed" in params and params["iseed"] != seed:
            raise InputValueError(f"seed={seed!r} and iseed={params['iseed']!r} disagree; give one")
        params["iseed"] = seed
    if example is not None:
        ex = Path(example)
        if not ex.is_dir() and not ex.is_absolute() and (REPO / ex).is_dir():
            ex = REPO / ex
        if not ex.is_dir():
            where = f"{ex.resolve()}" + ("" if ex.is_absolute() else f" nor {REPO / ex}")
            raise InputValueError(f"{example}: no such example (no directory {where})")
        if not any((ex / f).exists() for f in ("dica.dat", "comp.ind", "zones.dat", "hydro.dat")):
            raise InputValueError(f"{ex}: not an example (no dica.dat, comp.ind, zones.dat or hydro.dat)")
        if dica is None and (ex / "dica.dat").exists():
            dica = ex / "dica.dat"
        if comp is None and zones is None and (ex / "zones.dat").exists():
            zones = ex / "zones.dat"
        if comp is None and zones is None and (ex / "comp.ind").exists():
            comp = ex / "comp.ind"
        if hydro is None and (ex / "hydro.dat").exists():
            hydro = ex / "hydro.dat"
    if dica is None:
        dica = Params()
    if (comp is None) == (zones is None):
        raise InputValueError("run needs one composition: comp=... (uniform) or zones=... (by velocity zones)")
    if params:
        base = read_dica(dica) if isinstance(dica, (str, os.PathLike)) else (
            Params().replace(**dica) if isinstance(dica, Mapping) else dica)
        dica = base.replace(**params)
    elif isinstance(dica, Mapping):
        dica = Params().replace(**dica)
    if isinstance(dica, Params):
        dica.check()  # before anything is created

    if workdir is None:
        d = Path(tempfile.mkdtemp(prefix="mcspec-run-"))
    else:
        d = Path(workdir)
        try:
            d.mkdir(parents=True)
        except FileExistsError:
            raise InputValueError(f"{d}: exists already; a run needs a new directory") from None

    _place(dica, "dica.dat", d, write_dica)
    _place(comp, "comp.ind", d, write_comp)
    _place(zones, "zones.dat", d, write_zones)
    if hydro is not None and not isinstance(hydro, (str, os.PathLike)):
        t, r, rho = hydro
        write_hydro(d / "hydro.dat", t, r, rho)
    else:
        _place(hydro, "hydro.dat", d, None)

    e = dict(os.environ)
    if mcdata is not None:
        e["MCDATA"] = str(Path(mcdata).resolve())
    if env:
        e.update({k: str(v) for k, v in env.items()})
    if not e.get("MCDATA"):
        raise InputValueError("no atomic-data directory: pass mcdata=... or set MCDATA")
    e["PWD"] = str(d)
    try:
        proc = subprocess.run([str(exe)], cwd=d, env=e, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as t:
        raise RunError(f"mcspec in {d} did not finish within {timeout} s") from t
    if proc.returncode != 0:
        msg = proc.stderr.strip() or f"mcspec ended with status {proc.returncode}"
        raise RunFailed(msg, proc.returncode, d, proc.stdout, proc.stderr)
    result = read_run(d)
    result.stdout, result.stderr = proc.stdout, proc.stderr
    return result
