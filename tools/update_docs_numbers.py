#!/usr/bin/env python3
"""Numbers the documentation quotes from runs of the examples, taken from the runs.

A quoted number is marked in README.md, examples/*/README.md and docs/*.md as

    <!-- run:EXAMPLE:KEY -->VALUE<!-- /run -->

This tool runs every example that is quoted, as `make example` does (its own inputs and
seed, the single random sequence: the same bytes on any machine and thread count), and
rewrites the marked values; with --check it only compares them and lists every
difference (exit status 1). KEYS below names what can be quoted.

  usage: tools/update_docs_numbers.py [--check] [--binary MCSPEC] [--mkdata MKDATA] [--mcdata DIR]

The program is --binary, else $MCSPEC_BINARY, else build/mcspec; mkdata likewise
($MCSPEC_MKDATA, build/mkdata). The type Ia data directory is --mcdata, else
build/mcdata when it is built and up to date (make data), else one built into a temporary directory.
"""

from __future__ import annotations

import argparse
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "python"))

C_KMS = 299792.458
OBSERVED = REPO / "data/observed/SN2011fe_2011-09-10_09-22-00_HST_STIS_HST-Ia.dat"
FILTERS = REPO / "data/sources/speclite/speclite/data/filters"
MARK = re.compile(r"<!-- run:([\w-]+):(\w+) -->(.*?)<!-- /run -->")


def _stdout_int(text: str, label: str) -> str:
    m = re.search(re.escape(label) + r"\s*=\s*(\d+)", text)
    if not m:
        raise SystemExit(f"update_docs_numbers: the run printed no '{label}'")
    return m.group(1)


def _extremum(r, lo, hi, lowest):
    """Wavelength (A) of the highest or lowest formal-integral flux between lo and hi."""
    import numpy as np
    w, f = r.spct[:, 0], r.spct[:, 1]
    m = (w >= lo) & (w <= hi)
    return float(w[m][(np.argmin if lowest else np.argmax)(f[m])])


def _angstrom(lam):
    """A wavelength to the whole angstrom, halves up (the grid's centres often end in .5)."""
    return str(math.floor(lam + 0.5))


def _blueshift(lam, rest):
    """Velocity (km/s, to 50) of an absorption at lam of a line at rest."""
    return f"{round(C_KMS * (1 - lam / rest) / 50) * 50:.0f}"


def sn2011fe_numbers(r, stdout):
    from mcspec.plot import compare_observed
    cmp = compare_observed(r, OBSERVED)
    out = {f"ratio_{lo:.0f}": f"{ratio:.2f}" for lo, hi, s, o, ratio in cmp["bands"]}
    out["si_min"] = _angstrom(cmp["si_min"][0])
    out["si_velocity"] = f"{round(cmp['si_velocity'][0] / 100) * 100:.0f}"
    out["si_kms"] = f"{cmp['si_velocity'][0]:.0f}"
    out["obs_si_kms"] = f"{cmp['si_velocity'][1]:.0f}"
    out["obs_si_min"] = _angstrom(cmp["si_min"][1])
    out["obs_si_velocity"] = f"{round(cmp['si_velocity'][1] / 100) * 100:.0f}"
    out["B"] = f"{r.summary.magnitudes['B']:.2f}"
    out["levels"] = _stdout_int(stdout, "Total no. enrg lvls")
    out["ions"] = _stdout_int(stdout, "Total no. ions")
    out["lines_kept"] = _stdout_int(stdout, "Total No. Included")
    out["last_pass"] = str(r.log.passes[-2].number)
    return out


def hydrogen_numbers(r, stdout):
    m = r.summary.magnitudes
    out = {"M_V": f"{m['M_V']:.1f}", "B_V": f"{m['B-V']:.2f}", "last_pass": str(r.log.passes[-2].number)}
    for name, rest, lo, hi in (("halpha", 6562.8, 6250, 6700), ("hbeta", 4861.3, 4650, 4950)):
        peak, trough = _extremum(r, rest - 100, hi, False), _extremum(r, lo, rest, True)
        out[f"{name}_peak"], out[f"{name}_trough"] = _angstrom(peak), _angstrom(trough)
        out[f"{name}_velocity"] = _blueshift(trough, rest)
    return out


EXTRACT = {"sn2011fe-max": sn2011fe_numbers, "sn2011fe-w7-layered": sn2011fe_numbers,
           "hydrogen-envelope": hydrogen_numbers}
IA_KEYS = ("ratio_3500 ratio_4500 ratio_5500 ratio_6500 (model/observed, as make example prints) si_min (A) "
           "si_velocity (km/s, to 100) si_kms (km/s) obs_si_min obs_si_velocity obs_si_kms (the observed "
           "spectrum's) B levels ions lines_kept last_pass")
KEYS = {"sn2011fe-max": IA_KEYS, "sn2011fe-w7-layered": IA_KEYS,
        "hydrogen-envelope": "M_V B_V last_pass halpha_peak halpha_trough halpha_velocity hbeta_peak "
                             "hbeta_trough hbeta_velocity"}


def documents():
    return [REPO / "README.md", *sorted(REPO.glob("examples/*/README.md")), *sorted(REPO.glob("docs/*.md"))]


def run_example(name, binary, data, top):
    import mcspec
    d = top / name
    d.mkdir()
    for f in ("dica.dat", "comp.ind", "zones.dat", "hydro.dat"):
        if (REPO / "examples" / name / f).exists():
            shutil.copy(REPO / "examples" / name / f, d)
    env = {k: v for k, v in os.environ.items() if not k.startswith("MCSPEC_")}
    p = subprocess.run([str(binary)], cwd=d, env=dict(env, MCDATA=str(data), MCSPEC_QUIET="1"),
                       capture_output=True, text=True)
    if p.returncode:
        raise SystemExit(f"update_docs_numbers: {name} failed (status {p.returncode}): {p.stderr.strip()}")
    return EXTRACT[name](mcspec.read_run(d), p.stdout)


def data_dir(name, args, top):
    if name == "hydrogen-envelope":
        d = top / "mcdata-hydrogenic"
        subprocess.run([str(args.mkdata), "--bessell", str(FILTERS), str(d)], check=True, capture_output=True)
        return d
    if args.mcdata:
        return Path(args.mcdata)
    report = REPO / "build/mcdata/BUILD-REPORT.txt"
    if report.exists() and report.stat().st_mtime >= (REPO / "tools/build_atomic_data.py").stat().st_mtime:
        return report.parent
    d = top / "mcdata"
    if (d / "BUILD-REPORT.txt").exists():  # built already for another example of this call
        return d
    subprocess.run([sys.executable, str(REPO / "tools/build_atomic_data.py"), str(d)], check=True,
                   capture_output=True)
    return d


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--check", action="store_true", help="compare only; exit status 1 on a difference")
    ap.add_argument("--binary", default=os.environ.get("MCSPEC_BINARY") or REPO / "build/mcspec")
    ap.add_argument("--mkdata", default=os.environ.get("MCSPEC_MKDATA") or REPO / "build/mkdata")
    ap.add_argument("--mcdata", help="atomic-data directory of the type Ia example")
    args = ap.parse_args(argv)
    args.binary, args.mkdata = Path(args.binary).resolve(), Path(args.mkdata).resolve()
    texts = {p: p.read_text() for p in documents()}
    wanted = sorted({m.group(1) for t in texts.values() for m in MARK.finditer(t)})
    unknown = [w for w in wanted if w not in EXTRACT]
    if unknown:
        raise SystemExit(f"update_docs_numbers: no example {unknown} (known: {sorted(EXTRACT)})")
    with tempfile.TemporaryDirectory(prefix="docs-numbers-") as tmp:
        top = Path(tmp)
        values = {name: run_example(name, args.binary, data_dir(name, args, top), top) for name in wanted}
    bad = []
    for path, text in texts.items():
        def put(m):
            ex, key, quoted = m.groups()
            if key not in values[ex]:
                raise SystemExit(f"update_docs_numbers: {path.relative_to(REPO)}: no number '{key}' for {ex} "
                                 f"(known: {KEYS[ex]})")
            if quoted != values[ex][key]:
                line = text.count("\n", 0, m.start()) + 1
                bad.append(f"{path.relative_to(REPO)}:{line}: {ex}:{key} quoted {quoted}, the run gives "
                           f"{values[ex][key]}")
            return f"<!-- run:{ex}:{key} -->{values[ex][key]}<!-- /run -->"
        new = MARK.sub(put, text)
        if new != text and not args.check:
            path.write_text(new)
    for b in bad:
        print(b)
    print(f"update_docs_numbers: {sum(len(MARK.findall(t)) for t in texts.values())} quoted numbers, "
          f"{len(bad)} {'differ' if args.check else 'updated'}")
    return 1 if bad and args.check else 0


if __name__ == "__main__":
    sys.exit(main())
