#!/usr/bin/env python3
"""Writes the W7 model's composition by velocity as a zones.dat for mcspec: its own
layers instead of one mixed composition.

The model (data/sources/pubsed/tests/w7/w7.mod, see data/sources/PROVENANCE.md) is a
homologous "1D_sphere SNR" table: line 2 gives 100 cells, the inner boundary velocity
0 and the time 86400 s of the densities, and 15 species; line 3 the species as Z.A
(2.4 6.12 8.16 10.20 11.22 12.24 14.28 16.32 18.36 20.40 22.44 24.48 26.52 27.54 28.56);
then per cell its outer velocity (cm/s), density (g/cm^3) at 86400 s, temperature, and
the 15 mass fractions.

What the species stand for:
- Every species is labelled A = 2Z (even Na 11.22 and Co 27.54), so the labels name
  elements, not isotopes: each column holds the whole element.
- The fractions are those at the end of burning, before any decay: where the table is
  nickel only (5000 to 8800 km/s, 99 % Z = 28) it has no cobalt at all, whereas at
  86400 s a tenth of 56Ni (half-life 6.08 d) would have become 56Co.
- Z = 28 is radioactive 56Ni outside the neutron-rich core. In the core, the cells from
  the centre out to the first one with less than 1e-3 iron (here below 4800 km/s, the
  inner 0.33 solar masses), electron captures made neutron-rich matter: its nickel is
  stable (58Ni) and written as Ni. This leaves 0.545 solar masses of 56Ni; the whole of
  Z = 28 would be 0.787, far above the 0.59 published for W7, whose stable 58Ni and
  57Ni make up most of the difference.
- Z = 26 (labelled 52) is stable iron: 54Fe and 56Fe of the core, and iron of
  incomplete silicon burning (mostly 54Fe; the 52Fe of those layers, under 0.01 solar
  masses in W7, is not separated). Z = 27 is stable cobalt (no 56Co before decay),
  Z = 24 stable chromium, Z = 22 titanium (zero here).
So the one radioactive column is Ni56; mcspec decays it to the epoch (Ni56 -> Co56 -> Fe).

Every cell is a zone by default; --zones N joins neighbouring cells into N zones of
(nearly) equal numbers of cells, each fraction weighted by the cells' masses (density
times shell volume at the model's time). The density profile needs no file of its own:
the data directory's rhw7.dat (tools/build_atomic_data.py) is this model's density at
the cell centres at 86400 s, which mcspec uses without a hydro.dat.

Writes OUTDIR/zones.dat (the directory is made if need be; an existing zones.dat is never
overwritten) and prints the masses. Standard library only.

    usage: w7_zones.py [--model FILE] [--zones N] OUTDIR
"""

import argparse
import math
import os
import shlex
import sys
import tempfile

from build_atomic_data import SourceError, fail, read_model

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
MODEL = os.path.join(REPO, "data", "sources", "pubsed", "tests", "w7", "w7.mod")
MSUN = 1.989e33  # g
SYMBOLS = ("H He Li Be B C N O F Ne Na Mg Al Si P S Cl Ar K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn "
           "Ga Ge As Se Br Kr Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Sb Te I Xe Cs Ba La Ce "
           "Pr Nd").split()
CORE_IRON = 1e-3  # the neutron-rich core: cells from the centre with at least this much Fe


def columns(path, t, vin, species, zones):
    """Column names and per cell (outer velocity km/s, mass g, fractions by column)."""
    iron = [c for c, (z, a) in enumerate(species) if z == 26]
    names = []
    for z, a in species:
        if z > len(SYMBOLS):
            fail(path, 3, "Z = %d, above %d" % (z, len(SYMBOLS)), "species %d.%d" % (z, a))
        names.append(SYMBOLS[z - 1])
    ni = [c for c, (z, a) in enumerate(species) if z == 28]
    names += ["Ni56"] * bool(ni)
    cells, core = [], bool(iron)
    for n, v, rho, x in zones:
        core = core and sum(x[c] for c in iron) >= CORE_IRON
        x = list(x) + [0.0] * bool(ni)
        for c in ni:
            if not core:
                x[-1], x[c] = x[-1] + x[c], 0.0
        mass = 4.0 / 3.0 * math.pi * ((v * t) ** 3 - (vin * t) ** 3) * rho
        cells.append((v / 1e5, mass, x))
        vin = v
    return names, cells


def merge(cells, n):
    """n zones of neighbouring cells, fractions weighted by mass."""
    out = []
    for k in range(n):
        group = cells[round(k * len(cells) / n):round((k + 1) * len(cells) / n)]
        m = sum(c[1] for c in group)
        x = [sum(c[1] * c[2][i] for c in group) / m for i in range(len(group[0][2]))]
        out.append((group[-1][0], m, x))
    return out


def write_new(path, text):
    """Writes path, which must not exist, whole or not at all."""
    d = os.path.dirname(path)
    fd, tmp = tempfile.mkstemp(prefix=".zones.partial-", dir=d)
    try:
        with os.fdopen(fd, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.link(tmp, path)  # fails if path exists: nothing is overwritten
    finally:
        os.unlink(tmp)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--model", default=MODEL, help="the W7 table (default: the vendored w7.mod)")
    ap.add_argument("--zones", type=int, help="join the cells into this many zones (default: every cell)")
    ap.add_argument("outdir", help="directory to write zones.dat into")
    a = ap.parse_args(argv)
    out = os.path.join(a.outdir, "zones.dat")
    try:
        if os.path.lexists(out):
            raise SourceError("%s exists already; it is never overwritten (remove it first)" % out)
        t, vin, species, rows = read_model(a.model)
        names, cells = columns(a.model, t, vin, species, rows)
        if a.zones is not None and not 1 <= a.zones <= len(cells):
            raise SourceError("--zones %d: must be 1 to %d (the model's cells)" % (a.zones, len(cells)))
        if a.zones is not None:
            cells = merge(cells, a.zones)
        total = sum(c[1] for c in cells)
        mass = {nm: sum(c[1] * c[2][i] for c in cells) / MSUN for i, nm in enumerate(names)}
        model = os.path.abspath(a.model)
        shown = os.path.relpath(model, REPO) if model.startswith(REPO + os.sep) else a.model
        head = [
            "# W7 (Nomoto, Thielemann & Yokoi 1984, ApJ 286, 644) in %d velocity zones" % len(cells),
            "# made by: tools/w7_zones.py %s" % " ".join(shlex.quote(x) for x in argv),
            "# from: %s (%d cells, densities at %.0f s, %.4f Msun)" % (shown, len(rows), t, total / MSUN),
            "# mass fractions at the time of explosion (before decay); Ni56 is the only radioactive",
            "# column: Z = 28 outside the neutron-rich core, where stable Ni is written as Ni",
            "# masses (Msun): " + " ".join("%s %.4f" % (nm, mass[nm]) for nm in names if mass[nm] > 0),
            " ".join(["v_outer"] + names),
        ]
        body = ["%.3f" % v + "".join(" %.5e" % y for y in x) for v, m, x in cells]
        os.makedirs(a.outdir, exist_ok=True)
        write_new(out, "\n".join(head + body) + "\n")
    except (SourceError, OSError) as e:
        print("w7_zones: stopped: %s" % e, file=sys.stderr)
        return 2
    print("w7_zones: %d zones, %.4f Msun, Ni56 %.4f Msun, stable Ni %.4f Msun -> %s"
          % (len(cells), total / MSUN, mass.get("Ni56", 0.0), mass.get("Ni", 0.0), out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
