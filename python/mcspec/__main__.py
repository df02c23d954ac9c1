"""Command line: python3 -m mcspec COMMAND ...

  plot RUN_DIR [--observed FILE] [--out DIR] [--formats png,svg]
        spectrum, temperature structure, (when ionspec.dat exists) ions and (when
        composition.dat exists: a run with zones.dat) composition plots
  spectrum RUN_DIR [--observed FILE] [-o FILE ...]   the spectrum plot only
  temperature RUN_DIR [-o FILE ...]                  temperature structure per pass
  ions RUN_DIR [--top N] [-o FILE ...]               escaping luminosity by ion
  report RUN_DIR --observed FILE [--out DIR]         spectrum with the observed one and
                                                     a printed comparison
  summary RUN_DIR                                    magnitudes, passes, strongest emitters
  fit CONFIG.toml                                    fit a spectrum, or with [[epoch]]
                                                     tables a spectral sequence (mcspec.fit)

Exit status: 0 done, 1 a file could not be read or written, 2 wrong usage.
"""

from __future__ import annotations

import argparse
import math
import sys
from pathlib import Path


def _read_run(args, partial=False):
    from .outputs import read_run
    return read_run(args.run, partial=partial)


def _outputs(args, stem):
    if args.output:
        return args.output
    d = Path(args.out) if args.out else Path(args.run)
    return [d / f"{stem}.{f}" for f in args.formats.split(",") if f]


def _common(p, out=True):
    p.add_argument("run", help="run directory (holds stst.dat, spct.dat, ...)")
    if out:
        p.add_argument("-o", "--output", action="extend", nargs="+", metavar="FILE",
                       help="output file(s), e.g. -o a.png a.svg (repeatable; format from the suffix)")
        p.add_argument("--out", help="directory for the plots (default: the run directory)")
        p.add_argument("--formats", default="png,svg", help="formats when --output is not given (default png,svg)")
        p.add_argument("--title", help="plot title")


def cmd_spectrum(args):
    from . import plot
    return plot.plot_spectrum(args.run, _outputs(args, "spectrum"), observed=args.observed, title=args.title,
                              markers=not args.no_markers)


def cmd_temperature(args):
    from . import plot
    return plot.plot_temperature(args.run, _outputs(args, "temperature"), title=args.title)


def cmd_ions(args):
    from . import plot
    return plot.plot_ions(args.run, _outputs(args, "ions"), top=args.top, title=args.title, rebin=args.rebin)


def cmd_plot(args):
    """Every plot the run's files allow; a run that stopped (an incomplete-* directory)
    gets those of the files it wrote, with a note on the others."""
    from . import plot
    r = _read_run(args, partial=True)
    written = []
    if r.spct is not None and len(r.spct):
        written += plot.plot_spectrum(r, _outputs(args, "spectrum"), observed=args.observed, title=args.title,
                                      markers=not args.no_markers)
    else:
        print(f"mcspec: no spectrum plot: spct.dat {r.problems.get('spct.dat', 'missing')}", file=sys.stderr)
    if r.log is not None and r.log.passes:
        written += plot.plot_temperature(r, _outputs(args, "temperature"))
    else:
        print("mcspec: no temperature plot: stst.dat records no temperature pass", file=sys.stderr)
    if r.problems:
        print(f"mcspec: {r.directory} is incomplete: " + "; ".join(f"{k}: {v}" for k, v in r.problems.items()),
              file=sys.stderr)
    written += _ions_and_composition(plot, r, args)
    return written


def _ions_and_composition(plot, r, args):
    """The plots of the escaping light by ion and, for a layered run, of the composition."""
    written = []
    if r.ion_spectrum is not None:
        written += plot.plot_ions(r, _outputs(args, "ions"), top=args.top)
    else:
        print(f"mcspec: no ions plot: {plot.ION_SPECTRUM_HINT}", file=sys.stderr)
    if r.composition is not None and r.composition.layered:
        written += plot.plot_composition(r, _outputs(args, "composition"))
    return written


def comparison_text(cmp, observed_name) -> str:
    lines = [f"Comparison with {observed_name} (rest-frame air wavelengths; synthetic: formal integral,",
             "F_lambda at the run's distance without reddening; observed: as given, Galactic extinction removed)",
             "  band (A)      mean synthetic  mean observed  synthetic/observed"]
    for lo, hi, s, o, ratio in cmp["bands"]:
        lines.append(f"  {lo:4.0f}-{hi:4.0f}    {s:11.3e}     {o:11.3e}     {ratio:6.2f}")
    (sw, ow), (sv, ov) = cmp["si_min"], cmp["si_velocity"]
    fmt = lambda x, f: "none" if not math.isfinite(x) else format(x, f)
    lines.append(f"  Si II 6355 absorption minimum: synthetic {fmt(sw, '.0f')} A ({fmt(sv, '.0f')} km/s), "
                 f"observed {fmt(ow, '.0f')} A ({fmt(ov, '.0f')} km/s)")
    return "\n".join(lines)


def cmd_report(args):
    from . import plot
    r = _read_run(args)
    written = plot.plot_spectrum(r, _outputs(args, "spectrum"), observed=args.observed, title=args.title,
                                 observed_label=args.observed_label)
    written += plot.plot_temperature(r, _outputs(args, "temperature"))
    written += _ions_and_composition(plot, r, args)
    if args.observed:
        cmp = plot.compare_observed(r, args.observed)
        print(comparison_text(cmp, args.observed_label or Path(args.observed).name))
    return written


def cmd_summary(args):
    r = _read_run(args)
    m = r.summary.magnitudes if r.summary else {}
    print(f"{r.directory}")
    if r.log:
        print(f"  temperature passes: {[t.number for t in r.log.passes]}, Monte Carlo runs: {len(r.log.reports)}")
    if m:
        print("  magnitudes: " + "  ".join(f"{k}={m[k]:.3f}" for k in ("U", "B", "V", "R", "B-V", "M_B") if k in m))
    e = r.last_emission
    if e is not None:
        tot = e.energy.sum()
        print("  strongest last-emission lines of the final run (rest-frame wavelengths, air above 2000 A):")
        s = e.strongest(8)
        for k in range(len(s.energy)):
            print(f"    {s.element[k]:>2s} {s.stage[k]:<4s} {s.wavelength[k]:9.1f} A"
                  f"  {100 * s.energy[k] / tot:5.1f} % of the line emission")
    return []


def cmd_fit(argv):
    import importlib.util
    if importlib.util.find_spec(__package__ + ".fit") is None:
        print("mcspec: the fitting module (python/mcspec/fit) is not part of this checkout", file=sys.stderr)
        return 2
    from . import fit  # another part of the package; imported only when asked for
    return fit.main(argv)


def main(argv=None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if argv and argv[0] == "fit":
        return int(cmd_fit(argv[1:]) or 0)
    ap = argparse.ArgumentParser(prog="python3 -m mcspec", description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    sub = ap.add_subparsers(dest="command", required=True)
    for name, fn in (("plot", cmd_plot), ("spectrum", cmd_spectrum), ("report", cmd_report)):
        p = sub.add_parser(name)
        _common(p)
        p.add_argument("--observed", required=False,
                       help="observed spectrum: wavelength (A, rest frame, air), F_lambda at Earth[, error]")
        p.add_argument("--observed-label", help="legend label of the observed spectrum")
        p.add_argument("--no-markers", action="store_true", help="no feature markers")
        if name != "spectrum":
            p.add_argument("--top", type=int, default=8, help="ions named in the ions plot")
        p.set_defaults(fn=fn)
    p = sub.add_parser("temperature")
    _common(p)
    p.set_defaults(fn=cmd_temperature)
    p = sub.add_parser("ions")
    _common(p)
    p.add_argument("--top", type=int, default=8, help="ions named (default 8)")
    p.add_argument("--rebin", type=int, default=5, help="bins averaged together (default 5; 1: none)")
    p.set_defaults(fn=cmd_ions)
    p = sub.add_parser("summary")
    _common(p, out=False)
    p.set_defaults(fn=cmd_summary)
    sub.add_parser("fit", help="spectrum fitting (see python3 -m mcspec fit --help)")
    args = ap.parse_args(argv)
    from .errors import McspecError
    try:
        written = args.fn(args)
    except (McspecError, OSError) as e:
        print(f"mcspec: {e}", file=sys.stderr)
        return 1
    except ValueError as e:   # an argument the plotting refuses (e.g. an unknown format)
        print(f"mcspec: {e}", file=sys.stderr)
        return 2
    for w in written or []:
        print(f"wrote {w}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
